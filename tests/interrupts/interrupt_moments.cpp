// Every interrupt moment, enumerated. The program's own main loop and interrupt handler run
// here on a simulated system: its input, output, interrupts and vendor library are the
// test's, and at every point where the loop or the handler touches what they share
// (platform::InterruptPoint), reads, writes, calls the vendor or ends, the test decides
// how the run goes on. For each session every schedule is run in which an interrupt lands
// at one point, then every one in which a second lands at a later point, on two terms:
//  - POSIX: the handler runs to completion at that point, in place of the main thread, with
//    the signal blocked while it runs; where the main thread holds it back (around vendor
//    calls), it stays pending until taken. A blocked write that a signal cuts short returns
//    what it had written, if any.
//  - Windows: each interrupt's handler is a thread of its own, started at that point. The
//    threads' steps interleave: every order is tried in which a thread that could go on
//    gives way to another at most kGiveWay times, just before it touches the shared state,
//    and the second interrupt comes before any has. A thread that has to wait gives way
//    freely: for input (none comes after an interrupt: the user waits), or for ever.
//  - a real Windows console's: as Windows', but the first interrupt ends a read that waits;
//    its handler's thread starts at one later point of the main thread, up to and at its
//    next wait, or never (Ctrl-C ignored: the program must go on waiting, printing nothing).
// Each outcome is held to the model of the dialogue. Nothing is timed: the same runs, in the
// same order, everywhere. A Windows build tries the Windows terms alone.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// The program's dialogue, built with the interrupt points and a small output buffer.
#include "console/dialogue.h"
#include "console/platform.h"
#include "tests/support/fake_vendor.h"
#include "tests/support/model.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <ucontext.h>
#endif
#ifdef QUILLTERM_ADDRESS_SANITIZER  // set by the build along with the sanitizer
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using dialogue::kInterruptedStatus, dialogue::kTerminating, dialogue::kWaiting, dialogue::kWriting;
const int kMaxInterrupts = 2, kGiveWay = 2;
// The threads of a run (the main thread, then each interrupt's handler) are contexts of this
// one thread, each on a stack of its own, and the last is the test's: handing over the turn
// is a switch of context, and a run that ends leaves its contexts where they stand.
const int kTest = 1 + kMaxInterrupts;

enum Terms { kPosix, kWindows, kConsole };
const char* const kTermsNames[] = {"posix", "windows", "console"};
// What keeps a thread from going on: nothing, input, everything for ever, or its end (a
// handler's, which hands the turn on for good).
enum Waiting { kNothing, kInput, kForever, kEnded };
// Why a run stops where no thread can go on, by what the current one waits for.
const char* const kStuck[] = {"no thread can go on", "it waits for input after an interrupt",
                              "it waits for ever, and nothing else can end it",
                              "an interrupt was handled, and then nothing went on"};
// What a point may choose besides handing the turn to another thread (by its index).
enum Option { kOn = -1, kInterrupt = -2, kStart = -3, kIgnored = -4 };

struct Scenario {
  const char* name;
  // Whether each read waits for the next key (otherwise the input is a file, read a block at a
  // time), and whether each write waits on a full pipe until the reader reads.
  bool keys, blocks;
  Session session;
};

std::vector<Scenario> Scenarios() {
  auto session = [](std::string input, std::vector<float> readings = {}, std::vector<int> levels = {}) {
    Session made;
    std::tie(made.input, made.vendor.readings, made.vendor.levels) = std::tie(input, readings, levels);
    return made;
  };
  Session failing = session(""), refused = session(""), deaf = session("4q");
  failing.inputFails = deaf.outputFails = true;
  refused.vendor.openResult = 1;
  // With a buffer of 500 bytes, the second readout's line finds it full, and the last line
  // does not fit.
  return {{"the connection report, the first wait, then q", true, false, session("q")},
          {"selections 1 to 4 and a key that is none", true, false, session("12\n34q", {1.5F, -10.25F}, {1, 0, 255})},
          {"end of input reported, then final", true, false, session("")},
          {"a read error reported, then final", true, false, failing},
          {"a failed open", true, false, refused},
          {"a buffer found full inside a readout, then a last line that does not fit, every write blocked", false, true,
           session("1414q", {1e10F})},
          {"every write blocked on a full pipe until it is read", true, true, session("4q")},
          {"output that fails", true, false, deaf}};
}

