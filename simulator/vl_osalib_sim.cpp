// A simulated MMPEEAX module behind the vendor library's nine functions, so that the
// program builds, runs and is tested without the hardware.
//
// It is strict on purpose: a call outside the library's contract changes nothing,
// returns a failure value (-1, or NaN for a reading) and says so on standard error, so
// that a caller's mistake shows instead of passing unnoticed.
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "module/compiler.h"
#include "module/vl_osalib.h"

namespace {

const unsigned char kVersion[3] = {2, 1, 5};
const int kAdcType = 1;
const unsigned char kRangeCode = 8;  // +/-10 V
const unsigned char kReadMode = 1;

// An output drives its line with its latch. An input leaves its line where it was last
// driven (the lines have bus keepers), and a line never driven is pulled high.
struct DigitalChannel {
  unsigned char direction = 1;
  unsigned char latch = 0;
  unsigned char line = 1;
};

struct Module {
  bool open = false;
  std::chrono::steady_clock::time_point openedAt;
  bool rangeSet[8] = {};
  DigitalChannel digital[3];
};
Module module;

int Reject(const char* format, ...) QUILLTERM_PRINTF_FORMAT(1, 2);
int Reject(const char* format, ...) {
  char call[128];
  va_list arguments;
  va_start(arguments, format);
  (void)std::vsnprintf(call, sizeof call, format, arguments);
  va_end(arguments);
  (void)std::fprintf(stderr, "VL_OSALib simulator: rejected %s\n", call);
  return -1;
}

// Analog inputs are named 16 * n + 14 for n = 0 to 7; returns n, or -1.
int AnalogInput(unsigned char code) { return (code & 0x8F) == 0x0E ? code >> 4 : -1; }

// Input n is a sine of its own amplitude, period and phase, all within +/-10 V.
double Waveform(int n, double seconds) {
  const double amplitude = 2.0 + n;
  const double period = 5.0 + 3.0 * n;
  return amplitude * std::sin(6.283185307179586 * seconds / period + 0.7 * n);
}

}  // namespace

extern "C" {

int VSL_CALL VSL_Open(void) {
  if (module.open) return Reject("VSL_Open: already open");
  module = Module{};
  module.open = true;
  module.openedAt = std::chrono::steady_clock::now();
  // Said where no script reads the dialogue, so that its readings never pass for a module's.
  (void)std::fputs("VL_OSALib simulator: this is a simulated module; its readings are generated\n", stderr);
  return 0;
}

int VSL_CALL VSL_Close(void) {
  if (!module.open) return Reject("VSL_Close: not open");
  module.open = false;
  return 0;
}

int VSL_CALL VSL_GetVersion(unsigned char* major, unsigned char* minor, unsigned char* revision) {
  if (!module.open) return Reject("VSL_GetVersion: not open");
  if (major == nullptr || minor == nullptr || revision == nullptr) {
    return Reject("VSL_GetVersion: null output");
  }
  *major = kVersion[0];
  *minor = kVersion[1];
  *revision = kVersion[2];
  return 0;
}

int VSL_CALL VSL_GetADCType(void) {
  if (!module.open) return Reject("VSL_GetADCType: not open");
  return kAdcType;
}

int VSL_CALL VSL_ADCSetAnalogInputRange(unsigned char channel, unsigned char range) {
  const int n = AnalogInput(channel);
  if (!module.open || n < 0 || range != kRangeCode) {
    return Reject("VSL_ADCSetAnalogInputRange(0x%02X, %u)%s", channel, range, module.open ? "" : ": not open");
  }
  module.rangeSet[n] = true;
  return 0;
}

VSL_AnalogReading VSL_CALL VSL_ADCGetAnalogInput(unsigned char channel, unsigned char mode) {
  const int n = AnalogInput(channel);
  if (!module.open || n < 0 || mode != kReadMode || !module.rangeSet[n]) {
    Reject("VSL_ADCGetAnalogInput(0x%02X, %u)%s", channel, mode,
           !module.open                      ? ": not open"
           : (n >= 0 && !module.rangeSet[n]) ? ": range not set"
                                             : "");
    return std::numeric_limits<VSL_AnalogReading>::quiet_NaN();
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - module.openedAt;
  return static_cast<VSL_AnalogReading>(Waveform(n, elapsed.count()));
}

int VSL_CALL VSL_DIOSetChannelDirection(unsigned char channel, unsigned char direction) {
  if (!module.open || channel > 2 || direction > 1) {
    return Reject("VSL_DIOSetChannelDirection(%u, %u)%s", channel, direction, module.open ? "" : ": not open");
  }
  DigitalChannel& digital = module.digital[channel];
  digital.direction = direction;
  if (direction == 0) digital.line = digital.latch;
  return 0;
}

int VSL_CALL VSL_DIOSetChannelLevel(unsigned char channel, unsigned char level) {
  if (!module.open || channel > 2 || level > 1) {
    return Reject("VSL_DIOSetChannelLevel(%u, %u)%s", channel, level, module.open ? "" : ": not open");
  }
  DigitalChannel& digital = module.digital[channel];
  digital.latch = level;
  if (digital.direction == 0) digital.line = level;
  return 0;
}

int VSL_CALL VSL_DIOGetChannelLevel(unsigned char channel) {
  if (!module.open || channel > 2) {
    return Reject("VSL_DIOGetChannelLevel(%u)%s", channel, module.open ? "" : ": not open");
  }
  return module.digital[channel].line;
}

}  // extern "C"
