// The real entry, driven as a user or a script would drive it, against the scripted fake
// vendor (and the simulated module); the fake's call log shows what the hardware saw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/target.h"

using testing::ElementsAreArray;
using testing::EndsWith;
using testing::IsEmpty;

namespace {

// `count` times `one`: output, or calls.
template <typename T>
T Times(int count, const T& one) {
  T all;
  while (count-- > 0) all.insert(all.end(), one.begin(), one.end());
  return all;
}

const std::string kLow = "CHANNEL_1 LEVEL 0x00\nCHANNEL_2 LEVEL 0x00\nCHANNEL_3 LEVEL 0x00\n";

// The program's output buffer, which the cases below bring to its edges, byte for byte.
const std::size_t kOutputBuffer = 1 << 16;

// A readout with readings=1e10 (139 bytes, and the menu, 141).
const std::string kReadout = "AIN VALUES: " + Times(7, std::string("10000000000.00, ")) + "10000000000.00\n" + kMenu;

// A row of a table below that only one platform can produce says why the other cannot; it
// is skipped there, with that reason.
struct Platforms {
  const char *notOnWindows = nullptr, *notOnPosix = nullptr;
  const char* Reason() const { return kWindows ? notOnWindows : notOnPosix; }
};
const Platforms kBoth;
const Platforms kNoFullDevice{"Windows has no device that is always full"};
const Platforms kNoResetSocket{"Windows programs read no sockets as standard input"};
const Platforms kTextMode{nullptr, "a convention of Windows' text mode"};
const Platforms kOwnThread{nullptr, "the handler runs in place of the main thread, which then writes nothing"};
const Platforms kNoCutWrite{"on Windows an interrupt cuts no write short"};
const Platforms kNoCutCall{"on Windows an interrupt cuts no call short"};
const Platforms kCtrlBreakKey{nullptr, "Ctrl-Break is Windows' own"};
// Input through a pipe, `input` sent at once, instead of from a file.
const char* const kPiped = "<piped>";

// Each row is a test of its own, named after it.
template <typename Row>
std::string RowName(const testing::TestParamInfo<Row>& row) {
  std::string name = row.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

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
  Platforms platforms = kBoth;
  std::string script = "";
  int writes = -1;         // -1: not counted
  std::size_t write = 0;   // natively, a write of exactly this size must be among them
  int interrupts = 0;      // each comes when a write is blocked
  bool smallPipe = false;  // on Windows, an output pipe that holds little, so that a write waits
  // On POSIX, the kernel wait in which they come instead; the signal, or kCtrlBreak.
  const char* blockedIn = "pipe_write";
  int signal = SIGINT;
};

std::vector<Surroundings> SurroundingsTable() {
  // Input that ends: reported once, and the second time in a row it ends the program.
  const std::string ended = kIncorrect + kMenu + kBye, failedTwice = Header() + kMenu + ended;
  // After the first wait, a selection 1 costs 280 bytes, 4 costs 204 and any other 141; a
  // print fits only with a byte left for the string's terminator, the last line with none.
  // 226 readouts and 17 other selections: the menu of the 242nd would end at the very end
  // of the buffer. 230 readouts, 44 and five others: the last line ends there. 234 readouts:
  // 16 bytes left, too few for the last line. 219 readouts, 44 and 27 others: a byte short at
  // the wait.
  const std::string wide = "readings=1e10", lows = kLow + kMenu + kLow + kMenu;
  // A failed open ends with exit(-1), as eight bits on POSIX.
  const std::string failedOpen = "Quillterm: Failed to connect to VersalogicMMPEEAX Analog Input Module\n";
  return {
      {"input a directory", "/", "", "", 0, 1, failedTwice, kStartUp, kBoth, "", 3},
      {"input closed", kClosed, "", "", 0, 1, failedTwice, kStartUp, kBoth, "", 3},
      {"input the null device", kNullDevice, "", "", 0, 0, failedTwice, kStartUp, kBoth, "", 3},
      {"input a socket reset by its peer, then ended", kResetSocket, "", "", 0, 0, failedTwice, kStartUp, kNoResetSocket,
       "", 3},
      {"output a full device", "", "/dev/full", "4\nq", 0, 1, "", kStartUp, kNoFullDevice},
      {"output closed", "", kClosed, "4\nq", 0, 1, "", kStartUp},
      {"NUL and 0xFF", "", "", std::string("\0\xff\0", 3) + "4", 0, 0,
       Header() + Times(4, kMenu) + kLow + kMenu + ended, CallsFor("4"), kBoth, "", 4},
      {"hundreds of arguments", "", "", "q", 500, 0, Header() + kMenu + kBye, kStartUp, kBoth, "", 2},
      {"a mebibyte with no line end", "", "", std::string(1 << 20, 'x'), 0, 0,
       Header() + Times((1 << 20) + 1, kMenu) + ended, kStartUp},
      {"a failed open", "", "", "1\nq", 0, kWindows ? -1 : 255, failedOpen, {"Open"}, kBoth, "open=1", 1},
      {"output that fills the buffer exactly", "", "", std::string(226, '1') + std::string(17, 'x'), 0, 0,
       Header() + kMenu + Times(226, kReadout) + Times(17, kMenu) + ended, CallsFor(std::string(226, '1')), kBoth, wide, 5,
       kOutputBuffer - kMenu.size()},
      {"the last line ending at the buffer's last byte", "", "", std::string(230, '1') + "44xxxxxq", 0, 0,
       Header() + kMenu + Times(230, kReadout) + lows + Times(5, kMenu) + kBye,
       CallsFor(std::string(230, '1') + "44"), kBoth, wide, 2, kOutputBuffer},
      {"a last line that does not fit", "", "", std::string(234, '1') + "q", 0, 0,
       Header() + kMenu + Times(234, kReadout) + kBye, CallsFor(std::string(234, '1')), kBoth, wide, 3,
       kOutputBuffer - 16},
      {"output a byte short of the buffer at a wait", "", "", std::string(219, '1') + "44" + std::string(27, 'x'), 0, 0,
       Header() + kMenu + Times(219, kReadout) + lows + Times(27, kMenu) + ended,
       CallsFor(std::string(219, '1') + "44"), kBoth, wide, 4, kOutputBuffer - 1},
      {"CR LF is one line end", "", "", "4\r\nq\r\n", 0, 0, Header() + kMenu + kLow + Times(2, kMenu) + kBye,
       CallsFor("4"), kTextMode},
      {"Ctrl-Z is end of input", "", "", "\n\x1aq", 0, 0, Header() + Times(2, kMenu) + ended, kStartUp, kTextMode},
      // Every moment of the interrupt protocol is tried by the interrupt moments test, on a
      // simulated system; these are what only the real one shows. On Windows the handler runs
      // beside the main thread, which is blocked in the flush after the first level read of
      // the 4, and the command must still finish. On POSIX a write cut short by the signal is
      // no failed output, and a second one ends the program at once, with what the pipe had
      // taken (nothing) and the last line.
      {"interrupted while a command's flush is blocked", "", "", std::string(234, '1') + "4", 0, 2,
       Header() + kMenu + Times(234, kReadout) + kLow + kBye, CallsFor(std::string(234, '1') + "4"), kOwnThread,
       wide, -1, 0, 1, true},
      {"Ctrl-Break while a command's flush is blocked", "", "", std::string(234, '1') + "4", 0, 2,
       Header() + kMenu + Times(234, kReadout) + kLow + kBye, CallsFor(std::string(234, '1') + "4"), kCtrlBreakKey,
       wide, -1, 0, 1, true, "pipe_write", kCtrlBreak},
      {"interrupted while the first write is blocked on a pipe full from the start", "", kFullPipe, "", 0, 2,
       Header() + kMenu + kBye, kStartUp, kNoCutWrite, "", -1, 0, 1},
      {"interrupted twice while the first write is blocked on a pipe full from the start", "", kFullPipe, "", 0, 2,
       kBye, kStartUp, kNoCutWrite, "", -1, 0, 2},
      // While the first level set of a 2 waits in the kernel: held back until the selection is
      // done, and then each taken as a first Ctrl-C.
      {"interrupted while a vendor call waits in the kernel", kPiped, "", "2", 0, 2, Header() + kMenu + kBye,
       CallsFor("2"), kNoCutCall, "wait=1", -1, 0, 1, false, "poll", 2},
      {"SIGTERM while a vendor call waits in the kernel", kPiped, "", "2", 0, 2, Header() + kMenu + kBye,
       CallsFor("2"), kNoCutCall, "wait=1", -1, 0, 1, false, "poll", 15},
      {"SIGHUP while a vendor call waits in the kernel", kPiped, "", "2", 0, 2, Header() + kMenu + kBye,
       CallsFor("2"), kNoCutCall, "wait=1", -1, 0, 1, false, "poll", 1},
  };
}

class Hostile : public testing::TestWithParam<Surroundings> {};
void PrintTo(const Surroundings& row, std::ostream* out) { *out << row.name; }

TEST_P(Hostile, SurroundingsAreHandledAsDocumented) {
  const Surroundings& c = GetParam();
  if (c.platforms.Reason() != nullptr) GTEST_SKIP() << c.platforms.Reason();
  FakeRun fake(c.script, false, std::vector<std::string>(static_cast<std::size_t>(c.arguments), "--"));
  fake.InputFromFile(c.input);
  if (!c.stdinPath.empty()) fake.launch.stdinPath = c.stdinPath == kPiped ? "" : c.stdinPath;
  if (c.stdinPath == kResetSocket) {  // as cat shows, it fails one read and ends the next
    Launch cat{{"sh", "-c", "cat; echo $?; cat; echo $?"}, {}, kResetSocket, "", false};
    std::string out;
    EXPECT_EQ(RunToEnd(cat, "", &out, nullptr), 0);
    EXPECT_EQ(out, "1\n0\n");
  }
  fake.launch.stdoutPath = c.stdoutPath.empty() && !kWindows ? kPackets : c.stdoutPath;
  fake.launch.smallPipe = c.smallPipe;
  Child child(fake.launch);
  if (c.stdinPath == kPiped) child.Send(c.input);
  for (int i = 0; i < c.interrupts; ++i) {  // blocked (again): reading its output would let the write go on
    ASSERT_TRUE(child.BlockedWriting(10000, c.blockedIn));
    if (!child.Interrupt(c.signal)) GTEST_SKIP() << "this console sends no Ctrl-Break (wine's sends none)";
  }
  if (kWindows && c.interrupts > 0) Pause(Scaled(1000));  // the handler's thread, a moment later
  EXPECT_EQ(child.Finish(), c.status);
  child.out.erase(0, std::min(child.out.find_first_not_of('\0'), child.out.size()));  // what filled a pipe
  EXPECT_TRUE(child.out == target.Lines(c.out)) << child.out.size() << " bytes: " << child.out.substr(0, 400);
  EXPECT_THAT(child.err, IsEmpty());
  EXPECT_THAT(fake.Calls(), ElementsAreArray(c.calls));
  if (fake.launch.stdoutPath != kPackets) return;
  EXPECT_TRUE(c.writes < 0 || child.writes.size() == static_cast<std::size_t>(c.writes)) << child.writes.size();
  EXPECT_LE(*std::max_element(child.writes.begin(), child.writes.end()), kOutputBuffer);
  EXPECT_TRUE(c.write == 0 || std::count(child.writes.begin(), child.writes.end(), c.write) == 1)
      << testing::PrintToString(child.writes);
}

INSTANTIATE_TEST_SUITE_P(Rows, Hostile, testing::ValuesIn(SurroundingsTable()), RowName<Surroundings>);

TEST(Hostile, AReaderThatGoesAwayEndsTheProgramAfterTheCommandWithStatusOne) {
  FakeRun fake("");
  Child child(fake.launch);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.CloseOutput();
  child.Send("2");
  EXPECT_EQ(child.Finish(), 1);
  EXPECT_THAT(fake.Calls(), ElementsAreArray(CallsFor("2")));
}

// At a terminal: a pseudo-terminal, which echoes what is typed; or the Windows console,
// which echoes on its own screen, while the output comes through a pipe.
struct Terminal {
  FakeRun fake{"", true};
  Child child{fake.launch};