// Where the run stood when a handler first touched the shared state, or where an interrupt
// ended a read at a console: its interrupt counts.
struct Moment {
  std::size_t reads, calls, gone;
  int state;
};

// The schedule, depth first: every choice met so far in the run, the option taken and how
// many there were; a run takes the first option of each choice beyond it.
std::vector<std::pair<int, int>> schedule;

// The run in progress: the simulated system, and how it ended.
struct Run {
  const Scenario* scenario;
  Terms terms;
  Waiting waiting[1 + kMaxInterrupts] = {};
  bool counted[1 + kMaxInterrupts] = {};  // whether a handler's interrupt counts already
  int current = kTest, used = 1, interrupts = 0, gaveWay = 0, status = 0;
  // peeking: the test is touching the dialogue (see Peek), as it does until the program starts.
  bool inHandler = false, held = false, pending = false, peeking = true;
  bool deferred = false, ignored = false;  // a console's first interrupt: its handler yet to start; never
  std::size_t cutAt = std::string::npos;   // the output when a second interrupt cut a write short
  platform::InterruptHandler handler = nullptr;
  std::size_t choices = 0, steps = 0, readAt = 0, reads = 0;  // choices: how many of the schedule's it met
  const char* failure = "";
  std::string out = "";
  std::vector<Moment> moments = {};
};
Run run;

void Begin();  // where each thread starts, as the current one

#ifdef _WIN32
const bool kBothTerms = false;
void* fibers[kTest + 1];
// With GCC a fiber is made once: made before, it starts afresh the next time it gets the
// turn, by a jump to its start that leaves the frames of the run it was in (plain data
// only); elsewhere it is made anew, which under wine costs a system call or two a run.
#ifdef __GNUC__
bool afresh[kTest + 1];
void* starts[kTest + 1][5];
#endif
void WINAPI FiberStart(void* /*data*/) {
#ifdef __GNUC__
  __builtin_setjmp(starts[run.current]);
#endif
  Begin();
}
void Prepare(int index) {
  if (fibers[kTest] == nullptr) fibers[kTest] = ConvertThreadToFiber(nullptr);
#ifdef __GNUC__
  afresh[index] = fibers[index] != nullptr;
  if (afresh[index]) return;
#else
  if (fibers[index] != nullptr) DeleteFiber(fibers[index]);
#endif
  fibers[index] = CreateFiber(1 << 16, FiberStart, nullptr);
}
// Hands the turn to thread `to`, and goes on once another hands it back; never if `forGood`.
void Switch(int to, bool /*forGood*/ = false) {
  run.current = to;
  SwitchToFiber(fibers[to]);
#ifdef __GNUC__
  // Back here, this fiber is the current one again.
  if (std::exchange(afresh[run.current], false)) __builtin_longjmp(starts[run.current], 1);
#endif
}
#else
const bool kBothTerms = true;
const std::size_t kStack = 1 << 18;
ucontext_t contexts[kTest + 1];
char stacks[kTest][kStack];
#ifdef QUILLTERM_ADDRESS_SANITIZER
const void* testStack = nullptr;  // for AddressSanitizer, which is told of every switch
std::size_t testStackSize = 0;
#endif
void Prepare(int index) {
#ifdef QUILLTERM_ADDRESS_SANITIZER
  __asan_unpoison_memory_region(stacks[index], kStack);  // what the last run left there
#endif
  getcontext(&contexts[index]);
  contexts[index].uc_stack.ss_sp = stacks[index];
  contexts[index].uc_stack.ss_size = kStack;
  makecontext(&contexts[index], Begin, 0);
}
// Hands the turn to thread `to`, and goes on once another hands it back; never if `forGood`.
void Switch(int to, [[maybe_unused]] bool forGood = false) {
#ifdef QUILLTERM_ADDRESS_SANITIZER
  void* fake = nullptr;
  __sanitizer_start_switch_fiber(forGood ? nullptr : &fake, to == kTest ? testStack : stacks[to],
                                 to == kTest ? testStackSize : kStack);
#endif
  swapcontext(&contexts[std::exchange(run.current, to)], &contexts[to]);
#ifdef QUILLTERM_ADDRESS_SANITIZER
  __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#endif
}
#endif

bool Runnable(int i) { return run.waiting[i] == kNothing || (run.waiting[i] == kInput && run.interrupts == 0); }

