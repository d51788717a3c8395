// What the end-to-end tests run, and one run of it against the scripted fake.
#ifndef QUILLTERM_TESTS_TARGET_H
#define QUILLTERM_TESTS_TARGET_H

#include <string>
#include <vector>

#include "tests/child.h"

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

// The dialogue, with LF line ends, and the fake's identification by default.
const std::string kMenu =
    "Please enter a command\n(1) Read in All Analog Inputs\n(2) Toggle ALL DIO LOW\n"
    "(3) Toggle ALL DIO HIGH\n(4) Read all DIO\nWhat is your selection? ";
const std::string kPrompt = "What is your selection? ";
const std::string kBye = "Program Terminating...\n";
const std::string kIncorrect = "Incorrect input, try again, q to quit.\n\n";
inline std::string Header(const std::string& identification = "v1.2 rev 3 | ADCType A2 ") {
  return "Quillterm: Successfully Connected, Welcome to the TOLVA MMPEEAX Command Line Utility.\n"
         "Quillterm: Versalogic MMPEEAX " +
         identification + "\n";
}
// The calls of start-up, and those of a readout.
const std::vector<std::string> kStartUp = {"Open",         "GetVersion",   "GetADCType",   "Range 0x0E 8",
                                           "Range 0x4E 8", "Range 0x1E 8", "Range 0x5E 8", "Range 0x2E 8",
                                           "Range 0x6E 8", "Range 0x3E 8", "Range 0x7E 8"};
const std::vector<std::string> kAnalog = {"Analog 0x0E 1", "Analog 0x4E 1", "Analog 0x1E 1", "Analog 0x5E 1",
                                          "Analog 0x2E 1", "Analog 0x6E 1", "Analog 0x3E 1", "Analog 0x7E 1"};

// The program against the fake, with the fake's record of the calls it got.
struct FakeRun {
  explicit FakeRun(const std::string& script, bool terminal = false, std::vector<std::string> args = {});
  ~FakeRun();
  FakeRun(const FakeRun&) = delete;
  FakeRun& operator=(const FakeRun&) = delete;

  void InputFromFile(const std::string& bytes);
  std::vector<std::string> Calls() const;
  bool AwaitCalls(std::size_t count) const;
  // Lets the call that the script holds go on.
  void Release() const;

  Launch launch;
  std::string log, input;
};

#endif
