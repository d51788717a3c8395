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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

using dialogue::kInterruptedStatus, dialogue::kTerminating, dialogue::kWaiting, dialogue::kWorking, dialogue::kWriting;
const int kMaxInterrupts = 2, kGiveWay = 2;

// The threads of a run are contexts of this one thread, each on a stack of its own, and the
// last is the test's: handing over the turn is a switch of context, and a run that ends
// leaves its contexts where they stand.
const int kTest = 1 + kMaxInterrupts;
using Entry = void (*)(int);
#ifdef _WIN32
const bool kBothTerms = false;
void* fibers[kTest + 1];
Entry entries[kTest + 1];
// With GCC a fiber is made once: made before, it starts afresh the next time it gets the
// turn, by a jump to its start that leaves the frames of the run it was in (plain data
// only); elsewhere it is made anew, which under wine costs a system call or two a run.
#ifdef __GNUC__
bool afresh[kTest + 1];
void* starts[kTest + 1][5];
#endif
void WINAPI FiberStart(void* index) {
  const int i = static_cast<int>(reinterpret_cast<std::intptr_t>(index));
#ifdef __GNUC__
  __builtin_setjmp(starts[i]);
#endif
  entries[i](i);
}
void Prepare(int index, Entry entry) {
  if (fibers[kTest] == nullptr) fibers[kTest] = ConvertThreadToFiber(nullptr);
  entries[index] = entry;
#ifdef __GNUC__
  afresh[index] = fibers[index] != nullptr;
  if (afresh[index]) return;
#else
  if (fibers[index] != nullptr) DeleteFiber(fibers[index]);
#endif
  fibers[index] = CreateFiber(1 << 16, FiberStart, reinterpret_cast<void*>(static_cast<std::intptr_t>(index)));
}
void Switch(int from, int to, bool /*forGood*/ = false) {
  SwitchToFiber(fibers[to]);
#ifdef __GNUC__
  if (afresh[from]) {
    afresh[from] = false;
    __builtin_longjmp(starts[from], 1);
  }
#else
  (void)from;
#endif
}
void Arrived(int /*index*/) {}
#else
const bool kBothTerms = true;
const std::size_t kStack = 1 << 18;
ucontext_t contexts[kTest + 1];
std::vector<char> stacks[kTest + 1];
#ifdef QUILLTERM_ADDRESS_SANITIZER
const void* testStack = nullptr;  // for AddressSanitizer, which is told of every switch
std::size_t testStackSize = 0;
#endif
void Prepare(int index, Entry entry) {
  stacks[index].resize(kStack);
#ifdef QUILLTERM_ADDRESS_SANITIZER
  __asan_unpoison_memory_region(stacks[index].data(), kStack);  // what the last run left there
#endif
  getcontext(&contexts[index]);
  contexts[index].uc_stack.ss_sp = stacks[index].data();
  contexts[index].uc_stack.ss_size = kStack;
  contexts[index].uc_link = nullptr;
  makecontext(&contexts[index], reinterpret_cast<void (*)()>(entry), 1, index);
}
// Into context `to`, and back once another switches here; never back if `forGood`.
void Switch(int from, int to, bool forGood = false) {
#ifdef QUILLTERM_ADDRESS_SANITIZER
  void* fake = nullptr;
  __sanitizer_start_switch_fiber(forGood ? nullptr : &fake, to == kTest ? testStack : stacks[to].data(),
                                 to == kTest ? testStackSize : kStack);
  swapcontext(&contexts[from], &contexts[to]);
  __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#else
  (void)forGood;
  swapcontext(&contexts[from], &contexts[to]);
#endif
}
// First thing in a context; the main thread's comes from the test's, whose stack it learns.
void Arrived(int index) {
#ifdef QUILLTERM_ADDRESS_SANITIZER
  const void* bottom = nullptr;
  std::size_t size = 0;
  __sanitizer_finish_switch_fiber(nullptr, &bottom, &size);
  if (index == 0) testStack = bottom, testStackSize = size;
#else
  (void)index;
#endif
}
#endif

enum class Terms { kPosix, kWindows, kConsole };
enum Waiting { kNothing, kInput, kForever };  // what keeps a thread from going on

struct Scenario {
  const char* name;
  Session session;
  bool keys;    // each read waits for the next key; otherwise a file, read a block at a time
  bool blocks;  // each write waits on a full pipe until the reader reads
};

