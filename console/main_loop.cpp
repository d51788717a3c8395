// Entry, menu loop and commands of the console.
//
// Output is collected in a buffer of our own rather than in stdio: the interrupt handler
// must be able to write out what is pending and end the process, and stdio's state is not
// safe to touch from a handler. The buffer goes out in one write just before the program
// waits for input, so the prompt is always visible and a long piped script costs about
// one write per wait.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <unistd.h>

#include "module/mmpeeax_module.h"

namespace {

const char* const ProgramName = "Quillterm";

const char kMenu[] =
    "Please enter a command\n(1) Read in All Analog Inputs\n(2) Toggle ALL DIO LOW\n"
    "(3) Toggle ALL DIO HIGH\n(4) Read all DIO\nWhat is your selection? ";
const char kTerminating[] = "Program Terminating...\n";
const int kInterruptedStatus = 2;

// What the main thread is doing, as the interrupt handler sees it.
enum State : int {
  kWorking,  // running a command: an interrupt waits for it to finish
  kWaiting,  // blocked reading input, nothing pending: an interrupt ends the program at once
  kWriting,  // writing the buffer out: the handler must not write it too
};

// The state shared with the interrupt handler, and nothing else.
struct Shared {
  char out[1 << 16];
  std::atomic<std::size_t> outLength{0};
  std::atomic<int> state{kWorking};
  std::atomic<int> interrupts{0};
  std::atomic<bool> terminating{false};
};
Shared shared;
static_assert(std::atomic<std::size_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the interrupt handler needs lock-free atomics");

// Writes all of it unless a second interrupt asks to stop. Safe in a signal handler.
bool WriteAll(const char* data, std::size_t size, bool stopOnSecondInterrupt) {
  while (size > 0) {
    if (stopOnSecondInterrupt && shared.interrupts.load() > 1) return true;
    const ssize_t written = write(STDOUT_FILENO, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

[[noreturn]] void TerminateProgram(int status) {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  sigprocmask(SIG_BLOCK, &interrupt, nullptr);
  if (shared.terminating.exchange(true)) {
    for (;;) pause();
  }
  // Never called while the buffer is being written, so what lies below outLength is
  // exactly what has not gone out yet.
  WriteAll(shared.out, shared.outLength.load(), false);
  WriteAll(kTerminating, sizeof kTerminating - 1, false);
  _exit(status);
}

extern "C" void OnInterrupt(int) {
  const int interrupts = shared.interrupts.fetch_add(1) + 1;
  const int state = shared.state.load();
  // While writing, a second interrupt makes the write return early (no SA_RESTART) and
  // the main thread ends the program itself.
  if (state == kWaiting || (interrupts > 1 && state == kWorking)) TerminateProgram(kInterruptedStatus);
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  // A reader that goes away shows as a failed write, handled between commands, instead
  // of a silent kill in the middle of one.
  signal(SIGPIPE, SIG_IGN);
}

// Set once standard output has failed; later output is dropped and the program ends at
// its next wait for input.
bool outputFailed = false;

void Flush() {
  const std::size_t length = shared.outLength.load();
  if (length == 0) return;
  shared.state.store(kWriting);
  const bool written = outputFailed || WriteAll(shared.out, length, true);
  shared.outLength.store(0);
  shared.state.store(kWorking);
  if (!written) outputFailed = true;
  if (shared.interrupts.load() > 1) TerminateProgram(kInterruptedStatus);
}

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::size_t length = shared.outLength.load();
    const std::size_t room = sizeof shared.out - length;
    va_list arguments;
    va_start(arguments, format);
    const int added = std::vsnprintf(shared.out + length, room, format, arguments);
    va_end(arguments);
    if (added < 0) return;
    if (static_cast<std::size_t>(added) < room) {
      shared.outLength.store(length + static_cast<std::size_t>(added));
      return;
    }
    Flush();
  }
}

void PrintMenu() { Print("%s", kMenu); }

// Ends the program, status 2, if an interrupt came in while it was busy.
void HonourInterrupt() {
  if (shared.interrupts.load() > 0) TerminateProgram(kInterruptedStatus);
}

void ConfigureAnalogInputs(MmpeeaxModule& module) {
  for (std::uint8_t code : MmpeeaxModule::kAnalogSlotCodes) module.ADCSetAnalogInputRange(code, 8);
}

void ReadAnalogInputs(MmpeeaxModule& module) {
  module.ReadAllAnalogInputs();
  const double* v = module.analogValues;
  Print("AIN VALUES: %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f\n", v[0], v[1], v[2], v[3], v[4],
        v[5], v[6], v[7]);
}

// Every direction is set before any channel is driven, so no channel is driven while
// another is still changing direction.
void DriveDigitalChannels(MmpeeaxModule& module, std::uint8_t level) {
  for (int i = 0; i < MmpeeaxModule::kDigitalChannels; ++i) {
    module.DIOSetChannelDirection(static_cast<std::uint8_t>(MmpeeaxModule::kFirstDigitalCode + i), 0);
  }
  for (int i = 0; i < MmpeeaxModule::kDigitalChannels; ++i) {
    module.DIOSetChannelLevel(static_cast<std::uint8_t>(MmpeeaxModule::kFirstDigitalCode + i), level);
  }
}

void ReadDigitalChannels(MmpeeaxModule& module, std::uint8_t& level) {
  for (int i = 0; i < MmpeeaxModule::kDigitalChannels; ++i) {
    module.DIOSetChannelDirection(static_cast<std::uint8_t>(MmpeeaxModule::kFirstDigitalCode + i), 1);
  }
  for (int i = 0; i < MmpeeaxModule::kDigitalChannels; ++i) {
    module.DIOGetChannelLevel(static_cast<std::uint8_t>(MmpeeaxModule::kFirstDigitalCode + i), &level);
    Print("CHANNEL_%d LEVEL 0x%02X\n", i + 1, level);
  }
}

enum : int { kEndOfInput = -1, kReadError = -2 };

// Standard input, taken a block at a time and handed out a byte at a time.
struct Input {
  unsigned char data[256];
  std::size_t length = 0;
  std::size_t next = 0;

  int Next() {
    if (next < length) return data[next++];
    Flush();
    if (outputFailed) TerminateProgram(1);
    shared.state.store(kWaiting);
    HonourInterrupt();  // one that came in before the state said waiting
    ssize_t got;
    do {
      got = read(STDIN_FILENO, data, sizeof data);
    } while (got < 0 && errno == EINTR);
    shared.state.store(kWorking);
    if (got <= 0) return got == 0 ? kEndOfInput : kReadError;
    length = static_cast<std::size_t>(got);
    next = 1;
    return data[0];
  }
};

}  // namespace

int main(int, char**) {
  InstallInterruptHandler();
  // Lives as long as the process; the static keeps it reachable rather than leaked.
  static MmpeeaxModule* const module = new MmpeeaxModule();
  if (!module->IsConnected()) {
    Print("%s: Failed to connect to VersalogicMMPEEAX Analog Input Module\n", ProgramName);
    HonourInterrupt();
    Flush();
    return -1;
  }
  char buffer[256];
  module->GetInfoString(buffer, sizeof buffer);
  Print("%s: Successfully Connected, Welcome to the TOLVA MMPEEAX Command Line Utility.\n",
        ProgramName);
  Print("%s: %s\n", ProgramName, buffer);
  ConfigureAnalogInputs(*module);

  std::uint8_t level = 0;
  Input input;
  bool lastReadFailed = false;
  for (;;) {
    HonourInterrupt();
    PrintMenu();
    const int selection = input.Next();
    if (selection < 0) {
      // End of input at a terminal is not final, but a second failure in a row is: this
      // keeps exhausted redirected input from spinning.
      if (lastReadFailed) TerminateProgram(selection == kEndOfInput ? 0 : 1);
      lastReadFailed = true;
      Print("Incorrect input, try again, q to quit.\n\n");
      continue;
    }
    lastReadFailed = false;
    switch (selection) {
      case '1':
        ReadAnalogInputs(*module);
        break;
      case '2':
        DriveDigitalChannels(*module, 0);
        break;
      case '3':
        DriveDigitalChannels(*module, 1);
        break;
      case '4':
        ReadDigitalChannels(*module, level);
        break;
      case 'q':
        TerminateProgram(0);
      default:
        break;
    }
  }
}
