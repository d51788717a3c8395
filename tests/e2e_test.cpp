// The real entry, driven as a user or a script would drive it, against the scripted fake
// vendor (and the simulated module); the fake's call log shows what the hardware saw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/child.h"

using testing::ElementsAreArray;
using testing::EndsWith;
using testing::IsEmpty;

namespace {

// What runs: by default the native builds; a cross build of the program is named by
// QUILLTERM_E2E_FAKE and QUILLTERM_E2E_PROGRAM and run through QUILLTERM_E2E_EMULATOR.
struct Target {
  std::string emulator = Environment("QUILLTERM_E2E_EMULATOR");
  std::string fake = Environment("QUILLTERM_E2E_FAKE", QUILLTERM_FAKE_PROGRAM);
  std::string program = Environment("QUILLTERM_E2E_PROGRAM", QUILLTERM_PROGRAM);
  bool windows = !Environment("QUILLTERM_E2E_WINDOWS").empty();

  static std::string Environment(const char* name, const char* otherwise = "") {
    const char* value = std::getenv(name);
    return value != nullptr ? value : otherwise;
  }
  std::vector<std::string> Command(const std::string& path) const {
    if (emulator.empty()) return {path};
    return {emulator, path};
  }
  // Windows writes its line ends as CR LF.
  std::string Lines(std::string text) const {
    if (!windows) return text;
    std::string lines;
    lines.reserve(text.size() + text.size() / 8);
    for (char c : text) (c == '\n' ? lines += "\r\n" : lines += c);
    return lines;
  }
};
const Target target;

const std::string kMenu =
    "Please enter a command\n(1) Read in All Analog Inputs\n(2) Toggle ALL DIO LOW\n"
    "(3) Toggle ALL DIO HIGH\n(4) Read all DIO\nWhat is your selection? ";
const std::string kPrompt = "What is your selection? ";
const std::string kBye = "Program Terminating...\n";
const std::string kIncorrect = "Incorrect input, try again, q to quit.\n\n";
const std::string kFailed = "Quillterm: Failed to connect to VersalogicMMPEEAX Analog Input Module\n";

std::string Header(const std::string& identification = "v1.2 rev 3 | ADCType A2 ") {
  return "Quillterm: Successfully Connected, Welcome to the TOLVA MMPEEAX Command Line Utility.\n"
         "Quillterm: Versalogic MMPEEAX " + identification + "\n";
}

std::string Menus(int count) {
  std::string menus;
  while (count-- > 0) menus += kMenu;
  return menus;
}

const std::vector<std::string> kReadAll = {"Analog 0x0E 1", "Analog 0x4E 1", "Analog 0x1E 1", "Analog 0x5E 1",
                                           "Analog 0x2E 1", "Analog 0x6E 1", "Analog 0x3E 1", "Analog 0x7E 1"};
const std::vector<std::string> kInputs = {"Direction 0 1", "Direction 1 1", "Direction 2 1"};
const std::vector<std::string> kReadLevels = {"GetLevel 0", "GetLevel 1", "GetLevel 2"};
const std::vector<std::string> kOutputs = {"Direction 0 0", "Direction 1 0", "Direction 2 0"};

std::vector<std::string> Levels(int level) {
  std::vector<std::string> calls;
  for (int channel = 0; channel < 3; ++channel) calls.push_back("Level " + std::to_string(channel) + " " + std::to_string(level));
  return calls;
}

// The calls of start-up, then `more` of them in turn.
std::vector<std::string> Calls(std::initializer_list<std::vector<std::string>> more = {}) {
  std::vector<std::string> calls = {"Open",         "GetVersion",   "GetADCType",   "Range 0x0E 8", "Range 0x4E 8",
                                    "Range 0x1E 8", "Range 0x5E 8", "Range 0x2E 8", "Range 0x6E 8", "Range 0x3E 8",
                                    "Range 0x7E 8"};
  for (const auto& group : more) calls.insert(calls.end(), group.begin(), group.end());
  return calls;
}

std::string Channels(const char* a, const char* b, const char* c) {
  return std::string("CHANNEL_1 LEVEL 0x") + a + "\nCHANNEL_2 LEVEL 0x" + b + "\nCHANNEL_3 LEVEL 0x" + c + "\n";
}

// One run of the program against the fake, with the fake's record of the calls it got.
struct Fake {
  explicit Fake(const std::string& script, bool terminal = false, std::vector<std::string> args = {}) {
    char path[] = "/tmp/quillterm-calls-XXXXXX";
    close(mkstemp(path));
    log = path;
    launch.argv = target.Command(target.fake);
    launch.argv.insert(launch.argv.end(), args.begin(), args.end());
    launch.environment = {"QUILLTERM_FAKE=" + script, "QUILLTERM_FAKE_LOG=" + log};
    launch.terminal = terminal;
  }
  ~Fake() { unlink(log.c_str()); }
  bool AwaitCalls(std::size_t count) const {
    for (int wait = 0; wait < 500; ++wait) {
      if (Calls().size() >= count) return true;
      usleep(10000);
    }
    return false;
  }
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
  }
  Launch launch;
  std::string log;
};