std::vector<Scenario> Scenarios() {
  auto session = [](const std::string& input, std::vector<float> readings = {}, std::vector<int> levels = {}) {
    Session made;
    made.input = input;
    made.readings = readings;
    made.levels = levels;
    return made;
  };
  Session failing = session(""), refused = session(""), deaf = session("4q");
  failing.inputFails = deaf.outputFails = true;
  refused.openResult = 1;
  // With a buffer of 500 bytes, the second readout's line finds it full, and the last line
  // does not fit.
  return {{"the connection report, the first wait, then q", session("q"), true, false},
          {"selections 1 to 4 and a key that is none", session("12\n34q", {1.5F, -10.25F}, {1, 0, 255}), true, false},
          {"end of input reported, then final", session(""), true, false},
          {"a read error reported, then final", failing, true, false},
          {"a failed open", refused, true, false},
          {"a buffer found full inside a readout, then a last line that does not fit, every write blocked",
           session("1414q", {1e10F}), false, true},
          {"every write blocked on a full pipe until it is read", session("4q"), true, true},
          {"output that fails", deaf, true, false}};
}

// Where the run stood when a handler first touched the shared state, or where an interrupt
// ended a read at a console: its interrupt counts.
struct Moment {
  std::size_t reads, calls, gone;
  int state;
};

struct Thread {
  bool live, counted;
  Waiting waiting;
};

// The run in progress: its schedule, the simulated system, and how it ended.
struct Run {
  const Scenario* scenario = nullptr;
  Terms terms = Terms::kPosix;
  std::vector<int> schedule;             // the choices to take, in order; then the first of each
  std::vector<std::pair<int, int>> met;  // every choice met: the one taken, and how many there were
  Thread threads[1 + kMaxInterrupts] = {{true, false, kNothing}};
  int current = 0, used = 1, interrupts = 0, gaveWay = 0, status = 0;
  bool inHandler = false, peeking = false, held = false, pending = false;
  bool deferred = false, ignored = false;  // a console's first interrupt: its handler yet to start; never
  std::size_t cutAt = std::string::npos;   // the output when a second interrupt cut a write short
  platform::InterruptHandler handler = nullptr;
  long steps = 0;
  std::size_t readAt = 0, reads = 0;
  std::string out, failure;
  std::vector<Moment> moments;
};
Run run;

bool Runnable(int index) {
  const Thread& thread = run.threads[index];
  return thread.live && (thread.waiting == kNothing || (thread.waiting == kInput && run.interrupts == 0));
}

// Ends the run as the process ends: with every thread where it stands.
[[noreturn]] void End(int status, const char* failure = nullptr) {
  run.status = status & 0xFF;  // as a POSIX parent sees it; 2 and -1 read the same on Windows
  if (failure != nullptr) run.failure = failure;
  Switch(run.current, kTest, true);
  std::abort();
}

int Choose(int options) {
  if (options == 1) return 0;
  const std::size_t at = run.met.size();
  run.met.emplace_back(at < run.schedule.size() ? run.schedule[at] : 0, options);
  return run.met.back().first;
}

void SwitchTo(int index, bool forGood = false) {
  const int from = run.current;
  run.current = index;
  Switch(from, index, forGood);
}

void HandlerThread(int index) {
  Arrived(index);
  run.handler(SIGINT);
  run.threads[index].live = false;
  int runnable[1 + kMaxInterrupts], count = 0;
  for (int i = 0; i < run.used; ++i)
    if (Runnable(i)) runnable[count++] = i;
  if (count == 0) End(0, "an interrupt was handled, and then nothing went on");
  SwitchTo(runnable[Choose(count)], true);
}

// The handler, in place of the main thread, on POSIX terms.
bool Deliver() {
  run.inHandler = true;
  run.handler(SIGINT);
  run.inHandler = false;
  return true;
}