// Ends the run as the process ends: with every thread where it stands.
[[noreturn]] void End(int status, const char* failure = "") {
  run.status = status & 0xFF;  // as a POSIX parent sees it; 2 and -1 read the same on Windows
  run.failure = failure;
  Switch(kTest, true);
  std::abort();
}

// One of `count` options, as the schedule says.
int Choose(const int* options, int count) {
  if (count == 1) return options[0];
  if (run.choices == schedule.size()) schedule.emplace_back(0, count);
  return options[schedule[run.choices++].first];
}

// The dialogue's state, as the test looks at it: while it does, the dialogue's accesses are no
// points of the run.
int Peek() {
  run.peeking = true;
  const int state = dialogue::CurrentState();
  run.peeking = false;
  return state;
}

// Where the run stands as an interrupt counts.
void Count() { run.moments.push_back({run.reads, fake::calls.size(), run.out.size(), Peek()}); }

// A point of the current thread, where the run may go on, take an interrupt or (on Windows'
// terms) hand the turn to another thread; `waiting` is what the thread waits for here. True
// if a handler ran here in the thread's place (POSIX), which cuts short a call that waits.
bool Point(Waiting waiting = kNothing, bool shared = false) {
  if (run.inHandler) return false;
  if (++run.steps > 1U << 20) End(0, "the run goes on without end");
  const int self = run.current;
  run.waiting[self] = waiting;
  bool handled = false;
  do {
    int options[4 + kMaxInterrupts], count = 0;
    const bool goesOn = Runnable(self), spare = run.gaveWay < kGiveWay;
    if (goesOn) options[count++] = kOn;
    for (int i = 0; i < run.used && run.terms != kPosix; ++i)
      if (i != self && Runnable(i) && ((spare && shared) || !goesOn)) options[count++] = i;
    if (run.handler != nullptr && run.interrupts < kMaxInterrupts && run.gaveWay == 0 && !run.pending &&
        waiting != kEnded && (run.terms != kConsole || run.interrupts > 0 || waiting == kInput))
      options[count++] = kInterrupt;
    if (run.deferred && self == 0) options[count++] = kStart;
    if (run.deferred && waiting == kInput && run.interrupts == 1) options[count++] = kIgnored;
    if (count == 0) End(0, kStuck[waiting]);
    const int choice = Choose(options, count);
    if (choice == kIgnored) {
      run.ignored = true;
      const bool quiet = run.out.size() == run.moments[0].gone && fake::calls.size() == run.moments[0].calls;
      End(0, quiet ? "" : "output or calls, Ctrl-C ignored");
    }
    run.interrupts += choice == kInterrupt ? 1 : 0;
    if (choice == kInterrupt && run.terms == kConsole && run.interrupts == 1) {  // the read ends, and counts
      run.deferred = handled = true;
      Count();
    } else if (choice == kInterrupt && run.terms == kPosix) {  // a signal: taken at once unless held back
      run.pending = true;                                      // and a second one while held is the same signal
      handled = !run.held;
      if (handled) platform::TakeInterrupts();
    } else if (choice == kInterrupt || choice == kStart) {
      run.deferred = run.deferred && choice != kStart;
      run.counted[run.used] = choice == kStart;
      Prepare(run.used);
      Switch(run.used++);
    } else if (choice != kOn) {
      run.gaveWay += goesOn ? 1 : 0;
      Switch(choice, waiting == kEnded);
    }
  } while (!Runnable(self) && !(handled && waiting == kInput));
  run.waiting[self] = kNothing;
  return handled;
}

void Begin() {
#ifdef QUILLTERM_ADDRESS_SANITIZER  // a switch into a new context ends here; the main thread's learns the test's stack
  const bool fromTest = run.current == 0;
  __sanitizer_finish_switch_fiber(nullptr, fromTest ? &testStack : nullptr, fromTest ? &testStackSize : nullptr);
#endif
  if (run.current == 0) End(dialogue::Run());
  run.handler(SIGINT);  // a handler's thread
  Point(kEnded);
}

void RunOnce(const Scenario& scenario, Terms terms) {
  run = Run{&scenario, terms};
  fake::Reset();
  fake::script = scenario.session.vendor;
  dialogue::Reset();
  run.peeking = false;
  Prepare(0);
#ifdef QUILLTERM_ADDRESS_SANITIZER
  __lsan::ScopedDisabler leaks;  // the program leaves its module allocated for the process's life, every run
#endif
  Switch(0);
}

