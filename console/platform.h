// The few services of the operating system that the console needs, the POSIX and the
// Windows ones side by side in platform.cpp, so that a port touches that file alone.
#ifndef QUILLTERM_CONSOLE_PLATFORM_H
#define QUILLTERM_CONSOLE_PLATFORM_H

#include <cstddef>

namespace platform {

// Which of standard input and output the program was started with closed.
struct ClosedStreams {
  bool input = false;
  bool output = false;
};

// Once, at start: the standard streams made safe to use; see platform.cpp.
ClosedStreams PrepareStandardStreams();

using InterruptHandler = void (*)(int);
void InstallInterruptHandler(InterruptHandler handler);

// True where the handler runs on a thread of its own (Windows), beside the main thread,
// rather than in place of it; such a handler cannot make a write in progress return early.
extern const bool kInterruptOnOwnThread;
// For the handler itself, first thing: Windows resets it before each call.
void RearmInterruptHandler(InterruptHandler handler);

// Safe in the interrupt handler from here on. Both return what read and write return:
// the count, 0 at end of input, or -1 with errno set.
long ReadInput(int fd, void* data, std::size_t size);
long WriteOutput(const void* data, std::size_t size);
// After a failed read: lets an interrupt that ended the read be counted first.
void AwaitInterruptAfterFailedRead();
// Before the main thread ends the process after an interrupt.
void SettleAfterInterrupt();
[[noreturn]] void Park();
[[noreturn]] void Exit(int status);

}  // namespace platform

#endif
