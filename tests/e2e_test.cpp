// The real entry, driven as a user or a script would drive it, against the scripted fake
// vendor (and the simulated module); the fake's call log shows what the hardware saw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/target.h"

using testing::ElementsAreArray;
using testing::EndsWith;
using testing::IsEmpty;

namespace {

const Target& target = Target::Get();

const std::string kMenu =
    "Please enter a command\n(1) Read in All Analog Inputs\n(2) Toggle ALL DIO LOW\n"
    "(3) Toggle ALL DIO HIGH\n(4) Read all DIO\nWhat is your selection? ";
const std::string kPrompt = "What is your selection? ";
const std::string kBye = "Program Terminating...\n";
const std::string kIncorrect = "Incorrect input, try again, q to quit.\n\n";

std::string Header(const std::string& identification = "v1.2 rev 3 | ADCType A2 ") {
  return "Quillterm: Successfully Connected, Welcome to the TOLVA MMPEEAX Command Line Utility.\n"
         "Quillterm: Versalogic MMPEEAX " +
         identification + "\n";
}

std::string Menus(int count) {
  std::string menus;
  while (count-- > 0) menus += kMenu;
  return menus;
}

const std::vector<std::string> kInputs = {"Direction 0 1", "Direction 1 1", "Direction 2 1"};
const std::vector<std::string> kReadLevels = {"GetLevel 0", "GetLevel 1", "GetLevel 2"};
const std::vector<std::string> kOutputs = {"Direction 0 0", "Direction 1 0", "Direction 2 0"};

std::vector<std::string> Levels(int level) {
  std::vector<std::string> calls;
  for (int channel = 0; channel < 3; ++channel)
    calls.push_back("Level " + std::to_string(channel) + " " + std::to_string(level));
  return calls;
}

// The calls of start-up, then `more` of them in turn.
std::vector<std::string> Calls(std::initializer_list<std::vector<std::string>> more = {}) {
  std::vector<std::string> calls = {"Open",         "GetVersion",   "GetADCType",   "Range 0x0E 8",
                                    "Range 0x4E 8", "Range 0x1E 8", "Range 0x5E 8", "Range 0x2E 8",
                                    "Range 0x6E 8", "Range 0x3E 8", "Range 0x7E 8"};
  for (const auto& group : more) calls.insert(calls.end(), group.begin(), group.end());
  return calls;
}

const std::string kLow = "CHANNEL_1 LEVEL 0x00\nCHANNEL_2 LEVEL 0x00\nCHANNEL_3 LEVEL 0x00\n";

const std::vector<std::string> kAnalog = {"Analog 0x0E 1", "Analog 0x4E 1", "Analog 0x1E 1", "Analog 0x5E 1",
                                          "Analog 0x2E 1", "Analog 0x6E 1", "Analog 0x3E 1", "Analog 0x7E 1"};

// The program's output buffer, which the fill case below fills to the byte.
const std::size_t kOutputBuffer = 1 << 16;

// How a failed open ends: exit(-1), as eight bits on POSIX.
const int kFailedOpen = target.windows ? -1 : 255;

// Ordinary piped sessions are the differential test's; these are the surroundings that a
// script or an operator may put the program in, and Windows' own input conventions.
// Natively, an output left to the test is a socket that keeps each write a message of its
// own, so that the writes can be counted against the waits for input: one write before
// each wait, and one at the end.
struct Surroundings {
  const char* name;
  std::string stdinPath, stdoutPath, input;
  int arguments, status;
  std::string out;
  std::vector<std::string> calls;
  const char* onlyOnWindows = nullptr;  // or, with this reason, not on Windows
  bool windowsOnly = false;
  std::string script = "";
  int writes = -1;  // -1: not counted
  bool fillsBuffer = false;
};

std::vector<Surroundings> SurroundingsTable() {
  const std::string failedTwice = Header() + kMenu + kIncorrect + kMenu + kBye;
  // 226 readouts of 8 readings of 14 characters and 17 other selections, all in one read:
  // the menu of the 242nd would end at the very end of the buffer, 226 * (139 + 141) +
  // 16 * 141 bytes in, where there is no room left for the string's terminator.
  std::string filled = Header() + kMenu, fillInput(226, '1');
  std::vector<std::string> fillCalls = Calls();
  for (int readout = 0; readout < 226; ++readout) {
    filled +=
        "AIN VALUES: 10000000000.00, 10000000000.00, 10000000000.00, 10000000000.00, 10000000000.00, "
        "10000000000.00, 10000000000.00, 10000000000.00\n" +
        kMenu;
    fillCalls.insert(fillCalls.end(), kAnalog.begin(), kAnalog.end());
  }
  fillInput += std::string(17, 'x');
  filled += Menus(17) + kIncorrect + kMenu + kBye;
  const char* const noFullDevice = "Windows has no device that is always full";
  return {
      {"input a directory", "/", "", "", 0, 1, failedTwice, Calls(), nullptr, false, "", 3},
      {"input closed", kClosed, "", "", 0, 1, failedTwice, Calls(), nullptr, false, "", 3},
      {"input the null device", kNullDevice, "", "", 0, 0, failedTwice, Calls(), nullptr, false, "", 3},
      {"output a full device", "", "/dev/full", "4\nq", 0, 1, "", Calls(), noFullDevice},
      {"output closed", "", kClosed, "4\nq", 0, 1, "", Calls()},
      {"NUL and 0xFF", "", "", std::string("\0\xff\0", 3) + "4", 0, 0,
       Header() + Menus(4) + kLow + kMenu + kIncorrect + kMenu + kBye, Calls({kInputs, kReadLevels}), nullptr, false,
       "", 4},
      {"hundreds of arguments", "", "", "q", 500, 0, Header() + kMenu + kBye, Calls(), nullptr, false, "", 2},
      {"a mebibyte with no line end", "", "", std::string(1 << 20, 'x'), 0, 0,
       Header() + Menus((1 << 20) + 1) + kIncorrect + kMenu + kBye, Calls()},
      {"a failed open",
       "",
       "",
       "1\nq",
       0,
       kFailedOpen,
       "Quillterm: Failed to connect to VersalogicMMPEEAX Analog Input Module\n",
       {"Open"},
       nullptr,
       false,
       "open=1",
       1},
      {"output that fills the buffer exactly", "", "", fillInput, 0, 0, filled, fillCalls, nullptr, false,
       "readings=1e10", 5, true},
      {"CR LF is one line end", "", "", "4\r\nq\r\n", 0, 0, Header() + kMenu + kLow + Menus(2) + kBye,
       Calls({kInputs, kReadLevels}), nullptr, true},
      {"Ctrl-Z is end of input", "", "", "\n\x1aq", 0, 0, Header() + Menus(2) + kIncorrect + kMenu + kBye, Calls(),
       nullptr, true},
  };
}

class Hostile : public testing::TestWithParam<Surroundings> {};

TEST_P(Hostile, SurroundingsAreHandledAsDocumented) {
  const Surroundings& c = GetParam();
  if (c.windowsOnly && !target.windows) GTEST_SKIP() << "a convention of Windows' text mode";
  if (c.onlyOnWindows != nullptr && target.windows) GTEST_SKIP() << c.onlyOnWindows;
  FakeRun fake(c.script, false, std::vector<std::string>(static_cast<std::size_t>(c.arguments), "--"));
  fake.InputFromFile(c.input);
  if (!c.stdinPath.empty()) fake.launch.stdinPath = c.stdinPath;
  fake.launch.stdoutPath = c.stdoutPath.empty() && !target.windows ? kPackets : c.stdoutPath;
  Child child(fake.launch);
  EXPECT_EQ(child.Finish(), c.status);
  EXPECT_TRUE(child.out == target.Lines(c.out)) << child.out.size() << " bytes: " << child.out.substr(0, 400);
  EXPECT_THAT(child.err, IsEmpty());
  EXPECT_THAT(fake.Calls(), ElementsAreArray(c.calls));
  if (fake.launch.stdoutPath != kPackets) return;
  EXPECT_TRUE(c.writes < 0 || child.writes.size() == static_cast<std::size_t>(c.writes)) << child.writes.size();
  EXPECT_LE(*std::max_element(child.writes.begin(), child.writes.end()), kOutputBuffer);
  const std::size_t beforeTheFill = kOutputBuffer - kMenu.size();  // sent whole, as the fill's own write
  EXPECT_TRUE(!c.fillsBuffer || std::count(child.writes.begin(), child.writes.end(), beforeTheFill) == 1)
      << testing::PrintToString(child.writes);
}

INSTANTIATE_TEST_SUITE_P(Rows, Hostile, testing::ValuesIn(SurroundingsTable()), [](const auto& row) {
  std::string name = row.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

TEST(Hostile, AReaderThatGoesAwayEndsTheProgramAfterTheCommandWithStatusOne) {
  FakeRun fake("");
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.CloseOutput();
  child.Send("2");
  EXPECT_EQ(child.Finish(), 1);
  EXPECT_THAT(fake.Calls(), ElementsAreArray(Calls({kOutputs, Levels(0)})));
}

TEST(Interrupts, AtThePromptEndAtOnceWithStatusTwo) {
  FakeRun fake("");
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.Interrupt();
  EXPECT_TRUE(child.Exited(5000));  // with its input still open
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kMenu + kBye));
}

// Interrupts the program while the fake holds one of its calls, then lets the call go on.
// On Linux the handler has run once Interrupt returns; under wine it runs on a thread that
// wine starts a moment later, which is given a second (the only fixed wait in these tests).
void InterruptHeldCall(Child& child, const FakeRun& fake, std::size_t callsBefore) {
  ASSERT_TRUE(fake.AwaitCalls(callsBefore + 1));  // ... and "Hold"
  child.Interrupt();
  if (target.windows) Pause(Scaled(1000));
  fake.Release();
}

TEST(Interrupts, DuringStartUpLetItFinishThenEnd) {
  FakeRun fake("hold=2");
  Child child(fake.launch);
  InterruptHeldCall(child, fake, 1);
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kBye));
  std::vector<std::string> calls = Calls();
  calls.insert(calls.begin() + 1, "Hold");
  EXPECT_THAT(fake.Calls(), ElementsAreArray(calls));
}

