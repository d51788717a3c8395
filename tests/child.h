// Runs a program as a child process, through pipes or on a pseudo-terminal, with a
// deadline on everything; the child is always reaped, killed first if need be.
#ifndef QUILLTERM_TESTS_CHILD_H
#define QUILLTERM_TESTS_CHILD_H

#include <sys/types.h>

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
  // Closes input, reads all output and reaps: the exit status, 128 + signal if killed by one,
  // or -1 if it had to be killed at the deadline.
  int Finish(int timeoutMs = 10000);

  std::string out;
  std::string err;

 private:
  bool Pump(int timeoutMs);
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  int status_ = -1;
};

// Runs to the end with `input` on standard input.
int RunToEnd(const Launch& launch, const std::string& input, std::string* out, std::string* err);

#endif