// The next schedule: the last choice with an option left takes the next one, and those after
// it are dropped. False once none has one left.
bool NextSchedule() {
  while (!schedule.empty() && ++schedule.back().first == schedule.back().second) schedule.pop_back();
  return !schedule.empty();
}

// Whether the run ends where the model lets it after one interrupt that counts at `m`: the
// turn it came in finishes its selection, and shows no further menu unless it had shown its
// own and was waiting to read; then the program ends. After a second interrupt that counts
// before the end, it may stop anywhere short of that, having printed `body`.
bool EndsAsOneLets(const Prediction& p, const Moment& m, const std::string& body, bool twice) {
  auto endsAt = [&](const Turn& turn, bool menu) {
    const std::string ending = p.out.substr(0, turn.out) + (menu ? kMenu : "");
    return (twice ? fake::calls.size() <= turn.calls : fake::calls.size() == turn.calls) &&
           std::equal(fake::calls.begin(), fake::calls.end(), p.calls.begin()) &&
           (twice ? ending.compare(0, body.size(), body) == 0 : body == ending);
  };
  bool ends = m.reads == 0 && m.calls <= p.turns[0].calls && endsAt(p.turns[0], false);  // in start-up
  for (std::size_t i = 0; i + 1 < p.turns.size(); ++i) {
    const Turn& turn = p.turns[i];
    ends = ends || (m.reads == turn.reads && m.calls == turn.calls && endsAt(turn, false));
    // Also just as the read returns: the program then ends without taking what it read.
    ends = ends || ((m.reads == turn.reads || m.reads == turn.reads + 1) && m.calls == turn.calls && turn.readsFirst &&
                    endsAt(turn, true));
    // On Windows' terms the handler counts its interrupt and claims the end a step later: a
    // read that does not wait may return in between, and the turn goes on.
    const bool readAfter = run.terms == kWindows && m.state == kWaiting && m.reads == turn.reads;
    ends = ends || ((readAfter || m.reads == turn.reads + (turn.readsFirst ? 1 : 0)) && m.calls >= turn.calls &&
                    m.calls <= p.turns[i + 1].calls && endsAt(p.turns[i + 1], false));
  }
  return ends;
}

// What is wrong with the run just made, by the model; empty if nothing.
std::string Verdict(const Prediction& p) {
  const bool written = !run.scenario->session.outputFails;
  if (*run.failure != '\0' || run.ignored) return run.failure;
  if (!written && !run.out.empty()) return "output where none can be written";
  // No interrupt, or one that came once the program had set out to end: as if none came,
  // but for the status, which it may still make 2.
  if (run.moments.empty() || run.moments[0].state == kTerminating) {
    const bool two = !run.moments.empty() && run.status == kInterruptedStatus;
    if (run.status != (p.status & 0xFF) && !two) return "the status of a run with no interrupt";
    if (written && run.out != p.out && !(two && run.out == p.out + kBye))
      return "the output of a run with no interrupt";
    return fake::calls == p.calls ? "" : "the calls of a run with no interrupt";
  }
  if (run.status != kInterruptedStatus) return "a status other than 2";
  if (written && (run.out.size() < kBye.size() || run.out.find(kBye) != run.out.size() - kBye.size()))
    return "the last line not once, and last";
  const std::string body = written ? run.out.substr(0, run.out.size() - kBye.size()) : "";
  const bool twice = run.moments.size() > 1 && run.moments[1].state != kTerminating;
  if (!EndsAsOneLets(p, run.moments[0], body, twice))
    return "calls or output other than an interrupt in that turn leaves";
  if (!twice || !written) return "";
  // A second interrupt ends the program at once, losing nothing printed before it unless
  // it came while that was being written.
  const Moment& second = run.moments[1];
  if (body.size() > run.cutAt) return "output written after a second interrupt came while a write was blocked";
  const std::size_t printed = second.state != kWriting && second.calls > 0 ? p.outAtCall[second.calls - 1] : 0;
  return body.size() >= std::max(second.gone, printed) ? "" : "output printed before a second interrupt lost";
}

}  // namespace

