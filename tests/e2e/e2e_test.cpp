// The real entry, driven as a user or a script would drive it, against the scripted fake
// vendor (and the simulated module); the fake's call log shows what the hardware saw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/target.h"

using testing::_;
using testing::AllOf;
using testing::Each;
using testing::ElementsAreArray;
using testing::EndsWith;
using testing::Le;

namespace {

std::string Times(int count, const std::string& one) {
  std::string all;
  while (count-- > 0) all += one;
  return all;
}

const std::string kLow = "CHANNEL_1 LEVEL 0x00\nCHANNEL_2 LEVEL 0x00\nCHANNEL_3 LEVEL 0x00\n";

// The program's output buffer, which the cases below bring to its edges, byte for byte.
const std::size_t kOutputBuffer = 1 << 16;

// A readout with readings=1e10 (139 bytes, and the menu, 141).
const std::string kReadout = "AIN VALUES: " + Times(7, "10000000000.00, ") + "10000000000.00\n" + kMenu;

// Why a row that only one platform can produce is skipped on the other.
const char* const kNoFullDevice = kWindows ? "Windows has no device that is always full" : nullptr;
const char* const kNoResetSocket = kWindows ? "Windows programs read no sockets as standard input" : nullptr;
const char* const kTextMode = kWindows ? nullptr : "a convention of Windows' text mode";
const char* const kOwnThread =
    kWindows ? nullptr : "the handler runs in place of the main thread, which then writes nothing";
const char* const kCtrlBreakKey = kWindows ? nullptr : "Ctrl-Break is Windows' own";
const char* const kNoCutWrite = kWindows ? "on Windows an interrupt cuts no write short" : nullptr;
const char* const kNoCutCall = kWindows ? "on Windows an interrupt cuts no call short" : nullptr;

// Ordinary piped sessions are the differential test's; these are the surroundings that a
// script or an operator may put the program in, and Windows' own input conventions.
// Natively, an output left to the test is a socket that keeps each write a message of its
// own, so that the writes can be counted against the waits for input: one write before
// each wait, and one at the end. Beside its name and output (with LF line ends), a row
// states only where it differs from a program that reads its input from a file, ends with
// status 0 and makes the calls of the keys in its input.
struct Details {
  // Input is read from a file, or, where it is `sent`, sent at once through a pipe; the
  // script is the fake's.
  std::string stdinPath{}, stdoutPath{}, input{}, sent{}, script{};
  std::size_t arguments = 0;
  int status = 0;
  std::optional<std::vector<std::string>> calls{};
  int writes = -1;        // -1: not counted
  std::size_t write = 0;  // natively, a write of exactly this size must be among them
  // Each signal (kill's number, or kCtrlBreak) comes while a write is blocked, or on POSIX
  // while the program is in the kernel wait named.
  std::vector<int> interrupts{};
  const char *wait = "pipe_write", *skip = nullptr;
};
struct Surrounding {
  const char* name;
  std::string out;
  Details is;
};

std::vector<Surrounding> SurroundingTable() {
  // Input that ends: reported once, and the second time in a row it ends the program.
  const std::string ended = kIncorrect + kMenu + kBye, failedTwice = Header() + kMenu + ended;
  // After the first wait, a selection 1 costs 280 bytes, 4 costs 204 and any other 141; a
  // print fits only with a byte left for the string's terminator, the last line with none.
  // 226 readouts and 17 other selections: the menu of the 242nd would end at the very end
  // of the buffer. 230 readouts, 44 and five others: the last line ends there. 234 readouts:
  // 16 bytes left, too few for the last line. 219 readouts, 44 and 27 others: a byte short at
  // the wait.
  const std::string wide = "readings=1e10", lows = kLow + kMenu + kLow + kMenu, full = Times(234, "1");
  // A failed open ends with exit(-1), as eight bits on POSIX.
  const std::string failedOpen = "Quillterm: Failed to connect to VersalogicMMPEEAX Analog Input Module\n";
  const std::string blocked = Header() + kMenu + Times(234, kReadout) + kLow + kBye;
  return {
      {"input a directory", failedTwice, Details{.stdinPath = "/", .status = 1, .writes = 3}},
      {"input closed", failedTwice, Details{.stdinPath = kClosed, .status = 1, .writes = 3}},
      {"input the null device", failedTwice, Details{.stdinPath = kNullDevice, .writes = 3}},
      {"input a socket reset by its peer, then ended", failedTwice,
       Details{.stdinPath = kResetSocket, .writes = 3, .skip = kNoResetSocket}},
      {"output a full device", "",
       Details{.stdoutPath = "/dev/full", .input = "4\nq", .status = 1, .calls = kStartUp, .skip = kNoFullDevice}},
      {"output closed", "", Details{.stdoutPath = kClosed, .input = "4\nq", .status = 1, .calls = kStartUp}},
      {"NUL and 0xFF", Header() + Times(4, kMenu) + kLow + kMenu + ended,
       Details{.input = std::string("\0\xff\0", 3) + "4", .writes = 4}},
      {"hundreds of arguments", Header() + kMenu + kBye, Details{.input = "q", .arguments = 500, .writes = 2}},
      {"a mebibyte with no line end", Header() + Times((1 << 20) + 1, kMenu) + ended,
       Details{.input = std::string(1 << 20, 'x')}},
      {"a failed open", failedOpen,
       Details{.input = "1\nq", .script = "open=1", .status = kWindows ? -1 : 255, .calls = {{"Open"}}, .writes = 1}},
      {"output that fills the buffer exactly", Header() + kMenu + Times(226, kReadout) + Times(17, kMenu) + ended,
       Details{.input = Times(226, "1") + Times(17, "x"),
               .script = wide,
               .writes = 5,
               .write = kOutputBuffer - kMenu.size()}},
      {"the last line ending at the buffer's last byte",
       Header() + kMenu + Times(230, kReadout) + lows + Times(5, kMenu) + kBye,
       Details{.input = Times(230, "1") + "44xxxxxq", .script = wide, .writes = 2, .write = kOutputBuffer}},
      {"a last line that does not fit", Header() + kMenu + Times(234, kReadout) + kBye,
       Details{.input = full + "q", .script = wide, .writes = 3, .write = kOutputBuffer - 16}},
      {"output a byte short of the buffer at a wait",
       Header() + kMenu + Times(219, kReadout) + lows + Times(27, kMenu) + ended,
       Details{
           .input = Times(219, "1") + "44" + Times(27, "x"), .script = wide, .writes = 4, .write = kOutputBuffer - 1}},
      {"CR LF is one line end", Header() + kMenu + kLow + Times(2, kMenu) + kBye,
       Details{.input = "4\r\nq\r\n", .skip = kTextMode}},
      {"Ctrl-Z is end of input", Header() + Times(2, kMenu) + ended, Details{.input = "\n\x1aq", .skip = kTextMode}},
      // Every moment of the interrupt protocol is tried by the interrupt moments test, on a
      // simulated system; these are what only the real one shows. On Windows the handler runs
      // beside the main thread, which is blocked in the flush after the first level read of
      // the 4, and the command must still finish. On POSIX a write cut short by the signal is
      // no failed output, and a second one ends the program at once, with what the pipe had
      // taken (nothing) and the last line.
      {"interrupted while a command's flush is blocked", blocked,
       Details{.input = full + "4", .script = wide, .status = 2, .interrupts = {SIGINT}, .skip = kOwnThread}},
      {"Ctrl-Break while a command's flush is blocked", blocked,
       Details{.input = full + "4", .script = wide, .status = 2, .interrupts = {kCtrlBreak}, .skip = kCtrlBreakKey}},
      {"interrupted while the first write is blocked on a pipe full from the start", Header() + kMenu + kBye,
       Details{.stdoutPath = kFullPipe, .status = 2, .interrupts = {SIGINT}, .skip = kNoCutWrite}},
      {"interrupted twice while the first write is blocked on a pipe full from the start", kBye,
       Details{.stdoutPath = kFullPipe, .status = 2, .interrupts = {SIGINT, SIGINT}, .skip = kNoCutWrite}},
      // While the first level set of a 2 waits in the kernel: held back until the selection is
      // done, and then each taken as a first Ctrl-C.
      {"interrupted while a vendor call waits in the kernel", Header() + kMenu + kBye,
       Details{
           .sent = "2", .script = "wait=1", .status = 2, .interrupts = {SIGINT}, .wait = "poll", .skip = kNoCutCall}},
      {"SIGTERM while a vendor call waits in the kernel", Header() + kMenu + kBye,
       Details{.sent = "2", .script = "wait=1", .status = 2, .interrupts = {15}, .wait = "poll", .skip = kNoCutCall}},
      {"SIGHUP while a vendor call waits in the kernel", Header() + kMenu + kBye,
       Details{.sent = "2", .script = "wait=1", .status = 2, .interrupts = {1}, .wait = "poll", .skip = kNoCutCall}},
  };
}

class Surroundings : public testing::TestWithParam<Surrounding> {};
void PrintTo(const Surrounding& row, std::ostream* out) { *out << row.name; }

TEST_P(Surroundings, AreHandledAsDocumented) {
  const Details& c = GetParam().is;
  if (c.skip != nullptr) GTEST_SKIP() << c.skip;
  FakeRun fake(c.script, false, std::vector<std::string>(c.arguments, "--"));
  fake.stdinPath = c.stdinPath.empty() && c.sent.empty() ? fake.InputFile(c.input) : c.stdinPath;
  if (c.stdinPath == kResetSocket) {  // as cat shows, it fails one read and ends the next
    const Ran cat = RunToEnd({.argv = {"sh", "-c", "cat; echo $?; cat; echo $?"}, .stdinPath = kResetSocket}, "");
    EXPECT_EQ(cat.status, 0);
    EXPECT_EQ(cat.out, "1\n0\n");
  }
  fake.stdoutPath = c.stdoutPath.empty() && !kWindows ? kPackets : c.stdoutPath;
  fake.smallPipe = !c.interrupts.empty();  // on Windows, a pipe that holds little, so that a write waits
  Child child(fake);
  if (!c.sent.empty()) child.Send(c.sent);
  for (int signal : c.interrupts) {  // blocked (again): reading its output would let the write go on
    ASSERT_TRUE(child.BlockedWriting(10000, c.wait));
    if (!child.Interrupt(signal)) GTEST_SKIP() << "this console sends no Ctrl-Break (wine's sends none)";
  }
  if (kWindows && !c.interrupts.empty()) Pause(Scaled(1000));  // the handler's thread, a moment later
  EXPECT_EQ(child.Finish(), c.status);
  child.out.erase(0, std::min(child.out.find_first_not_of('\0'), child.out.size()));  // what filled a pipe
  EXPECT_TRUE(child.out == target.Lines(GetParam().out)) << child.out.size() << " bytes: " << child.out.substr(0, 400);
  EXPECT_THAT(child.err, testing::IsEmpty());
  EXPECT_THAT(fake.Calls(), ElementsAreArray(c.calls.value_or(CallsFor(c.input + c.sent))));
  if (fake.stdoutPath != kPackets) return;
  using Writes = testing::Matcher<const std::vector<std::size_t>&>;
  EXPECT_THAT(child.writes, AllOf(Each(Le(kOutputBuffer)), c.writes < 0 ? Writes(_) : testing::SizeIs(c.writes),
                                  c.write == 0 ? Writes(_) : testing::Contains(c.write).Times(1)));
}

// Each row is a test of its own, named after it.
INSTANTIATE_TEST_SUITE_P(Rows, Surroundings, testing::ValuesIn(SurroundingTable()), [](const auto& row) {
  std::string name = row.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

TEST(Surroundings, AReaderThatGoesAwayEndsTheProgramAfterTheCommandWithStatusOne) {
  FakeRun fake("");
  Child child(fake);
  ASSERT_TRUE(child.WaitFor(kPrompt));
  child.CloseOutput();
  child.Send("2");
  EXPECT_EQ(child.Finish(), 1);
  EXPECT_THAT(fake.Calls(), ElementsAreArray(CallsFor("2")));
}

// At a terminal: a pseudo-terminal, which echoes what is typed; or the Windows console,
// which echoes on its own screen, while the output comes through a pipe. Each test begins
// at the first prompt.
class Terminal : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Type("", 1)); }
  // Types the keys, then waits until the prompt has been shown `count` times in all.
  testing::AssertionResult Type(const std::string& keys, int count) {
    child.Send(keys);
    if (child.WaitFor("What is your selection?", count)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << testing::PrintToString(child.out);
  }
  // What shows in the output after the prompt when `keys` and Enter are typed.
  static std::string Echo(const std::string& keys) { return kWindows ? "" : keys + "\n"; }
  // What a person sees: line ends as LF.
  std::string Screen() const {
    std::string seen = child.out;
    seen.erase(std::remove(seen.begin(), seen.end(), '\r'), seen.end());
    return seen;
  }

  FakeRun fake{"", true};
  Child child{fake};
};

TEST_F(Terminal, EndOfInputIsReportedAndOnlyASecondOneInARowEnds) {
  const std::string end = kWindows ? "\x1a\r" : "\x04";  // Ctrl-Z then Enter, or Ctrl-D
  ASSERT_TRUE(Type(end, 2));
  EXPECT_FALSE(child.Exited(200));  // waits for more input
  ASSERT_TRUE(Type("x\r", 4));
  ASSERT_TRUE(Type(end, 5));
  EXPECT_FALSE(child.Exited(100));
  child.Send(end);
  EXPECT_EQ(child.Finish(), 0);
  const std::string screen = Screen();
  EXPECT_NE(screen.find(kIncorrect, screen.find(kIncorrect) + 1), std::string::npos) << screen;
  EXPECT_THAT(screen, EndsWith(kBye));
}

TEST_F(Terminal, SelectionsTypedWithEnterThenQ) {
  ASSERT_TRUE(Type("4\r", 3));
  child.Send("q\r");
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_THAT(Screen(),
              AllOf(testing::HasSubstr("? " + Echo("4") + kLow + kMenu + kMenu), EndsWith("? " + Echo("q") + kBye)));
  EXPECT_THAT(fake.Calls(), ElementsAreArray(CallsFor("4")));
}

// Last of those at the console: wine's console hands the next line typed there to the read
// that an interrupted program left behind, before any new program's.
TEST_F(Terminal, CtrlCAtThePromptEndsWithStatusTwo) {
  child.Send("\x03");
  EXPECT_TRUE(child.Exited(5000));
  EXPECT_EQ(child.Finish(), 2);
  // The pseudo-terminal shows the key.
  EXPECT_THAT(Screen(), EndsWith(kPrompt + (kWindows ? "" : "^C") + kBye));
}

// The simulator says at its open, on standard error, that it is simulated, and refuses any
// call outside the library's contract with a line there too (its own test shows that every
// refusal prints one), so that one line alone means that the program made no such call.
TEST(Simulator, EverySelectionWorksWithinTheContract) {
  if (target.program.empty()) GTEST_SKIP() << "the program is linked to a vendor library, not the simulator";
  const Ran ran = RunToEnd({.argv = target.Command(target.program)}, "4\n1\n3\n4\n2\n4\n1\nq\n");
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.err, target.Lines("VL_OSALib simulator: this is a simulated module; its readings are generated\n"));
  ASSERT_THAT(ran.out, testing::StartsWith(target.Lines(Header("v2.1 rev 5 | ADCType A1 ") + kMenu)));
  // Each readout's eight values, and each channel's level, wherever in the output they are.
  const std::string& out = ran.out;
  std::vector<double> values;
  for (std::size_t at = out.find("AIN VALUES"); at != std::string::npos; at = out.find("AIN VALUES", at + 1)) {
    double v[8];
    if (std::sscanf(&out[at], "AIN VALUES: %lf, %lf, %lf, %lf, %lf, %lf, %lf, %lf", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &v[6], &v[7]) == 8)
      values.insert(values.end(), v, v + 8);
  }
  std::vector<std::string> levels;
  char level[3];
  for (std::size_t at = out.find("CHANNEL_"); at != std::string::npos; at = out.find("CHANNEL_", at + 1))
    if (std::sscanf(&out[at], "CHANNEL_%*d LEVEL 0x%2s", level) == 1) levels.push_back(level);
  EXPECT_THAT(values, AllOf(testing::SizeIs(2 * 8), Each(AllOf(testing::Ge(-10.0), Le(10.0)))));
  // Never driven reads high; then what 3 and 2 drove.
  EXPECT_THAT(levels, testing::ElementsAre("01", "01", "01", "01", "01", "01", "00", "00", "00"));
}

}  // namespace