  // Types the keys, then waits until the prompt has been shown `count` times in all.
  bool Type(const std::string& keys, int count) {
    child.Send(keys);
    const bool seen = child.WaitFor("What is your selection?", count);
    EXPECT_TRUE(seen) << testing::PrintToString(child.out);
    return seen;
  }
  // What shows in the output after the prompt when `keys` and Enter are typed.
  static std::string Echo(const std::string& keys) { return kWindows ? "" : keys + "\n"; }
  // What a person sees: line ends as LF.
  std::string Screen() const {
    std::string seen = child.out;
    seen.erase(std::remove(seen.begin(), seen.end(), '\r'), seen.end());
    return seen;
  }
};

TEST(Terminal, EndOfInputIsReportedAndOnlyASecondOneInARowEnds) {
  const std::string end = kWindows ? "\x1a\r" : "\x04";  // Ctrl-Z then Enter, or Ctrl-D
  Terminal terminal;
  ASSERT_TRUE(terminal.Type("", 1));
  ASSERT_TRUE(terminal.Type(end, 2));
  EXPECT_FALSE(terminal.child.Exited(200));  // waits for more input
  ASSERT_TRUE(terminal.Type("x\r", 4));
  ASSERT_TRUE(terminal.Type(end, 5));
  EXPECT_FALSE(terminal.child.Exited(100));
  terminal.child.Send(end);
  EXPECT_EQ(terminal.child.Finish(), 0);
  const std::string screen = terminal.Screen();
  EXPECT_NE(screen.find(kIncorrect, screen.find(kIncorrect) + 1), std::string::npos) << screen;
  EXPECT_THAT(screen, EndsWith(kBye));
}

TEST(Terminal, SelectionsTypedWithEnterThenQ) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Type("", 1));
  ASSERT_TRUE(terminal.Type("4\r", 3));
  terminal.child.Send("q\r");
  EXPECT_EQ(terminal.child.Finish(), 0);
  const std::string screen = terminal.Screen();
  EXPECT_NE(screen.find("? " + Terminal::Echo("4") + kLow + kMenu + kMenu), std::string::npos) << screen;
  EXPECT_THAT(screen, EndsWith("? " + Terminal::Echo("q") + kBye)) << screen;
  EXPECT_THAT(terminal.fake.Calls(), ElementsAreArray(CallsFor("4")));
}

