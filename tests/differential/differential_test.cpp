// Random sessions against the model of the dialogue: random vendor behaviour, and random
// input bytes weighted towards the selections, line ends and q.
//
// Seeds are fixed; QUILLTERM_SEED changes them, and QUILLTERM_SESSIONS sets how many
// sessions to try.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/support/target.h"

namespace {

// The number that the environment variable `name` holds, or `otherwise` if it is not set.
int Setting(const char* name, int otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : otherwise;
}

Session RandomSession(std::mt19937& random) {
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  Session s;
  if (uniform(0, 9) == 0) s.vendor.openResult = std::vector<int>{1, -1, 255, 0x10000, uniform(1, 1000)}[uniform(0, 4)];
  for (unsigned char& part : s.vendor.version) part = static_cast<unsigned char>(uniform(0, 255));
  s.vendor.adcType = std::vector<int>{0, 1, 2, 3, 255, 0x101, 0x102, -1, uniform(-1000, 1000)}[uniform(0, 8)];
  // Now and then a value from the edges that the formats have to get right.
  const std::vector<float> edgeReadings = {1.5F, -10.25F, 0.0F, -0.004F, 9.999F, 1e10F, -3e38F};
  const std::vector<int> edgeLevels = {0, 1, 255, 256, 0x1A5, -1, 100000};
  for (int i = uniform(0, 5); i > 0; --i) {
    const double scale = std::vector<double>{1, 10, 1e6, 3e38}[uniform(0, 3)];
    const auto any = static_cast<float>(std::uniform_real_distribution<double>(-scale, scale)(random));
    s.vendor.readings.push_back(uniform(0, 3) == 0 ? edgeReadings[static_cast<std::size_t>(uniform(0, 6))] : any);
  }
  for (int i = uniform(0, 5); i > 0; --i)
    s.vendor.levels.push_back(uniform(0, 2) == 0 ? edgeLevels[static_cast<std::size_t>(uniform(0, 6))] : uniform(0, 1));
  const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 24)(random);
  while (s.input.size() < length)
    s.input += uniform(0, 3) > 0 ? "1234\n\nq"[uniform(0, 6)] : static_cast<char>(uniform(0, 255));
  return s;
}

TEST(Differential, RandomSessionsMatchTheModelExactly) {
  std::mt19937 random(static_cast<unsigned>(Setting("QUILLTERM_SEED", 1)));
  const int sessions = Setting("QUILLTERM_SESSIONS", 10000);
  for (int i = 0, failures = 0; i < sessions && failures < 5; ++i) {
    const Session session = RandomSession(random);
    const Prediction expected = Predict(session, {kWindows, target.tiesAway});
    FakeRun run(session.Script());
    const Ran ran = RunToEnd(run, session.input);
    const bool same = ran.status == expected.status && ran.out == target.Lines(expected.out) && ran.err.empty() &&
                      run.Calls() == expected.calls;
    EXPECT_TRUE(same) << "session " << i << ": " << session.Script() << " input "
                      << testing::PrintToString(session.input) << "\nstatus " << ran.status << ", "
                      << run.Calls().size() << " calls, out\n" + ran.out + "\nexpected\n" + expected.out + ran.err;
    failures += same ? 0 : 1;
  }
  std::printf("measured: differential sessions=%d halfway_readings=%d\n", sessions, TiesMet());
}

}  // namespace
