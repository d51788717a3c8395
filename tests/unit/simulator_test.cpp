#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>

#include "module/vl_osalib.h"

namespace {

// Every refusal says so in one line of its own on standard error; the program's end-to-end
// test takes a silent standard error as a sign that it made none.
struct SimulatorTest : testing::Test {
  void SetUp() override { ASSERT_EQ(VSL_Open(), 0); }
  void TearDown() override { VSL_Close(); }
  static void ConfigureAll() {
    for (int n = 0; n < 8; ++n) ASSERT_EQ(VSL_ADCSetAnalogInputRange(static_cast<unsigned char>(16 * n + 14), 8), 0);
  }
  // Runs `calls`, which must say on standard error `count` refusals, a whole line each, and nothing else.
  static void ExpectRefusals(int count, const std::function<void()>& calls) {
    testing::internal::CaptureStderr();
    calls();
    std::istringstream said(testing::internal::GetCapturedStderr());
    int lines = 0;
    for (std::string line; std::getline(said, line); ++lines)
      EXPECT_TRUE(line.rfind("VL_OSALib simulator: rejected ", 0) == 0 && !said.eof()) << line;  // eof: no line end
    EXPECT_EQ(lines, count);
  }
};

TEST_F(SimulatorTest, IdentifiesItselfAndRefusesEverythingOnceClosed) {
  unsigned char version[3] = {};
  EXPECT_EQ(VSL_GetVersion(&version[0], &version[1], &version[2]), 0);
  EXPECT_THAT(version, testing::ElementsAre(2, 1, 5));
  EXPECT_EQ(VSL_GetADCType(), 1);
  ConfigureAll();
  ExpectRefusals(11, [&] {
    EXPECT_EQ(VSL_Open(), -1);
    EXPECT_EQ(VSL_GetVersion(nullptr, &version[1], &version[2]), -1);
    EXPECT_EQ(VSL_GetVersion(&version[0], &version[1], nullptr), -1);
    EXPECT_EQ(VSL_Close(), 0);
    EXPECT_EQ(VSL_Close(), -1);
    EXPECT_EQ(VSL_GetADCType(), -1);
    EXPECT_EQ(VSL_GetVersion(&version[0], &version[1], &version[2]), -1);
    EXPECT_EQ(VSL_ADCSetAnalogInputRange(0x0E, 8), -1);
    EXPECT_TRUE(std::isnan(VSL_ADCGetAnalogInput(0x0E, 1)));
    EXPECT_EQ(VSL_DIOSetChannelDirection(0, 0), -1);
    EXPECT_EQ(VSL_DIOSetChannelLevel(0, 0), -1);
    EXPECT_EQ(VSL_DIOGetChannelLevel(0), -1);
  });
  ASSERT_EQ(VSL_Open(), 0);
}

TEST_F(SimulatorTest, RefusesCallsOutsideTheContractAndChangesNothing) {
  EXPECT_EQ(VSL_DIOSetChannelDirection(0, 0), 0);
  EXPECT_EQ(VSL_DIOSetChannelLevel(0, 0), 0);
  ExpectRefusals(19, [] {
    for (unsigned char channel : {3, 0x80, 0xFF}) {
      EXPECT_EQ(VSL_DIOSetChannelDirection(channel, 0), -1);
      EXPECT_EQ(VSL_DIOSetChannelLevel(channel, 0), -1);
      EXPECT_EQ(VSL_DIOGetChannelLevel(channel), -1);
    }
    EXPECT_EQ(VSL_DIOSetChannelDirection(0, 2), -1);
    EXPECT_EQ(VSL_DIOSetChannelLevel(0, 2), -1);
    EXPECT_EQ(VSL_DIOGetChannelLevel(0), 0);  // still an output driven low
    for (unsigned char code : {0x0F, 0x8E, 0x0D, 0xFE}) EXPECT_EQ(VSL_ADCSetAnalogInputRange(code, 8), -1) << int(code);
    EXPECT_EQ(VSL_ADCSetAnalogInputRange(0x0E, 7), -1);
    EXPECT_TRUE(std::isnan(VSL_ADCGetAnalogInput(0x0E, 1)));  // no range set yet
    ConfigureAll();
    EXPECT_TRUE(std::isnan(VSL_ADCGetAnalogInput(0x0E, 0)));
    EXPECT_TRUE(std::isnan(VSL_ADCGetAnalogInput(0x0F, 1)));
  });
}

TEST_F(SimulatorTest, InputsReadTheLevelLastDrivenOnTheLineOrHigh) {
  EXPECT_EQ(VSL_DIOGetChannelLevel(1), 1);  // never driven: pulled high
  VSL_DIOSetChannelLevel(1, 0);             // latched, but an input does not drive
  EXPECT_EQ(VSL_DIOGetChannelLevel(1), 1);
  VSL_DIOSetChannelDirection(1, 0);
  EXPECT_EQ(VSL_DIOGetChannelLevel(1), 0);
  VSL_DIOSetChannelLevel(1, 1);
  EXPECT_EQ(VSL_DIOGetChannelLevel(1), 1);
  VSL_DIOSetChannelLevel(1, 0);
  VSL_DIOSetChannelDirection(1, 1);
  EXPECT_EQ(VSL_DIOGetChannelLevel(1), 0);  // the line holds what was last driven
  EXPECT_EQ(VSL_DIOGetChannelLevel(0), 1);
  EXPECT_EQ(VSL_DIOGetChannelLevel(2), 1);
}

// Input n is (2 + n) sin(2 pi t / (5 + 3 n) + 0.7 n) volts, t counted from the open. Read
// right after an open, it can have moved from its phase by no more than its steepest slope
// times the time that passed, measured around the calls.
TEST_F(SimulatorTest, ReadingsAreTheDocumentedDistinctWaveformsWithinTenVolts) {
  for (int n = 0; n < 8; ++n) {
    const auto code = static_cast<unsigned char>(16 * n + 14);
    VSL_Close();
    const auto opening = std::chrono::steady_clock::now();
    ASSERT_EQ(VSL_Open(), 0);
    ASSERT_EQ(VSL_ADCSetAnalogInputRange(code, 8), 0);
    const double reading = VSL_ADCGetAnalogInput(code, 1);
    const std::chrono::duration<double> passed = std::chrono::steady_clock::now() - opening;
    const double slope = (2.0 + n) * 6.283185307179586 / (5.0 + 3.0 * n);
    EXPECT_NEAR(reading, (2.0 + n) * std::sin(0.7 * n), slope * passed.count() + 1e-5) << n;
  }
  ConfigureAll();
  double previous = 100;
  for (int n = 0; n < 8; ++n) {
    const double reading = VSL_ADCGetAnalogInput(static_cast<unsigned char>(16 * n + 14), 1);
    EXPECT_LE(std::fabs(reading), 10.0) << n;
    EXPECT_NE(reading, previous) << n;
    previous = reading;
  }
}

}  // namespace