struct Transcript {
  const char* name;
  const char* script;
  std::string input;
  std::string out;
  int status;
  std::vector<std::string> calls;
};

TEST(Transcripts, PipedSessionsPrintExactlyAndCallExactly) {
  const Transcript cases[] = {
      {"failed open", "open=1", "1\nq\n", kFailed, 255, {"Open"}},
      {"q alone", "", "q", Header() + kMenu + kBye, 0, Calls()},
      {"q ends at once", "", "q1\n", Header() + kMenu + kBye, 0, Calls()},
      {"input ends without q", "", "", Header() + kMenu + kIncorrect + kMenu + kBye, 0, Calls()},
      {"each ignored byte is a selection", "", std::string("xQ \r\t5\0\xff", 8) + "q", Header() + Menus(9) + kBye, 0,
       Calls()},
      {"ignored then end of input", "", "x", Header() + Menus(2) + kIncorrect + kMenu + kBye, 0, Calls()},
      {"identification bytes above 127", "version=200,255,128 adc=7", "q",
       Header("v200.255 rev 128 | ADCType A0 ") + kMenu + kBye, 0, Calls()},
      {"readings print in fields of five, never cut", "readings=1.5,-10.25,0,-3.5,9.999,100,-0.004,1e10", "1\nq",
       Header() + kMenu + "AIN VALUES:  1.50, -10.25,  0.00, -3.50, 10.00, 100.00, -0.00, 10000000000.00\n" +
           Menus(2) + kBye,
       0, Calls({kReadAll})},
      {"each readout reads afresh", "readings=1,2,3,4,5,6,7,8,-1,-2,-3,-4,-5,-6,-7,-8", "11q",
       Header() + kMenu + "AIN VALUES:  1.00,  2.00,  3.00,  4.00,  5.00,  6.00,  7.00,  8.00\n" + kMenu +
           "AIN VALUES: -1.00, -2.00, -3.00, -4.00, -5.00, -6.00, -7.00, -8.00\n" + kMenu + kBye,
       0, Calls({kReadAll, kReadAll})},
      {"low drives outputs", "", "2q", Header() + Menus(2) + kBye, 0, Calls({kOutputs, Levels(0)})},
      {"high after a read turns inputs back into outputs", "", "43q",
       Header() + kMenu + Channels("00", "00", "00") + Menus(2) + kBye, 0,
       Calls({kInputs, kReadLevels, kOutputs, Levels(1)})},
      {"levels print as bytes", "levels=0,1,255,256,0x1A5,-1", "44q",
       Header() + kMenu + Channels("00", "01", "FF") + kMenu + Channels("00", "A5", "FF") + kMenu + kBye, 0,
       Calls({kInputs, kReadLevels, kInputs, kReadLevels})},
  };
  for (const Transcript& c : cases) {
    SCOPED_TRACE(c.name);
    Fake fake(c.script);
    std::string out, err;
    EXPECT_EQ(RunToEnd(fake.launch, c.input, &out, &err), c.status);
    EXPECT_EQ(out, target.Lines(c.out));
    EXPECT_THAT(err, IsEmpty());
    EXPECT_THAT(fake.Calls(), ElementsAreArray(c.calls));
  }
}

TEST(Transcripts, ArgumentsAreIgnored) {
  Fake fake("", false, {"--help", "-x", "1", "q"});
  std::string out;
  EXPECT_EQ(RunToEnd(fake.launch, "q", &out, nullptr), 0);
  EXPECT_EQ(out, target.Lines(Header() + kMenu + kBye));
}

TEST(Transcripts, ReadErrorTwiceInARowEndsWithStatusOne) {
  Fake fake("");
  fake.launch.stdinPath = "/";  // reading a directory fails
  std::string out;
  EXPECT_EQ(RunToEnd(fake.launch, "", &out, nullptr), 1);
  EXPECT_EQ(out, target.Lines(Header() + kMenu + kIncorrect + kMenu + kBye));
}

TEST(Transcripts, WindowsTakesCrLfAsOneLineEndAndCtrlZAsEndOfInput) {
  if (!target.windows) GTEST_SKIP() << "Windows only";
  const Transcript cases[] = {
      {"CR LF", "", "4\r\nq\r\n", Header() + kMenu + Channels("00", "00", "00") + Menus(2) + kBye, 0,
       Calls({kInputs, kReadLevels})},
      {"Ctrl-Z", "", "\n\x1aq", Header() + Menus(2) + kIncorrect + kMenu + kBye, 0, Calls()},
  };
  for (const Transcript& c : cases) {
    SCOPED_TRACE(c.name);
    Fake fake(c.script);
    std::string out;
    EXPECT_EQ(RunToEnd(fake.launch, c.input, &out, nullptr), c.status);
    EXPECT_EQ(out, target.Lines(c.out));
    EXPECT_THAT(fake.Calls(), ElementsAreArray(c.calls));
  }
}

