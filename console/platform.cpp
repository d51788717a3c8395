#include "console/platform.h"

#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

ClosedStreams PrepareStandardStreams() {
  _setmode(0, _O_TEXT);  // a console line ends in CR LF; text mode hands over LF alone
  _setmode(1, _O_TEXT);
  return ClosedStreams{};
}

// The console calls this on a thread of its own at each Ctrl-C. It stays in place, where
// signal()'s runtime would set the action back to the default before each call: a second
// Ctrl-C that came before the handler set itself again would meet the default, which ends
// the process at once, with no last line and perhaps a selection half done.
InterruptHandler interruptHandler = nullptr;
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  interruptHandler(SIGINT);
  return TRUE;
}

void InstallInterruptHandler(InterruptHandler handler) {
  interruptHandler = handler;
  (void)SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

long ReadInput(int fd, void* data, std::size_t size) { return _read(fd, data, static_cast<unsigned>(size)); }
long WriteOutput(const void* data, std::size_t size) { return _write(1, data, static_cast<unsigned>(size)); }

// Ctrl-C at a console also ends the read in progress, and the handler, on a thread of its
// own, may not have been called yet: give it a moment before taking the read as failed.
void AwaitInterruptAfterFailedRead() {
  if (_isatty(0)) Sleep(50);
}

// The runtime's interrupt thread may still be winding down; a process ended under it has
// been seen (under wine) to die by a kill instead of exiting with its status.
void SettleAfterInterrupt() { Sleep(20); }

void Park() {
  for (;;) Sleep(INFINITE);
}

void Exit(int status) { _exit(status); }

#else

ClosedStreams PrepareStandardStreams() {
  ClosedStreams closed;
  // A closed one is given /dev/null at once, so that no file the vendor library opens can
  // take its number and be read as selections or written over with output; it still
  // counts as failed.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) continue;
    if (fd == 0) closed.input = true;
    if (fd == 1) closed.output = true;
  }
  // A reader that goes away shows as a failed write, handled between commands, instead
  // of a silent kill in the middle of one.
  (void)signal(SIGPIPE, SIG_IGN);
  return closed;
}

const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
sigset_t interruptSignals;

// No SA_RESTART: a second interrupt must make a write blocked on a full pipe return early.
// Each blocks all three while it runs, so that the handler is never entered twice at once.
void InstallInterruptHandler(InterruptHandler handler) {
  sigemptyset(&interruptSignals);
  for (int signal : kInterrupts) sigaddset(&interruptSignals, signal);
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_mask = interruptSignals;
  action.sa_flags = 0;
  for (int signal : kInterrupts) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

void HoldInterrupts() { pthread_sigmask(SIG_BLOCK, &interruptSignals, nullptr); }
void TakeInterrupts() { pthread_sigmask(SIG_UNBLOCK, &interruptSignals, nullptr); }

long ReadInput(int fd, void* data, std::size_t size) { return static_cast<long>(read(fd, data, size)); }
long WriteOutput(const void* data, std::size_t size) { return static_cast<long>(write(STDOUT_FILENO, data, size)); }
void AwaitInterruptAfterFailedRead() {}
void SettleAfterInterrupt() {}

void Park() {
  for (;;) pause();
}

void Exit(int status) { _exit(status); }

#endif

}  // namespace platform
