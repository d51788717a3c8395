// The dialogue as documented, and a model of it: what the program prints and calls for a
// session, written from the documented behaviour of the program and the fake, not from the
// program's code. The end-to-end tests hold the program to it as a child process; the
// interrupt moments test holds the program's own loop to it in place.
#ifndef QUILLTERM_TESTS_SUPPORT_MODEL_H
#define QUILLTERM_TESTS_SUPPORT_MODEL_H

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/fake_vendor.h"

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
// The calls of start-up, and those that each selection makes, '1' to '4' (any other key
// makes none): the one table of them that the model, the tests and the fuzzer share.
const std::vector<std::string> kStartUp = {"Open",         "GetVersion",   "GetADCType",   "Range 0x0E 8",
                                           "Range 0x4E 8", "Range 0x1E 8", "Range 0x5E 8", "Range 0x2E 8",
                                           "Range 0x6E 8", "Range 0x3E 8", "Range 0x7E 8"};
inline const std::vector<std::string>& CallsOf(char selection) {
  static const std::vector<std::string> table[] = {
      {},
      {"Analog 0x0E 1", "Analog 0x4E 1", "Analog 0x1E 1", "Analog 0x5E 1", "Analog 0x2E 1", "Analog 0x6E 1",
       "Analog 0x3E 1", "Analog 0x7E 1"},
      {"Direction 0 0", "Direction 1 0", "Direction 2 0", "Level 0 0", "Level 1 0", "Level 2 0"},
      {"Direction 0 0", "Direction 1 0", "Direction 2 0", "Level 0 1", "Level 1 1", "Level 2 1"},
      {"Direction 0 1", "Direction 1 1", "Direction 2 1", "GetLevel 0", "GetLevel 1", "GetLevel 2"}};
  return table[selection >= '1' && selection <= '4' ? selection - '0' : 0];
}
// Start-up's calls, then those of each key of `keys` in turn.
inline std::vector<std::string> CallsFor(const std::string& keys) {
  std::vector<std::string> calls = kStartUp;
  for (char key : keys) calls.insert(calls.end(), CallsOf(key).begin(), CallsOf(key).end());
  return calls;
}

// What the fake vendor answers, and what the program reads.
struct Session {
  fake::Script vendor;
  std::string input;
  bool inputFails = false;   // once the input is used up, reads fail instead of ending
  bool outputFails = false;  // nothing can be written

  std::string Script() const;  // `vendor`, as the fake takes it from QUILLTERM_FAKE
};

// Where the output and the calls stand as a turn of the menu loop begins (before its menu),
// how many reads the program has made by then, and whether the turn reads before it takes
// its selection. The last one is where they stand when the program ends of its own accord,
// before the last line.
struct Turn {
  std::size_t out, calls, reads;
  bool readsFirst;
};

struct Prediction {
  std::string out;
  int status = 0;
  std::vector<std::string> calls;
  std::vector<std::size_t> outAtCall;  // how much had been printed when each call was made
  std::vector<Turn> turns;
};

// How the program under test sees its input and prints: on Windows in text mode (CR LF
// arrives as LF, Ctrl-Z ends the input, exit(-1) is seen whole), with exact halves rounded
// away from zero by some runtimes (wine's ucrtbase), and reading `block` bytes at a time.
struct Conventions {
  bool windows = false, tiesAway = false;
  std::size_t block = 256;
};

// For a session whose input is not interrupted.
Prediction Predict(const Session& session, const Conventions& conventions);
// How many readings so far lay exactly halfway between two outputs of %5.2f.
int TiesMet();

#endif
