// Runs a program as a child process, through pipes or at a terminal, with a deadline on
// everything; the child is always reaped, killed first if need be. One interface for both
// platforms: child.cpp holds what they share, child_posix.cpp and child_windows.cpp how
// each starts, feeds, reads, interrupts and reaps a child.
#ifndef QUILLTERM_TESTS_SUPPORT_CHILD_H
#define QUILLTERM_TESTS_SUPPORT_CHILD_H

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct Launch {
  // argv[0] is the program; the environment is added to this process's own.
  std::vector<std::string> argv{}, environment{};
  // Standard input read from, and standard output written to, these instead of pipes.
  std::string stdinPath{}, stdoutPath{};
  // Either path may be kClosed, to start the child with that stream closed.
  // At a terminal: a pseudo-terminal on POSIX; on Windows, input at this process's console
  // (typed there by Send) and output through a pipe.
  bool terminal = false;
  // Windows: standard output a pipe that holds only a few kilobytes, so that a larger write
  // waits there until it is read.
  bool smallPipe = false;
};

const char* const kClosed = "<closed>";
const char* const kPackets = "<packets>";  // POSIX only: each write arrives as a message of its own
// POSIX only: standard output a pipe already full when the child starts, so that its first
// write blocks; standard input a socket that the test closes with a byte of the child's
// unread, so that the child's first read fails with ECONNRESET and the next one ends.
const char* const kFullPipe = "<full pipe>";
const char* const kResetSocket = "<reset socket>";
// The tests and the programs they run are Windows programs.
#ifdef _WIN32
const bool kWindows = true;
#else
const bool kWindows = false;
#endif
const char* const kNullDevice = kWindows ? "NUL" : "/dev/null";
// Windows' Ctrl-Break, as its runtime numbers it (SIGBREAK); POSIX has none.
const int kCtrlBreak = 21;
// What Finish returns for a child that had to be killed at the deadline: no exit status
// on either platform.
const int kKilled = -1000000;

// Every time limit below is multiplied by `slowness` (default 1), which the build gives a
// test program that runs its children under valgrind, the sanitizers or wine.
extern int slowness;
int Scaled(int milliseconds);
void Pause(int milliseconds);
// A new empty file of the test's own, in the platform's folder for them.
std::string TemporaryFile(const char* prefix);

class Child {
 public:
  explicit Child(const Launch& launch);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // At a terminal, as typed there; Ctrl-C among them interrupts.
  void Send(const std::string& bytes);
  void CloseInput();
  void CloseOutput();
  // The signal (SIGINT, or on POSIX another by kill's number), or Windows' Ctrl-C event
  // (Ctrl-Break's for kCtrlBreak); false if unsent. On POSIX it returns once the child has
  // taken the signal (so that a second one is counted apart) or holds it blocked; on Windows
  // the child's handler runs on a thread of its own a moment later.
  bool Interrupt(int signal = SIGINT);
  // Reads until the output holds `needle` `count` times; false on timeout or end of output.
  bool WaitFor(const std::string& needle, int count = 1, int timeoutMs = 5000);
  bool Exited(int timeoutMs);
  // Whether the child is held in a write to a full pipe that this side has not read, within
  // the time given: the kernel's word for it on Linux (or for the wait `kernelWait`), the
  // pipe's fill on Windows.
  bool BlockedWriting(int timeoutMs, const char* kernelWait = "pipe_write");
  // Closes input, reads all output and reaps: the exit status (128 + signal if killed by
  // one on POSIX), or kKilled if it had to be killed at the deadline.
  int Finish(int timeoutMs = 30000);

  std::string out, err;
  std::vector<std::size_t> writes;  // the size of each message, with kPackets

 private:
  using Clock = std::chrono::steady_clock;
  // Tries `done` until it holds or the milliseconds given have passed, pausing a moment
  // between tries.
  static bool Within(int milliseconds, const std::function<bool()>& done);
  // Reads output until `done`, told whether any output is still open, holds or the time
  // given (scaled) has passed.
  bool Pumping(int timeoutMs, const std::function<bool(bool open)>& done);
  // Reads what comes within the time given; false once all output has ended.
  bool Pump(int timeoutMs);
  // Whether the child has ended, without waiting; if so, status_ holds its status.
  bool Reap();
  void Kill();
  std::optional<int> status_;  // once reaped
#ifdef _WIN32
  void *process_ = nullptr, *input_ = nullptr, *output_ = nullptr, *errors_ = nullptr;
  bool console_ = false;
#else
  pid_t pid_ = -1;
  int input_ = -1, output_ = -1, errors_ = -1;
  bool packets_ = false;
#endif
};

// How many children that could not be started were started once more; on Windows, each
// test program says at its end.
extern int startsRetried;

// Runs to the end with `input` on standard input: Finish's status, and the output.
struct Ran {
  int status;
  std::string out, err;
};
Ran RunToEnd(const Launch& launch, const std::string& input);

#endif
