#include "tests/support/child.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

int slowness = 1;

int Scaled(int milliseconds) { return milliseconds * std::max(1, slowness); }

void Pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool Child::Within(int milliseconds, const std::function<bool()>& done) {
  for (const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds); !done(); Pause(1))
    if (Clock::now() >= deadline) return false;
  return true;
}

bool Child::Pumping(int timeoutMs, const std::function<bool(bool open)>& done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(timeoutMs));
  for (bool open = true; !done(open);) {
    if (Clock::now() >= deadline) return false;
    if (!(open = Pump(10))) Pause(1);  // it ends a moment after its output
  }
  return true;
}

bool Child::WaitFor(const std::string& needle, int count, int timeoutMs) {
  auto seen = [&] {
    int found = 0;
    for (std::size_t at = out.find(needle); at != std::string::npos; at = out.find(needle, at + 1)) ++found;
    return found >= count;
  };
  Pumping(timeoutMs, [&](bool open) { return !open || seen(); });
  return seen();
}

bool Child::Exited(int timeoutMs) {
  return Pumping(timeoutMs, [this](bool) { return Reap(); });
}

int Child::Finish(int timeoutMs) {
  CloseInput();
  Pumping(timeoutMs, [this](bool open) { return !open && Reap(); });
  if (!Reap()) Kill();  // perhaps reaped, with its output still held open
  return *status_;
}

int startsRetried = 0;
#ifdef _WIN32
// Each test program says at its end how many it retried.
[[maybe_unused]] const int kRetriesSaid =
    std::atexit([] { std::printf("measured: failed_starts_retried=%d\n", startsRetried); });
#endif

Ran RunToEnd(const Launch& launch, const std::string& input) {
  for (int attempt = 0;; ++attempt) {
    Child child(launch);
    child.Send(input);
    const Ran ran{child.Finish(), child.out, child.err};  // in this order: Finish reads the output
    // wine now and then ends a process before any of its code ran: status 1 and nothing
    // printed, which the programs run to the end here never do. Then once more, counted.
    if (!kWindows || attempt > 0 || ran.status != 1 || !ran.out.empty() || !ran.err.empty()) return ran;
    ++startsRetried;
  }
}