// A point of the current thread, where the run may go on, take an interrupt or (on Windows'
// terms) hand the turn to another thread; `waiting` is what the thread waits for here. True
// if a handler ran here in the thread's place (POSIX), which cuts short a call that waits.
bool Point(Waiting waiting = kNothing, bool shared = false) {
  if (run.inHandler) return false;
  if (++run.steps > 1 << 20) End(0, "the run goes on without end");
  const int self = run.current;
  run.threads[self].waiting = waiting;
  for (bool handled = false;;) {
    const int kOn = -1, kInterrupt = -2, kStart = -3, kIgnored = -4;
    int options[4 + kMaxInterrupts], count = 0;
    const bool goesOn = Runnable(self), spare = run.gaveWay < kGiveWay;
    if (goesOn) options[count++] = kOn;
    for (int i = 0; i < run.used && run.terms != Terms::kPosix; ++i)
      if (i != self && Runnable(i) && ((spare && shared) || !goesOn)) options[count++] = i;
    if (run.handler != nullptr && run.interrupts < kMaxInterrupts && run.gaveWay == 0 && !run.pending &&
        (run.terms != Terms::kConsole || run.interrupts > 0 || waiting == kInput))
      options[count++] = kInterrupt;
    if (run.deferred && self == 0) options[count++] = kStart;
    if (run.deferred && waiting == kInput && run.interrupts == 1) options[count++] = kIgnored;
    if (count == 0) {
      End(0, waiting == kInput     ? "it waits for input after an interrupt"
             : waiting == kForever ? "it waits for ever, and nothing else can end it"
                                   : "no thread can go on");
    }
    const int choice = options[Choose(count)];
    if (choice == kOn) break;
    if (choice == kIgnored) {
      run.ignored = true;
      const bool quiet = run.out.size() == run.moments[0].gone && fake::calls.size() == run.moments[0].calls;
      End(0, quiet ? nullptr : "output or calls, Ctrl-C ignored");
    }
    run.interrupts += choice == kInterrupt ? 1 : 0;
    if (choice == kInterrupt && run.terms == Terms::kConsole && run.interrupts == 1) {  // the read ends
      run.deferred = handled = run.peeking = true;                                      // and it counts here
      run.moments.push_back({run.reads, fake::calls.size(), run.out.size(), dialogue::CurrentState()});
      run.peeking = false;
    } else if (choice == kInterrupt && run.terms == Terms::kPosix) {
      handled = !run.held && Deliver();
      run.pending = run.held;  // and a second one while held is the same signal still pending
    } else if (choice == kInterrupt || choice == kStart) {
      run.deferred = run.deferred && choice != kStart;
      run.threads[run.used] = {true, choice == kStart, kNothing};
      Prepare(run.used, HandlerThread);
      SwitchTo(run.used++);
    } else {
      run.gaveWay += goesOn ? 1 : 0;
      SwitchTo(choice);
    }
    if (Runnable(self) || (handled && waiting == kInput)) {
      run.threads[self].waiting = kNothing;
      return handled;
    }
  }
  run.threads[self].waiting = kNothing;
  return false;
}

void MainThread(int index) {
  Arrived(index);
  End(dialogue::Run());
}

}  // namespace

