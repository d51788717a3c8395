#include "tests/support/child.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

Clock::time_point In(int milliseconds) { return Clock::now() + std::chrono::milliseconds(Scaled(milliseconds)); }

}  // namespace

int slowness = 1;

int Scaled(int milliseconds) { return milliseconds * std::max(1, slowness); }

int Setting(const char* name, int otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : otherwise;
}

bool Child::WaitFor(const std::string& needle, int count, int timeoutMs) {
  const auto deadline = In(timeoutMs);
  auto occurrences = [&] {
    int found = 0;
    for (std::size_t at = out.find(needle); at != std::string::npos; at = out.find(needle, at + 1)) ++found;
    return found;
  };
  while (occurrences() < count)
    if (MillisecondsLeft(deadline) == 0 || !Pump(MillisecondsLeft(deadline))) return occurrences() >= count;
  return true;
}

bool Child::Exited(int timeoutMs) { return ExitedBy(In(timeoutMs)); }

bool Child::ExitedBy(Clock::time_point deadline) {
  while (!Reap()) {
    if (MillisecondsLeft(deadline) == 0) return false;
    if (!Pump(std::min(10, MillisecondsLeft(deadline)))) AwaitEnd();
  }
  return true;
}

int Child::Finish(int timeoutMs) {
  CloseInput();
  const auto deadline = In(timeoutMs);
  while (MillisecondsLeft(deadline) > 0 && Pump(MillisecondsLeft(deadline))) continue;
  if (ExitedBy(deadline)) return status_;
  Kill();
  return kKilled;
}

int startsRetried = 0;
#ifdef _WIN32
namespace {
struct Retries {
  ~Retries() { std::printf("measured: failed_starts_retried=%d\n", startsRetried); }
} retries;
}  // namespace
#endif

int RunToEnd(const Launch& launch, const std::string& input, std::string* out, std::string* err) {
  for (int attempt = 0;; ++attempt) {
    Child child(launch);
    child.Send(input);
    const int status = child.Finish();
    if (out != nullptr) *out = child.out;
    if (err != nullptr) *err = child.err;
    // wine now and then ends a process before any of its code ran: status 1 and nothing
    // printed, which the programs run to the end here never do. Then once more, counted.
    if (!kStartsFail || attempt > 0 || status != 1 || !child.out.empty() || !child.err.empty()) return status;
    ++startsRetried;
  }
}