// Last of those at the console: wine's console hands the next line typed there to the read
// that an interrupted program left behind, before any new program's.
TEST(Terminal, CtrlCAtThePromptEndsWithStatusTwo) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Type("", 1));
  terminal.child.Send("\x03");
  EXPECT_TRUE(terminal.child.Exited(5000));
  EXPECT_EQ(terminal.child.Finish(), 2);
  // The pseudo-terminal shows the key.
  EXPECT_THAT(terminal.Screen(), EndsWith(kPrompt + (kWindows ? "" : "^C") + kBye));
}

// The simulator says at its open, on standard error, that it is simulated, and refuses any
// call outside the library's contract with a line there too (its own test shows that every
// refusal prints one), so that one line alone means that the program made no such call.
TEST(Simulator, EverySelectionWorksWithinTheContract) {
  std::string out, err;
  if (target.program.empty()) GTEST_SKIP() << "the program is linked to a vendor library, not the simulator";
  Launch simulator{target.Command(target.program), {}, "", "", false};
  EXPECT_EQ(RunToEnd(simulator, "4\n1\n3\n4\n2\n4\n1\nq\n", &out, &err), 0);
  EXPECT_EQ(err, target.Lines("VL_OSALib simulator: this is a simulated module; its readings are generated\n"));
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