// The simulated system.
namespace platform {

void InterruptPoint() {
  if (run.peeking) return;
  Point(kNothing, true);
  // The access follows at once: if it is a handler's first, its interrupt counts now. On
  // POSIX terms the handler in hand is the latest interrupt's; on Windows', this thread.
  if (run.inHandler ? run.moments.size() < static_cast<std::size_t>(run.interrupts)
                    : run.current > 0 && !std::exchange(run.counted[run.current], true))
    Count();
}

ClosedStreams PrepareStandardStreams() { return ClosedStreams{}; }

// Held back, a signal is pending until taken; only on POSIX terms does it come while held.
// Taken, its handler runs to completion in place of the main thread.
void HoldInterrupts() { run.held = true; }
void TakeInterrupts() {
  run.held = false;
  if (!std::exchange(run.pending, false)) return;
  run.inHandler = true;
  run.handler(SIGINT);
  run.inHandler = false;
}

void InstallInterruptHandler(InterruptHandler handler) {
  Point();
  run.handler = handler;
}

long ReadInput(int /*fd*/, void* data, std::size_t size) {
  Point();
  errno = EINTR;
  if (run.scenario->keys && Point(kInput)) return -1;
  ++run.reads;
  const Session& session = run.scenario->session;
  errno = EIO;
  const std::size_t length = session.input.copy(static_cast<char*>(data), run.scenario->keys ? 1 : size, run.readAt);
  run.readAt += length;
  return length > 0 ? static_cast<long>(length) : session.inputFails ? -1 : 0;
}

// A blocked write waits before the reader takes any of it, and on POSIX terms again once it
// has taken half: a signal then cuts it short with that half written, as the kernel does.
long WriteOutput(const void* data, std::size_t size) {
  Point();
  errno = run.scenario->session.outputFails ? EPIPE : EINTR;
  const std::size_t part = run.scenario->blocks && run.terms == kPosix && size > 1 ? size / 2 : size;
  if (run.scenario->session.outputFails) return -1;
  for (std::size_t from = 0, to = part; from < size; from = to, to = size) {
    if (run.scenario->blocks) {  // it waits for the reader: a signal may cut it short here
      const int before = run.interrupts;
      const bool cutShort = Point();
      if (run.terms == kPosix && before < kMaxInterrupts && run.interrupts == kMaxInterrupts && Peek() == kWriting)
        run.cutAt = run.out.size();
      if (cutShort) return from > 0 ? static_cast<long>(from) : -1;
    }
    run.out.append(static_cast<const char*>(data) + from, to - from);
  }
  return static_cast<long>(size);
}

void Park() {
  Point(kForever);
  End(0, "a parked thread went on");
}

void Exit(int status) {
  Point();
  End(status);
}

}  // namespace platform

int main() {
  const auto start = std::chrono::steady_clock::now();
  fake::beforeCall = [] { Point(); };
  long failures = 0;
  for (int t = kBothTerms ? 0 : 1; t < 3; ++t) {
    long runs[1 + kMaxInterrupts] = {}, points = 0, ignored = 0, failed = 0;
    for (const Scenario& scenario : Scenarios()) {
      const Prediction p = Predict(scenario.session, {false, false, scenario.keys ? std::size_t{1} : 256});
      for (bool first = true; first || NextSchedule(); first = false) {
        RunOnce(scenario, static_cast<Terms>(t));
        points += first ? static_cast<long>(run.steps) : 0;
        ++runs[run.interrupts];
        ignored += run.ignored ? 1 : 0;
        const std::string verdict = Verdict(p);
        if (verdict.empty() || ++failed > 3) continue;
        std::string choices;
        for (const auto& choice : schedule) choices += static_cast<char>('0' + choice.first);
        std::printf("FAIL: %s, terms=%s: %s (status %d, %zu calls, %zu bytes out; choices %s)\n", scenario.name,
                    kTermsNames[t], verdict.c_str(), run.status, fake::calls.size(), run.out.size(), choices.c_str());
        for (const Moment& m : run.moments)
          std::printf("  an interrupt counted after %zu reads, %zu calls, %zu bytes out, in state %d\n", m.reads,
                      m.calls, m.gone, m.state);
      }
    }
    std::printf(
        "measured: interrupt_moments terms=%s give_way=%d sessions=%zu points=%ld one_interrupt=%ld ignored=%ld "
        "two_interrupts=%ld failed=%ld\n",
        kTermsNames[t], t == 0 ? 0 : kGiveWay, Scenarios().size(), points, runs[1], ignored, runs[2], failed);
    failures += failed;
  }
  std::printf("measured: interrupt_moments seconds=%.1f\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return failures == 0 ? 0 : 1;
}
