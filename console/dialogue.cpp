// The menu loop, its commands, and the interrupt protocol around them.
//
// Output is collected in a buffer of our own rather than in stdio: the interrupt handler
// must be able to write out what is pending and end the process, and stdio's state is not
// safe to touch from a handler. The buffer goes out in one write just before the program
// waits for input, so the prompt is always visible and a long piped script costs about
// one write per wait.
#include "console/dialogue.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console/platform.h"
#include "module/compiler.h"
#include "module/mmpeeax_module.h"

namespace dialogue {
namespace {

const char* const ProgramName = "Quillterm";

const char kMenu[] =
    "Please enter a command\n(1) Read in All Analog Inputs\n(2) Toggle ALL DIO LOW\n"
    "(3) Toggle ALL DIO HIGH\n(4) Read all DIO\nWhat is your selection? ";
const char kTerminationLine[] = "Program Terminating...\n";

// A value that the interrupt handler shares with the main loop. Each access is a point at
// which an interrupt can change the outcome (see platform::InterruptPoint).
template <typename T>
class SharedValue {
 public:
  static_assert(std::atomic<T>::is_always_lock_free, "the interrupt handler needs lock-free atomics");
  explicit SharedValue(T initial) : value_(initial) {}
  T load() {
    platform::InterruptPoint();
    return value_.load();
  }
  void store(T value) {
    platform::InterruptPoint();
    value_.store(value);
  }
  T fetch_add(T value) {
    platform::InterruptPoint();
    return value_.fetch_add(value);
  }
  bool compare_exchange_strong(T& expected, T desired) {
    platform::InterruptPoint();
    return value_.compare_exchange_strong(expected, desired);
  }

