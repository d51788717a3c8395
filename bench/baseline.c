/* The limit for this job: the same bytes for the same input as quillterm, from the same
 * vendor calls, with the fewest system calls: input read a page at a time, and all the
 * output for it written in one write just before the next read. No interrupt handling,
 * no guards: only what the job itself needs. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "module/vl_osalib.h"

static const char kMenu[] =
    "Please enter a command\n(1) Read in All Analog Inputs\n(2) Toggle ALL DIO LOW\n"
    "(3) Toggle ALL DIO HIGH\n(4) Read all DIO\nWhat is your selection? ";
static const unsigned char kCodes[8] = {0x0E, 0x4E, 0x1E, 0x5E, 0x2E, 0x6E, 0x3E, 0x7E};

/* Room for the output of a full page of the longest selections. */
static char out[4096 * 512 + 1024];
static size_t length;

static void Put(const char* text, size_t size) {
  memcpy(out + length, text, size);
  length += size;
}

static void Flush(void) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = write(1, out + done, length - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  length = 0;
}

static void Finish(int status) {
  Put("Program Terminating...\n", 23);
  Flush();
  _exit(status);
}

int main(void) {
  if (VSL_Open() != 0) {
    static const char failed[] = "Quillterm: Failed to connect to VersalogicMMPEEAX Analog Input Module\n";
    Put(failed, sizeof failed - 1);
    Flush();
    return -1;
  }
  unsigned char major = 0, minor = 0, revision = 0;
  VSL_GetVersion(&major, &minor, &revision);
  const int type = VSL_GetADCType() & 0xFF;
  length += (size_t)sprintf(out + length,
                            "Quillterm: Successfully Connected, Welcome to the TOLVA MMPEEAX Command Line Utility.\n"
                            "Quillterm: Versalogic MMPEEAX v%d.%d rev %d | ADCType A%d \n",
                            major, minor, revision, type == 1 || type == 2 ? type : 0);
  for (int i = 0; i < 8; ++i) VSL_ADCSetAnalogInputRange(kCodes[i], 8);

  static unsigned char in[4096];
  ssize_t have = 0, next = 0;
  int failedBefore = 0;
  for (;;) {
    Put(kMenu, sizeof kMenu - 1);
    if (next == have) {
      Flush();
      have = read(0, in, sizeof in);
      next = 0;
      if (have <= 0) {
        const int status = have == 0 ? 0 : 1;
        have = 0;
        if (failedBefore) Finish(status);
        failedBefore = 1;
        Put("Incorrect input, try again, q to quit.\n\n", 40);
        continue;
      }
    }
    failedBefore = 0;
    const unsigned char c = in[next++];
    if (c == 'q') Finish(0);
    if (c == '1') {
      double v[8];
      for (int i = 0; i < 8; ++i) v[i] = VSL_ADCGetAnalogInput(kCodes[i], 1);
      length += (size_t)sprintf(out + length, "AIN VALUES: %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f\n",
                                v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
    } else if (c >= '2' && c <= '4') {
      for (unsigned char i = 0; i < 3; ++i) VSL_DIOSetChannelDirection(i, c == '4');
      for (unsigned char i = 0; i < 3; ++i) {
        if (c == '4') {
          length += (size_t)sprintf(out + length, "CHANNEL_%d LEVEL 0x%02X\n", i + 1, VSL_DIOGetChannelLevel(i) & 0xFF);
        } else {
          VSL_DIOSetChannelLevel(i, c == '3');
        }
      }
    }
  }
}
