// The real entry, driven as a user or a script would drive it, against the scripted fake
// vendor (and the simulated module); the fake's call log shows what the hardware saw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

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

// Ordinary piped sessions are the differential test's; these are the surroundings that a
// script or an operator may put the program in, and Windows' own input conventions.
TEST(Hostile, SurroundingsAreHandledAsDocumented) {
  struct Case {
    const char* name;
    std::string stdinPath, stdoutPath, input;
    int arguments, status;
    std::string out;
    std::vector<std::string> calls;
    bool windowsOnly;
  };
  const std::string failedTwice = Header() + kMenu + kIncorrect + kMenu + kBye;
  const Case cases[] = {
      {"input a directory", "/", "", "", 0, 1, failedTwice, Calls(), false},
      {"input closed", kClosed, "", "", 0, 1, failedTwice, Calls(), false},
      {"input /dev/null", "/dev/null", "", "", 0, 0, failedTwice, Calls(), false},
      {"output /dev/full", "", "/dev/full", "4\nq", 0, 1, "", Calls(), false},
      {"output closed", "", kClosed, "4\nq", 0, 1, "", Calls(), false},
      {"NUL and 0xFF", "", "", std::string("\0\xff\0", 3) + "4", 0, 0,
       Header() + Menus(4) + kLow + kMenu + kIncorrect + kMenu + kBye, Calls({kInputs, kReadLevels}), false},
      {"hundreds of arguments", "", "", "q", 500, 0, Header() + kMenu + kBye, Calls(), false},
      {"a mebibyte with no line end", "", "", std::string(1 << 20, 'x'), 0, 0,
       Header() + Menus((1 << 20) + 1) + kIncorrect + kMenu + kBye, Calls(), false},
      {"CR LF is one line end", "", "", "4\r\nq\r\n", 0, 0, Header() + kMenu + kLow + Menus(2) + kBye,
       Calls({kInputs, kReadLevels}), true},
      {"Ctrl-Z is end of input", "", "", "\n\x1aq", 0, 0, Header() + Menus(2) + kIncorrect + kMenu + kBye, Calls(),
       true},
  };
  for (const Case& c : cases) {
    if (c.windowsOnly && !target.windows) continue;
    SCOPED_TRACE(c.name);
    FakeRun fake("", false, std::vector<std::string>(static_cast<std::size_t>(c.arguments), "--"));
    fake.InputFromFile(c.input);
    if (!c.stdinPath.empty()) fake.launch.stdinPath = c.stdinPath;
    fake.launch.stdoutPath = c.stdoutPath;
    std::string out;
    EXPECT_EQ(RunToEnd(fake.launch, "", &out, nullptr), c.status);
    EXPECT_TRUE(out == target.Lines(c.out)) << out.size() << " bytes: " << out.substr(0, 400);
    EXPECT_THAT(fake.Calls(), ElementsAreArray(c.calls));
  }
}

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
  child.Signal(SIGINT);
  EXPECT_TRUE(child.Exited(5000));  // with its input still open
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kMenu + kBye));
}

TEST(Interrupts, DuringStartUpLetItFinishThenEnd) {
  FakeRun fake("delay=150000");
  Child child(fake.launch);
  ASSERT_TRUE(fake.AwaitCalls(1));
  child.Signal(SIGINT);
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kBye));
  EXPECT_THAT(fake.Calls(), ElementsAreArray(Calls()));
}

TEST(Interrupts, InACommandLetItFinishThenEnd) {
  FakeRun fake("delay=20000");
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.Send("3");
  ASSERT_TRUE(fake.AwaitCalls(Calls().size() + 2));
  child.Signal(SIGINT);
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kMenu + kBye));
  EXPECT_THAT(fake.Calls(), ElementsAreArray(Calls({kOutputs, Levels(1)})));
}

TEST(Interrupts, SecondOneEndsAHungCallAtOnce) {
  FakeRun fake("hang=12");  // the first call of the first command
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.Send("2");
  ASSERT_TRUE(fake.AwaitCalls(Calls().size() + 1));
  child.Signal(SIGINT);
  EXPECT_FALSE(child.Exited(300));
  child.Signal(SIGINT);
  EXPECT_TRUE(child.Exited(2000));
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kMenu + kBye));
  EXPECT_THAT(fake.Calls(), ElementsAreArray(Calls({{"Hang"}})));
}

// At a terminal: a Linux pseudo-terminal, or the Windows console that wine puts on one
// (which draws with escape sequences).
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
  // What a person sees: escape sequences dropped but for a cursor step right, which
  // stands for a space, and no blank lines at the very end.
  std::string Screen() const {
    std::string seen;
    for (std::size_t i = 0; i < child.out.size(); ++i) {
      if (child.out[i] == '\x1b') {
        const std::size_t end = child.out.find_first_of("ABCDHJKhlm", i);
        if (end == std::string::npos) break;
        if (child.out[end] == 'C') seen += ' ';
        i = end;
      } else if (child.out[i] != '\r') {
        seen += child.out[i];
      }
    }
    while (seen.size() > 1 && seen[seen.size() - 1] == '\n' && seen[seen.size() - 2] == '\n') seen.pop_back();
    return seen;
  }
};

TEST(Terminal, CtrlCAtThePromptEndsWithStatusTwo) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Prompts(1));
  terminal.child.Send("\x03");
  EXPECT_TRUE(terminal.child.Exited(5000));
  EXPECT_EQ(terminal.child.Finish(), 2);
  EXPECT_THAT(terminal.Screen(), EndsWith("Program Terminating...\n"));
}

TEST(Terminal, EndOfInputIsReportedAndOnlyASecondOneInARowEnds) {
  if (target.windows) GTEST_SKIP() << "wine's console drops a typed Ctrl-Z; the piped Ctrl-Z case stands in";
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

TEST(Terminal, SelectionThenQ) {
  if (target.windows) GTEST_SKIP() << "wine's console now and then drops what is typed at it; the piped cases stand in";
  Terminal terminal;
  ASSERT_TRUE(terminal.Prompts(1));
  ASSERT_TRUE(terminal.Type("4\r", 3));
  terminal.child.Send("q\r");
  EXPECT_EQ(terminal.child.Finish(), 0);
  const std::string screen = terminal.Screen();
  EXPECT_NE(screen.find("? 4\n" + kLow + kMenu), std::string::npos) << screen;
  EXPECT_THAT(screen, EndsWith("? q\nProgram Terminating...\n")) << screen;
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