// The simulated system.
namespace platform {

void InterruptPoint() {
  if (run.peeking) return;
  Point(kNothing, true);
  // The access follows at once: if it is a handler's first, its interrupt counts now. On
  // POSIX terms the handler in hand is the latest interrupt's; on Windows', this thread.
  Thread& self = run.threads[run.current];
  if (run.inHandler ? run.moments.size() < static_cast<std::size_t>(run.interrupts)
                    : run.current > 0 && !self.counted) {
    self.counted = run.peeking = true;
    run.moments.push_back({run.reads, fake::calls.size(), run.out.size(), dialogue::CurrentState()});
    run.peeking = false;
  }
}

ClosedStreams PrepareStandardStreams() { return ClosedStreams{}; }

// Held back, a signal is pending until taken; only on POSIX terms does it come while held.
void HoldInterrupts() { run.held = true; }
void TakeInterrupts() {
  run.held = false;
  if (std::exchange(run.pending, false)) Deliver();
}

void InstallInterruptHandler(InterruptHandler handler) {
  Point();
  run.handler = handler;
}

long ReadInput(int /*fd*/, void* data, std::size_t size) {
  Point();
  if (run.scenario->keys && Point(kInput)) {
    errno = EINTR;
    return -1;
  }
  ++run.reads;
  const Session& session = run.scenario->session;
  errno = EIO;
  if (run.readAt == session.input.size()) return session.inputFails ? -1 : 0;
  const std::size_t length = std::min(size, run.scenario->keys ? 1 : session.input.size() - run.readAt);
  std::memcpy(data, session.input.data() + run.readAt, length);
  run.readAt += length;
  return static_cast<long>(length);
}

// A blocked write waits before the reader takes any of it, and on POSIX terms again once it
// has taken half: a signal then cuts it short with that half written, as the kernel does.
long WriteOutput(const void* data, std::size_t size) {
  Point();
  errno = run.scenario->session.outputFails ? EPIPE : EINTR;
  const std::size_t part = run.scenario->blocks && run.terms == Terms::kPosix && size > 1 ? size / 2 : size;
  auto blocked = [] {  // true if a signal cut the write short here
    const int before = run.interrupts;
    const bool cutShort = Point();
    run.peeking = true;
    if (run.terms == Terms::kPosix && before < kMaxInterrupts && run.interrupts == kMaxInterrupts &&
        dialogue::CurrentState() == kWriting)
      run.cutAt = run.out.size();
    run.peeking = false;
    return cutShort;
  };
  if (run.scenario->session.outputFails) return -1;
  if (run.scenario->blocks && blocked()) return -1;
  run.out.append(static_cast<const char*>(data), part);
  if (part < size && blocked()) return static_cast<long>(part);
  run.out.append(static_cast<const char*>(data) + part, size - part);
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

namespace {

void VendorCall() { Point(); }

void RunOnce(const Scenario& scenario, Terms terms, const std::vector<int>& schedule) {
  run = Run{};
  run.scenario = &scenario;
  run.terms = terms;
  run.schedule = schedule;
  fake::Reset();
  fake::script.openResult = scenario.session.openResult;
  fake::script.readings = scenario.session.readings;
  fake::script.levels = scenario.session.levels;
  fake::beforeCall = VendorCall;
  run.peeking = true;
  dialogue::Reset();
  run.peeking = false;
  Prepare(0, MainThread);
#ifdef QUILLTERM_ADDRESS_SANITIZER
  __lsan_disable();  // the program leaves its module allocated for the process's life, every run
#endif
  Switch(kTest, 0);
#ifdef QUILLTERM_ADDRESS_SANITIZER
  __lsan_enable();
#endif
}

// The next schedule, depth first: the last choice with an option left takes the next one.
bool NextSchedule(std::vector<int>& schedule) {
  std::size_t i = run.met.size();
  while (i > 0 && run.met[i - 1].first + 1 == run.met[i - 1].second) --i;
  if (i == 0) return false;
  schedule.resize(i);
  for (std::size_t j = 0; j < i; ++j) schedule[j] = run.met[j].first + (j + 1 == i ? 1 : 0);
  return true;
}

struct Ending {
  std::string body;
  std::size_t calls;
};

// Where the model lets a run end after one interrupt that counts at `m`: the turn it came
// in finishes its selection, and shows no further menu unless it had shown its own and was
// waiting to read; then the program ends.
std::vector<Ending> EndingsAfterOne(const Prediction& p, const Moment& m) {
  std::vector<Ending> endings;
  auto add = [&](const Turn& turn, bool menu) {
    endings.push_back({p.out.substr(0, turn.out) + (menu ? kMenu : ""), turn.calls});
  };
  if (m.reads == 0 && m.calls <= p.turns[0].calls) add(p.turns[0], false);  // in start-up
  for (std::size_t i = 0; i + 1 < p.turns.size(); ++i) {
    const Turn& turn = p.turns[i];
    if (m.reads == turn.reads && m.calls == turn.calls) add(turn, false);
    // Also just as the read returns: the program then ends without taking what it read.
    if ((m.reads == turn.reads || m.reads == turn.reads + 1) && m.calls == turn.calls && turn.readsFirst)
      add(turn, true);
    // On Windows' terms the handler counts its interrupt and claims the end a step later: a
    // read that does not wait may return in between, and the turn goes on.
    const bool readAfter = run.terms == Terms::kWindows && m.state == kWaiting && m.reads == turn.reads;
    if ((readAfter || m.reads == turn.reads + (turn.readsFirst ? 1 : 0)) && m.calls >= turn.calls &&
        m.calls <= p.turns[i + 1].calls)
      add(p.turns[i + 1], false);
  }
  return endings;
}

// What is wrong with the run just made, by the model; empty if nothing.
std::string Verdict(const Prediction& p) {
  const std::vector<std::string>& calls = fake::calls;
  const bool written = !run.scenario->session.outputFails;
  if (!run.failure.empty() || run.ignored) return run.failure;
  if (!written && !run.out.empty()) return "output where none can be written";
  // No interrupt, or one that came once the program had set out to end: as if none came,
  // but for the status, which it may still make 2.
  if (run.moments.empty() || run.moments[0].state == kTerminating) {
    const bool two = !run.moments.empty() && run.status == kInterruptedStatus;
    if (run.status != (p.status & 0xFF) && !two) return "the status of a run with no interrupt";
    if (written && run.out != p.out && !(two && run.out == p.out + kBye))
      return "the output of a run with no interrupt";
    return calls == p.calls ? "" : "the calls of a run with no interrupt";
  }
  if (run.status != kInterruptedStatus) return "a status other than 2";
  if (written && (run.out.size() < kBye.size() || run.out.find(kBye) != run.out.size() - kBye.size()))
    return "the last line not once, and last";
  const std::string body = written ? run.out.substr(0, run.out.size() - kBye.size()) : "";
  const bool twice = run.moments.size() > 1 && run.moments[1].state != kTerminating;
  for (const Ending& ending : EndingsAfterOne(p, run.moments[0])) {
    if (!(twice ? calls.size() <= ending.calls : calls.size() == ending.calls) ||
        !std::equal(calls.begin(), calls.end(), p.calls.begin()) ||
        !(twice ? ending.body.compare(0, body.size(), body) == 0 : body == ending.body))
      continue;
    if (!twice || !written) return "";
    // A second interrupt ends the program at once, losing nothing printed before it unless
    // it came while that was being written.
    const Moment& second = run.moments[1];
    if (body.size() > run.cutAt) return "output written after a second interrupt came while a write was blocked";
    const std::size_t printed = second.state != kWriting && second.calls > 0 ? p.outAtCall[second.calls - 1] : 0;
    return body.size() >= std::max(second.gone, printed) ? "" : "output printed before a second interrupt lost";
  }
  return "calls or output other than an interrupt in that turn leaves";
}

struct Tally {
  long runs[1 + kMaxInterrupts] = {}, points = 0, failed = 0, ignored = 0;
};

char windowsTerms[64];
const char* const kTerms[] = {"POSIX terms", windowsTerms,
                              "a console's terms (the first ends a read; its handler starts at a later point of the "
                              "main thread, up to and at its next wait, or never)"};

void Enumerate(const Scenario& scenario, Terms terms, Tally& tally) {
  const Prediction p = Predict(scenario.session, {false, false, scenario.keys ? std::size_t{1} : 256});
  std::vector<int> schedule;
  do {
    RunOnce(scenario, terms, schedule);
    tally.points += schedule.empty() ? run.steps : 0;
    ++tally.runs[run.interrupts];
    tally.ignored += run.ignored ? 1 : 0;
    const std::string verdict = Verdict(p);
    if (verdict.empty() || ++tally.failed > 3) continue;
    std::string choices;
    for (const auto& choice : run.met) choices += static_cast<char>('0' + choice.first);
    std::printf("FAIL: %s, %s: %s (status %d, %zu calls, %zu bytes out; choices %s)\n", scenario.name,
                kTerms[static_cast<int>(terms)], verdict.c_str(), run.status, fake::calls.size(), run.out.size(),
                choices.c_str());
    for (const Moment& m : run.moments)
      std::printf("  an interrupt counted after %zu reads, %zu calls, %zu bytes out, in state %d\n", m.reads, m.calls,
                  m.gone, m.state);
  } while (NextSchedule(schedule));
}

}  // namespace

int main() {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<Scenario> scenarios = Scenarios();
  std::snprintf(windowsTerms, sizeof windowsTerms, "Windows terms (giving way at most %d times)", kGiveWay);
  Tally tallies[3];
  for (const Scenario& scenario : scenarios)
    for (int t = kBothTerms ? 0 : 1; t < 3; ++t) Enumerate(scenario, static_cast<Terms>(t), tallies[t]);
  const char* const keys[] = {"posix", "windows", "console"};
  for (int t = kBothTerms ? 0 : 1; t < 3; ++t) {
    std::printf(
        "measured: interrupt_moments terms=%s give_way=%d sessions=%zu points=%ld one_interrupt=%ld ignored=%ld "
        "two_interrupts=%ld failed=%ld\n",
        keys[t], t == 0 ? 0 : kGiveWay, scenarios.size(), tallies[t].points, tallies[t].runs[1], tallies[t].ignored,
        tallies[t].runs[2], tallies[t].failed);
  }
  std::printf("measured: interrupt_moments seconds=%.1f\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return tallies[0].failed + tallies[1].failed + tallies[2].failed == 0 ? 0 : 1;
}
