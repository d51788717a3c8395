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

// Safe in the interrupt handler from here on. Both return what read and write return:
// the count, 0 at end of input, or -1 with errno set (EINTR where an interrupt cut the
// call short, its handler perhaps still to come).
long ReadInput(int fd, void* data, std::size_t size);
long WriteOutput(const void* data, std::size_t size);
[[noreturn]] void Park();
[[noreturn]] void Exit(int status);

// A point at which an interrupt can change the outcome: every access of the main loop and
// the handler to what they share. Built for the interrupt moments test
// (QUILLTERM_INTERRUPT_POINTS), it hands control to the test, which lands an interrupt at
// each such point in turn; in the program's own builds it is nothing.
#ifdef QUILLTERM_INTERRUPT_POINTS
void InterruptPoint();
#else
inline void InterruptPoint() {}
#endif

}  // namespace platform

#endif