TEST(Interrupts, InACommandLetItFinishThenEnd) {
  FakeRun fake("hold=14");  // the third call of the first command
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.Send("3");
  InterruptHeldCall(child, fake, Calls().size() + 2);
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kMenu + kBye));
  EXPECT_THAT(fake.Calls(),
              ElementsAreArray(Calls({{"Direction 0 0", "Direction 1 0", "Hold", "Direction 2 0"}, Levels(1)})));
}

TEST(Interrupts, SecondOneEndsAHungCallAtOnce) {
  FakeRun fake("hold=12");  // the first call of the first command, never released
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.Send("2");
  ASSERT_TRUE(fake.AwaitCalls(Calls().size() + 1));
  child.Interrupt();
  EXPECT_FALSE(child.Exited(300));
  child.Interrupt();
  EXPECT_TRUE(child.Exited(5000));
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kMenu + kBye));
  EXPECT_THAT(fake.Calls(), ElementsAreArray(Calls({{"Hold"}})));
}

// At a terminal: a pseudo-terminal, which echoes what is typed; or the Windows console,
// which echoes on its own screen, while the output comes through a pipe.
struct Terminal {
  FakeRun fake{"", true};
  Child child{fake.launch};

  bool Prompts(int count) {
    const bool seen = child.WaitFor("What is your selection?", count);
    EXPECT_TRUE(seen) << testing::PrintToString(child.out);
    return seen;
  }
  // Types the keys, then waits until the prompt has been shown `count` times in all.
  bool Type(const std::string& keys, int count) {
    child.Send(keys);
    return Prompts(count);
  }
  // What shows in the output after the prompt when `keys` and Enter are typed.
  static std::string Echo(const std::string& keys) { return target.windows ? "" : keys + "\n"; }
  // What a person sees: line ends as LF, escape sequences dropped, and no blank lines at the
  // very end.
  std::string Screen() const {
    std::string seen;
    for (std::size_t i = 0; i < child.out.size(); ++i) {
      if (child.out[i] == '\x1b') {
        const std::size_t end = child.out.find_first_of("ABCDHJKhlm", i);
        if (end == std::string::npos) break;
        i = end;
      } else if (child.out[i] != '\r') {
        seen += child.out[i];
      }
    }
    while (seen.size() > 1 && seen[seen.size() - 1] == '\n' && seen[seen.size() - 2] == '\n') seen.pop_back();
    return seen;
  }
};

