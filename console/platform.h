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

// Called at Ctrl-C, and at what else ends a session: SIGTERM and SIGHUP on POSIX (one that
// the program was started with ignored, as by nohup, stays ignored), Ctrl-Break and the
// console's closing on Windows; each is taken as an interrupt.
using InterruptHandler = void (*)(int);
void InstallInterruptHandler(InterruptHandler handler);

// Around the main thread's vendor calls on POSIX: an interrupt would cut short a system call
// of the library's (a sleep, a driver's read) and leave that call failed, so it is held back
// until TakeInterrupts. On Windows the handler has a thread of its own, and these are nothing.
#if defined(_WIN32) && !defined(QUILLTERM_INTERRUPT_POINTS)
inline void HoldInterrupts() {}
inline void TakeInterrupts() {}
#else
void HoldInterrupts();
void TakeInterrupts();
#endif

// Safe in the interrupt handler from here on. Both return what read and write return:
// the count, 0 at end of input, or -1 with errno set (EINTR where an interrupt cut the
// call short, its handler perhaps still to come).
long ReadInput(int fd, void* data, std::size_t size);
long WriteOutput(const void* data, std::size_t size);
[[noreturn]] void Park();
[[noreturn]] void Exit(int status);

// A point at which an interrupt can change the outcome: every access of the main loop and
// the handler to what they share. Built with QUILLTERM_INTERRUPT_POINTS, it is defined
// elsewhere, by a simulated system that can land an interrupt at each such point in turn;
// in the program's own builds it is nothing.
#ifdef QUILLTERM_INTERRUPT_POINTS
void InterruptPoint();
#else
inline void InterruptPoint() {}
#endif

}  // namespace platform

#endif
