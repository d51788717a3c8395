// What the end-to-end tests run, and one run of it against the scripted fake.
#ifndef QUILLTERM_TESTS_SUPPORT_TARGET_H
#define QUILLTERM_TESTS_SUPPORT_TARGET_H

#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/model.h"

// By default the programs built beside the tests; others (those of another Windows
// toolchain) are named by QUILLTERM_E2E_FAKE and QUILLTERM_E2E_PROGRAM. QUILLTERM_E2E_EMULATOR
// runs them through a command, which may have options, such as valgrind's.
struct Target {
  std::string emulator, fake;
  std::string program;    // empty when the program is linked to a vendor library
  bool windows = false;   // the tests and the program are Windows programs
  bool tiesAway = false;  // its printf rounds exact halves away from zero (wine's ucrtbase)

  static const Target& Get();
  std::vector<std::string> Command(const std::string& path) const;
  // Windows writes its line ends as CR LF.
  std::string Lines(const std::string& text) const;
};

inline const Target& target = Target::Get();

// The program against the fake, with the fake's record of the calls it got.
struct FakeRun {
  explicit FakeRun(const std::string& script, bool terminal = false, std::vector<std::string> args = {});
  ~FakeRun();
  FakeRun(const FakeRun&) = delete;
  FakeRun& operator=(const FakeRun&) = delete;

  void InputFromFile(const std::string& bytes);
  std::vector<std::string> Calls() const;

  Launch launch;
  std::string log, input;
};

#endif