TEST(Terminal, EndOfInputIsReportedAndOnlyASecondOneInARowEnds) {
  if (target.windows) GTEST_SKIP() << "Ctrl-Z then Enter ends input with Windows' runtime but not with wine's";
  Terminal terminal;
  ASSERT_TRUE(terminal.Prompts(1));
  ASSERT_TRUE(terminal.Type("\x04", 2));
  EXPECT_FALSE(terminal.child.Exited(200));  // waits for more input
  ASSERT_TRUE(terminal.Type("x\r", 4));
  ASSERT_TRUE(terminal.Type("\x04", 5));
  EXPECT_FALSE(terminal.child.Exited(100));
  terminal.child.Send("\x04");
  EXPECT_EQ(terminal.child.Finish(), 0);
  const std::string screen = terminal.Screen();
  const std::string incorrect = "Incorrect input, try again, q to quit.\n\n";
  EXPECT_NE(screen.find(incorrect, screen.find(incorrect) + 1), std::string::npos) << screen;
  EXPECT_THAT(screen, EndsWith("Program Terminating...\n"));
}

TEST(Terminal, SelectionsTypedWithEnterThenQ) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Prompts(1));
  ASSERT_TRUE(terminal.Type("4\r", 3));
  terminal.child.Send("q\r");
  EXPECT_EQ(terminal.child.Finish(), 0);
  const std::string screen = terminal.Screen();
  EXPECT_NE(screen.find("? " + Terminal::Echo("4") + kLow + kMenu + kMenu), std::string::npos) << screen;
  EXPECT_THAT(screen, EndsWith("? " + Terminal::Echo("q") + kBye)) << screen;
  EXPECT_THAT(terminal.fake.Calls(), ElementsAreArray(Calls({kInputs, kReadLevels})));
}

