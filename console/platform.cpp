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
  _setmode(0, _O_TEXT);  // redirected input: CR LF comes as LF alone (a console's: ReadInput)
  _setmode(1, _O_TEXT);
  return ClosedStreams{};
}

// The console calls this on a thread of its own at each Ctrl-C, at Ctrl-Break and when its
// window is closed; each is taken as an interrupt. It stays in place, where signal()'s
// runtime would set the action back to the default before each call: a second Ctrl-C that
// came before the handler set itself again would meet the default, which ends the process
// at once, with no last line and perhaps a selection half done. It never returns: Windows
// ends a process soon after its close handler returns, and the main thread ends it once
// its selection is done; so no handler's thread is winding down as the process ends.
InterruptHandler interruptHandler = nullptr;
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  interruptHandler(SIGINT);
  Park();
}

void InstallInterruptHandler(InterruptHandler handler) {
  interruptHandler = handler;
  (void)SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

// Ctrl-C or Ctrl-Break pressed at a console ends the line read in progress there, and
// ReadFile, so _read, reports that as end of input; the handler's thread comes later, or
// never where Ctrl-C is ignored. The console's own read tells it apart, as a read cut short
// (EINTR), and the main loop reads again. What text mode did is done here: the console's
// CR LF comes as one LF (a line longer than the buffer may leave the CR at the end of one
// read, the LF for the next), and a line is cut at a Ctrl-Z, which at its start is end of
// input. Redirected input is read as ever.
long ReadInput(int fd, void* data, std::size_t size) {
  const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return _read(fd, data, static_cast<unsigned>(size));
  char* const text = static_cast<char*>(data);
  DWORD got = MAXDWORD;  // no read gives this; one that Ctrl-C ends gives 0
  SetLastError(ERROR_SUCCESS);
  if (!ReadConsoleA(console, text, static_cast<DWORD>(size), &got, nullptr) || got > size) {
    errno = EIO;
    return -1;
  }
  if (got == 0 && GetLastError() == ERROR_OPERATION_ABORTED) {
    errno = EINTR;
    return -1;
  }
  long kept = 0;
  for (DWORD i = 0; i < got && text[i] != '\x1a'; ++i)
    if (text[i] != '\r' || (i + 1 < got && text[i + 1] != '\n')) text[kept++] = text[i];
  return kept;
}

long WriteOutput(const void* data, std::size_t size) { return _write(1, data, static_cast<unsigned>(size)); }

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

void Park() {
  for (;;) pause();
}

void Exit(int status) { _exit(status); }

#endif

}  // namespace platform
