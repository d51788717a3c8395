#include <gtest/gtest.h>

#include <cmath>

#include "module/vl_osalib.h"

namespace {

class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(VSL_Open(), 0); }
  void TearDown() override { VSL_Close(); }
  static void ConfigureAll() {
    for (int n = 0; n < 8; ++n) ASSERT_EQ(VSL_ADCSetAnalogInputRange(static_cast<unsigned char>(16 * n + 14), 8), 0);
  }
};

TEST_F(SimulatorTest, IdentifiesItselfAndRefusesEverythingOnceClosed) {
  unsigned char version[3] = {};
  EXPECT_EQ(VSL_GetVersion(&version[0], &version[1], &version[2]), 0);
  EXPECT_EQ(version[0] * 10000 + version[1] * 100 + version[2], 20105);
  EXPECT_EQ(VSL_GetADCType(), 1);
  EXPECT_EQ(VSL_Open(), -1);
  ASSERT_EQ(VSL_Close(), 0);
  EXPECT_EQ(VSL_Close(), -1);
  EXPECT_EQ(VSL_GetADCType(), -1);
  EXPECT_EQ(VSL_GetVersion(&version[0], &version[1], &version[2]), -1);
  EXPECT_EQ(VSL_ADCSetAnalogInputRange(0x0E, 8), -1);
  EXPECT_EQ(VSL_DIOSetChannelDirection(0, 0), -1);
  EXPECT_EQ(VSL_DIOSetChannelLevel(0, 0), -1);
  EXPECT_EQ(VSL_DIOGetChannelLevel(0), -1);
  ASSERT_EQ(VSL_Open(), 0);
}

TEST_F(SimulatorTest, RefusesCallsOutsideTheContractAndChangesNothing) {
  EXPECT_EQ(VSL_DIOSetChannelDirection(0, 0), 0);
  EXPECT_EQ(VSL_DIOSetChannelLevel(0, 0), 0);
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

TEST_F(SimulatorTest, ReadingsAreDistinctWaveformsWithinTenVolts) {
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