// Input is read from a file here, so that a child busy writing is never also waiting for it.
TEST(Hostile, SurroundingsAreHandledAsDocumented) {
  struct Case {
    const char* name;
    std::string stdinPath, stdoutPath, input;
    int arguments, status;
    std::string out;
    std::vector<std::string> calls;
  };
  const std::string failedTwice = Header() + kMenu + kIncorrect + kMenu + kBye;
  const std::string mebibyte(1 << 20, 'x');
  const Case cases[] = {
      {"input a directory", "/", "", "", 0, 1, failedTwice, Calls()},
      {"input closed", kClosed, "", "", 0, 1, failedTwice, Calls()},
      {"input /dev/null", "/dev/null", "", "", 0, 0, failedTwice, Calls()},
      {"output /dev/full", "", "/dev/full", "4\nq", 0, 1, "", Calls()},
      {"output closed", "", kClosed, "4\nq", 0, 1, "", Calls()},
      {"NUL and 0xFF", "", "", std::string("\0\xff\0", 3) + "4", 0, 0,
       Header() + Menus(4) + Channels("00", "00", "00") + kMenu + kIncorrect + kMenu + kBye, Calls({kInputs, kReadLevels})},
      {"hundreds of arguments", "", "", "q", 500, 0, Header() + kMenu + kBye, Calls()},
      {"a mebibyte with no line end", "", "", mebibyte, 0, 0, Header() + Menus((1 << 20) + 1) + kIncorrect + kMenu + kBye,
       Calls()},
  };
  char inputPath[] = "/tmp/quillterm-input-XXXXXX";
  close(mkstemp(inputPath));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fake fake("", false, std::vector<std::string>(static_cast<std::size_t>(c.arguments), "--"));
    std::ofstream(inputPath, std::ios::binary) << c.input;
    fake.launch.stdinPath = c.stdinPath.empty() ? inputPath : c.stdinPath;
    fake.launch.stdoutPath = c.stdoutPath;
    std::string out;
    EXPECT_EQ(RunToEnd(fake.launch, "", &out, nullptr), c.status);
    EXPECT_TRUE(out == target.Lines(c.out)) << out.size() << " bytes: " << out.substr(0, 400);
    EXPECT_THAT(fake.Calls(), ElementsAreArray(c.calls));
  }
  unlink(inputPath);
}

TEST(Hostile, AReaderThatGoesAwayEndsTheProgramAfterTheCommandWithStatusOne) {
  Fake fake("");
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.CloseOutput();
  child.Send("2");
  EXPECT_EQ(child.Finish(), 1);
  EXPECT_THAT(fake.Calls(), ElementsAreArray(Calls({kOutputs, Levels(0)})));
}

TEST(Interrupts, AtThePromptEndAtOnceWithStatusTwo) {
  Fake fake("");
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.Signal(SIGINT);
  EXPECT_TRUE(child.Exited(5000));  // with its input still open
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kMenu + kBye));
}

TEST(Interrupts, DuringStartUpLetItFinishThenEnd) {
  Fake fake("delay=150000");
  Child child(fake.launch);
  ASSERT_TRUE(fake.AwaitCalls(1));
  child.Signal(SIGINT);
  EXPECT_EQ(child.Finish(), 2);
  EXPECT_EQ(child.out, target.Lines(Header() + kBye));
  EXPECT_THAT(fake.Calls(), ElementsAreArray(Calls()));
}

TEST(Interrupts, InACommandLetItFinishThenEnd) {
  Fake fake("delay=20000");
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
  Fake fake("hang=12");  // the first call of the first command
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
  Fake fake{"", true};
  Child child{fake.launch};

  bool Prompts(int count) {
    const bool seen = child.WaitFor("What is your selection?", count);
    EXPECT_TRUE(seen) << testing::PrintToString(child.out);
    return seen;
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
  terminal.child.Send("\x04");
  ASSERT_TRUE(terminal.Prompts(2));
  EXPECT_FALSE(terminal.child.Exited(200));  // waits for more input
  terminal.child.Send("x\r");
  ASSERT_TRUE(terminal.Prompts(4));
  terminal.child.Send("\x04");
  ASSERT_TRUE(terminal.Prompts(5));
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
  terminal.child.Send("4\r");
  ASSERT_TRUE(terminal.Prompts(3));
  terminal.child.Send("q\r");
  EXPECT_EQ(terminal.child.Finish(), 0);
  const std::string screen = terminal.Screen();
  EXPECT_NE(screen.find("? 4\n" + Channels("00", "00", "00") + kMenu), std::string::npos) << screen;
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
