// Runs a program as a child process, through pipes or on a pseudo-terminal, with a
// deadline on everything; the child is always reaped, killed first if need be.
#ifndef QUILLTERM_TESTS_CHILD_H
#define QUILLTERM_TESTS_CHILD_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct Launch {
  std::vector<std::string> argv;         // argv[0] is the program
  std::vector<std::string> environment;  // added to this process's own
  std::string stdinPath;                 // read standard input from here instead of a pipe
  std::string stdoutPath;                // write standard output here instead of a pipe
  // Either path may be kClosed, to start the child with that stream closed.
  bool terminal = false;  // run on a pseudo-terminal
};

const char* const kClosed = "<closed>";
const char* const kPackets = "<packets>";
// POSIX only: standard output a pipe already full when the child starts, so that its first
// write blocks; standard input a socket that the test closes with a byte of the child's
// unread, so that the child's first read fails with ECONNRESET and the next one ends.
const char* const kFullPipe = "<full pipe>";
const char* const kResetSocket = "<reset socket>";

// Every time limit below is multiplied by QUILLTERM_E2E_SLOWNESS (default 1), which the
// build sets for a program run under valgrind, the sanitizers or wine.
int Scaled(int milliseconds);

class Child {
 public:
  explicit Child(const Launch& launch);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Send(const std::string& bytes);
  void CloseInput();
  void CloseOutput();
  void Signal(int signal) const;
  // Reads until the output holds `needle` `count` times; false on timeout or end of output.
  bool WaitFor(const std::string& needle, int count = 1, int timeoutMs = 5000);
  bool Exited(int timeoutMs);
  // Whether a thread of the child is asleep in a write to a full pipe, within the time given.
  bool BlockedWriting(int timeoutMs);
  // Closes input, reads all output and reaps: the exit status, 128 + signal if killed by one,
  // or -1 if it had to be killed at the deadline.
  int Finish(int timeoutMs = 30000);

  std::string out;
  std::string err;
  std::vector<std::size_t> writes;  // the size of each message, with kPackets

 private:
  bool Pump(int timeoutMs);
  bool ExitedBy(std::chrono::steady_clock::time_point deadline);
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  int status_ = -1;
  bool packets_ = false;
};

// Runs to the end with `input` on standard input.
int RunToEnd(const Launch& launch, const std::string& input, std::string* out, std::string* err);

#endif