// Last of those at the console: wine's console hands the next line typed there to the read
// that an interrupted program left behind, before any new program's.
TEST(Terminal, CtrlCAtThePromptEndsWithStatusTwo) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Prompts(1));
  terminal.child.Send("\x03");
  EXPECT_TRUE(terminal.child.Exited(5000));
  EXPECT_EQ(terminal.child.Finish(), 2);
  const std::string echoed = target.windows ? "" : "^C";  // the pseudo-terminal shows the key
  EXPECT_THAT(terminal.Screen(), EndsWith(kPrompt + echoed + kBye));
}

// The simulator refuses, on standard error, any call outside the library's contract.
TEST(Simulator, EverySelectionWorksWithinTheContract) {
  std::string out, err;
  if (target.program.empty()) GTEST_SKIP() << "the program is linked to a vendor library, not the simulator";
  Launch simulator;
  simulator.argv = target.Command(target.program);
  EXPECT_EQ(RunToEnd(simulator, "4\n1\n3\n4\n2\n4\n1\nq\n", &out, &err), 0);
  EXPECT_THAT(err, IsEmpty());
  const std::string start = target.Lines(Header("v2.1 rev 5 | ADCType A1 ") + kMenu);
  ASSERT_EQ(out.substr(0, start.size()), start);
  std::vector<std::string> levels;
  int readouts = 0;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    line.erase(0, line.rfind(kPrompt) == std::string::npos ? 0 : line.rfind(kPrompt) + kPrompt.size());
    double v[8];
    char level[3];
    if (std::sscanf(line.c_str(), "AIN VALUES: %lf, %lf, %lf, %lf, %lf, %lf, %lf, %lf", &v[0], &v[1], &v[2], &v[3],
                    &v[4], &v[5], &v[6], &v[7]) == 8) {
      ++readouts;
      for (double reading : v) EXPECT_LE(std::fabs(reading), 10.0) << line;
    }
    if (std::sscanf(line.c_str(), "CHANNEL_%*d LEVEL 0x%2s", level) == 1) levels.push_back(level);
  }
  EXPECT_EQ(readouts, 2);
  // Never driven reads high; then what 3 and 2 drove.
  EXPECT_THAT(levels, testing::ElementsAre("01", "01", "01", "01", "01", "01", "00", "00", "00"));
}

}  // namespace
