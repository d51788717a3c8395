// What the end-to-end tests run, and one run of it against the scripted fake.
#ifndef QUILLTERM_TESTS_SUPPORT_TARGET_H
#define QUILLTERM_TESTS_SUPPORT_TARGET_H

#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/model.h"

// By default the programs built beside the tests; the build may name others, those of another
// Windows toolchain, in the test program's arguments (main in target.cpp says which).
struct Target {
  std::vector<std::string> emulator;  // a command that they run through, with its options (valgrind's)
  std::string fake, program;          // program: empty when it is linked to a vendor library
  bool tiesAway = false;              // its printf rounds exact halves away from zero (wine's ucrtbase)

  std::vector<std::string> Command(const std::string& path, const std::vector<std::string>& args = {}) const;
  // Windows writes its line ends as CR LF.
  std::string Lines(const std::string& text) const;
};

extern Target target;

// The program against the fake, with the fake's record of the calls it got: what a Child is
// started from.
struct FakeRun : Launch {
  explicit FakeRun(const std::string& script, bool terminal = false, const std::vector<std::string>& args = {});
  ~FakeRun();
  FakeRun(const FakeRun&) = delete;
  FakeRun& operator=(const FakeRun&) = delete;

  // Writes a file that holds `bytes` for input, and returns its path.
  std::string InputFile(const std::string& bytes) const;
  std::vector<std::string> Calls() const;

  const std::string log = TemporaryFile("quillterm-calls");
};

#endif