 private:
  std::atomic<T> value_;
};

// The pending output's size; a build may choose a smaller one, so that a few selections
// fill it.
#ifndef QUILLTERM_OUTPUT_BUFFER
#define QUILLTERM_OUTPUT_BUFFER (1 << 16)
#endif

// The output and the state that the interrupt handler shares with the main loop.
struct Shared {
  char out[QUILLTERM_OUTPUT_BUFFER];
  SharedValue<std::size_t> outLength{0};
  SharedValue<int> state{kWorking};
  SharedValue<int> interrupts{0};
  // Main thread only. Set once standard output has failed: later output is dropped and
  // the program ends at its next wait for input.
  bool outputFailed = false;
  bool interruptsHeld = false;  // see VendorCalls
};
Shared shared;

// Holds interrupts back while the vendor library is called (see platform::HoldInterrupts)
// and takes them once it is done, or while output is written in between: a write must stay
// open to a second interrupt.
class VendorCalls {
 public:
  VendorCalls() {
    shared.interruptsHeld = true;
    platform::HoldInterrupts();
  }
  ~VendorCalls() {
    shared.interruptsHeld = false;
    platform::TakeInterrupts();
  }
};

bool Move(int from, int to) { return shared.state.compare_exchange_strong(from, to); }

// For the main thread: a failed move means the handler is ending the program.
void Enter(int from, int to) {
  if (!Move(from, to)) platform::Park();
}

// Writes all of it unless a second interrupt cuts a write short, which asks to stop; what
// no write has tried yet is written. Safe in a signal handler.
bool WriteAll(const char* data, std::size_t size, bool stopOnSecondInterrupt) {
  for (bool cut = false; size > 0;) {
    if (cut && stopOnSecondInterrupt && shared.interrupts.load() > 1) return true;
    const long written = platform::WriteOutput(data, size);
    cut = written < 0 ? errno == EINTR : static_cast<std::size_t>(written) < size;
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Only for the side that moved the state to kTerminating. Nobody is writing the buffer
// out then, so what lies below outLength is exactly what has not gone out yet.
[[noreturn]] void Terminate(int status, bool lineInBuffer) {
  WriteAll(shared.out, shared.outLength.load(), false);
  if (!lineInBuffer) WriteAll(kTerminationLine, sizeof kTerminationLine - 1, false);
  platform::Exit(status);
}

// For the main thread as it sets out to end the program: from here on an interrupt changes
// nothing. True if one came in before, which makes the exit status 2.
bool Commit() {
  Enter(kWorking, kTerminating);
  return shared.interrupts.load() > 0;
}

// Once committed; the interrupt handler takes its own path to Terminate.
[[noreturn]] void EndCommitted(int status) {
  // The handler leaves the buffer alone from here on, so the last line can join the rest
  // and go out in the same write. (The handler itself never adds to it: on Windows the
  // main thread may be printing into it at that moment.)
  const std::size_t length = shared.outLength.load();
  const std::size_t lineLength = sizeof kTerminationLine - 1;
  const bool fits = length + lineLength <= sizeof shared.out;
  if (fits) {
    platform::InterruptPoint();
    std::memcpy(shared.out + length, kTerminationLine, lineLength);
    shared.outLength.store(length + lineLength);
  }
  Terminate(status, fits);
}

// Called from the main loop only.
[[noreturn]] void TerminateProgram(int status) { EndCommitted(Commit() ? kInterruptedStatus : status); }

extern "C" void OnInterrupt(int /*signal*/) {
  const bool again = shared.interrupts.fetch_add(1) > 0;
  if (Move(kWaiting, kTerminating) || (again && Move(kWorking, kTerminating))) Terminate(kInterruptedStatus, false);
  // Otherwise the main thread ends the program when its command is done. While it is
  // writing, a second interrupt makes the write return early on POSIX; on Windows, where the
  // handler has a thread of its own, the write goes on, and the runtime would hold back any
  // write of the handler's until it is done: there the program ends once it returns.
}

// Ends the program, status 2, if an interrupt came in while it was busy.
void HonourInterrupt() {
  if (shared.interrupts.load() > 0) TerminateProgram(kInterruptedStatus);
}

void Flush() {
  const std::size_t length = shared.outLength.load();
  if (length == 0) return;
  Enter(kWorking, kWriting);
  if (shared.interruptsHeld) platform::TakeInterrupts();
  const bool written = shared.outputFailed || WriteAll(shared.out, length, true);
  if (shared.interruptsHeld) platform::HoldInterrupts();
  shared.outLength.store(0);
  Enter(kWriting, kWorking);
  if (!written) shared.outputFailed = true;
  if (shared.interrupts.load() > 1) TerminateProgram(kInterruptedStatus);
}

void Print(const char* format, ...) QUILLTERM_PRINTF_FORMAT(1, 2);
void Print(const char* format, ...) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::size_t length = shared.outLength.load();
    const std::size_t room = sizeof shared.out - length;
    va_list arguments;
    platform::InterruptPoint();
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

void ConfigureAnalogInputs(MmpeeaxModule& module) {
  const VendorCalls calls;
  for (std::uint8_t code : MmpeeaxModule::kAnalogSlotCodes) module.ADCSetAnalogInputRange(code, 8);
}

void ReadAnalogInputs(MmpeeaxModule& module) {
  const VendorCalls calls;
  module.ReadAllAnalogInputs();
  const double* v = module.analogValues;
  Print("AIN VALUES: %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f\n", v[0], v[1], v[2], v[3], v[4], v[5],
        v[6], v[7]);
}

std::uint8_t DigitalCode(int channel) { return static_cast<std::uint8_t>(MmpeeaxModule::kFirstDigitalCode + channel); }

// Every direction is set before any channel is driven or read, so that no channel is
// driven or read while another is still changing direction.
void SetAllDirections(MmpeeaxModule& module, std::uint8_t direction) {
  for (int i = 0; i < MmpeeaxModule::kDigitalChannels; ++i) module.DIOSetChannelDirection(DigitalCode(i), direction);
}

void DriveDigitalChannels(MmpeeaxModule& module, std::uint8_t level) {
  const VendorCalls calls;
  SetAllDirections(module, 0);
  for (int i = 0; i < MmpeeaxModule::kDigitalChannels; ++i) module.DIOSetChannelLevel(DigitalCode(i), level);
}

void ReadDigitalChannels(MmpeeaxModule& module, std::uint8_t& level) {
  const VendorCalls calls;
  SetAllDirections(module, 1);
  for (int i = 0; i < MmpeeaxModule::kDigitalChannels; ++i) {
    module.DIOGetChannelLevel(DigitalCode(i), &level);
    Print("CHANNEL_%d LEVEL 0x%02X\n", i + 1, level);
  }
}

enum : int { kEndOfInput = -1, kReadError = -2 };

// Input taken a block at a time and handed out a byte at a time.
struct Input {
  int fd = 0;
  bool closed = false;  // reads as a read error
  unsigned char data[256];
  std::size_t length = 0;
  std::size_t next = 0;

  int Next() {
    if (next < length) return data[next++];
    Flush();
    if (shared.outputFailed) TerminateProgram(1);
    Enter(kWorking, kWaiting);
    if (shared.interrupts.load() > 0) {  // came in before the state said waiting
      Enter(kWaiting, kWorking);
      TerminateProgram(kInterruptedStatus);
    }
    long got;
    do {
      got = closed ? -1 : platform::ReadInput(fd, data, sizeof data);
    } while (got < 0 && errno == EINTR);
    Enter(kWaiting, kWorking);
    if (got <= 0) {
      HonourInterrupt();
      return got == 0 ? kEndOfInput : kReadError;
    }
    length = static_cast<std::size_t>(got);
    next = 1;
    return data[0];
  }
};

}  // namespace

int ServeMenu(MmpeeaxModule& module, int fd, bool inputClosed) {
  ConfigureAnalogInputs(module);
  Input input;
  input.fd = fd;
  input.closed = inputClosed;
  std::uint8_t level = 0;
  bool lastReadFailed = false;
  for (;;) {
    HonourInterrupt();
    PrintMenu();
    const int selection = input.Next();
    if (selection < 0) {
      // End of input at a terminal is not final, but a second failure in a row is: this
      // keeps exhausted redirected input from spinning.
      if (lastReadFailed) return selection == kEndOfInput ? 0 : 1;
      lastReadFailed = true;
      Print("Incorrect input, try again, q to quit.\n\n");
      continue;
    }
    lastReadFailed = false;
    switch (selection) {
      case '1':
        ReadAnalogInputs(module);
        break;
      case '2':
        DriveDigitalChannels(module, 0);
        break;
      case '3':
        DriveDigitalChannels(module, 1);
        break;
      case '4':
        ReadDigitalChannels(module, level);
        break;
      case 'q':
        return 0;
      default:
        break;
    }
  }
}

State CurrentState() { return static_cast<State>(shared.state.load()); }

void Reset() {
  shared.outLength.store(0);
  shared.state.store(kWorking);
  shared.interrupts.store(0);
  shared.outputFailed = shared.interruptsHeld = false;
}

int Run() {
  const platform::ClosedStreams closed = platform::PrepareStandardStreams();
  shared.outputFailed = closed.output;
  platform::InstallInterruptHandler(OnInterrupt);
  // Lives as long as the process; the static keeps it reachable rather than leaked. (Set
  // at each entry, for a process that runs the dialogue more than once.)
  static MmpeeaxModule* module;
  {
    const VendorCalls calls;
    module = new MmpeeaxModule();
  }
  if (!module->IsConnected()) {
    Print("%s: Failed to connect to VersalogicMMPEEAX Analog Input Module\n", ProgramName);
    Flush();
    if (Commit()) EndCommitted(kInterruptedStatus);
    return -1;
  }
  char buffer[256];
  module->GetInfoString(buffer, sizeof buffer);
  Print("%s: Successfully Connected, Welcome to the TOLVA MMPEEAX Command Line Utility.\n", ProgramName);
  Print("%s: %s\n", ProgramName, buffer);
  TerminateProgram(ServeMenu(*module, 0, closed.input));
}

}  // namespace dialogue
