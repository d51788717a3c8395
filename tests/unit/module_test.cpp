#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "module/mmpeeax_module.h"
#include "tests/support/fake_vendor.h"
#include "tests/support/model.h"

using testing::Each;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

namespace {

struct ModuleTest : testing::Test {
  void SetUp() override { fake::Reset(); }
};

std::string InfoLine(const MmpeeaxModule& module) {
  char buffer[256];
  EXPECT_EQ(module.GetInfoString(buffer, sizeof buffer), 0);
  return buffer;
}

TEST_F(ModuleTest, ConstructionOpensThenReadsVersionThenAdcType) {
  fake::script.adcType = 0x102;  // only the low byte is the type
  MmpeeaxModule module;
  EXPECT_THAT(fake::calls, ElementsAre("Open", "GetVersion", "GetADCType"));
  EXPECT_TRUE(module.IsConnected());
  EXPECT_EQ(module.adcType, 2);
  EXPECT_THAT(module.analogValues, Each(0.0));
  EXPECT_THAT(module.dioDirection, Each(2));
}

TEST_F(ModuleTest, FailedOpenCallsNothingElseAndLeavesIdentificationZero) {
  for (int result : {1, -1, 255}) {
    fake::Reset();
    fake::script.openResult = result;
    MmpeeaxModule module;
    EXPECT_THAT(fake::calls, ElementsAre("Open"));
    EXPECT_FALSE(module.IsConnected());
    EXPECT_EQ(module.Open(), -1);
    EXPECT_EQ(module.versionMajor + module.versionMinor + module.versionRevision + module.adcType, 0);
    EXPECT_EQ(InfoLine(module), "Versalogic MMPEEAX v0.0 rev 0 | ADCType A0 ");
  }
}

TEST_F(ModuleTest, IdentificationLineShowsVersionAndOnlyKnownAdcTypes) {
  struct Case {
    unsigned char version[3];
    int adcType;
    const char* line;
  } cases[] = {
      {{1, 2, 3}, 2, "Versalogic MMPEEAX v1.2 rev 3 | ADCType A2 "},
      {{1, 2, 3}, 1, "Versalogic MMPEEAX v1.2 rev 3 | ADCType A1 "},
      {{0, 0, 0}, 0, "Versalogic MMPEEAX v0.0 rev 0 | ADCType A0 "},
      {{9, 10, 11}, 3, "Versalogic MMPEEAX v9.10 rev 11 | ADCType A0 "},
      {{128, 200, 255}, 255, "Versalogic MMPEEAX v128.200 rev 255 | ADCType A0 "},
  };
  for (const Case& c : cases) {
    fake::Reset();
    std::memcpy(fake::script.version, c.version, 3);
    fake::script.adcType = c.adcType;
    EXPECT_EQ(InfoLine(MmpeeaxModule()), c.line);
  }
}

TEST_F(ModuleTest, InfoStringNeverWritesPastTheSizeGiven) {
  const std::string full = "Versalogic MMPEEAX v255.255 rev 255 | ADCType A2 ";
  std::memset(fake::script.version, 255, 3);
  const MmpeeaxModule module;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{10}, full.size(), full.size() + 1}) {
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(module.GetInfoString(buffer, size), size > full.size() ? 0 : -1) << size;
    EXPECT_EQ(std::string(buffer + size, sizeof buffer - size), std::string(sizeof buffer - size, '#'));
    if (size > 0) {
      EXPECT_EQ(std::string(buffer), full.substr(0, size - 1));
    }
  }
  EXPECT_EQ(module.GetInfoString(nullptr, 10), -1);
}

TEST_F(ModuleTest, ReadAllAnalogInputsReadsEverySlotAfreshInSlotOrder) {
  for (int i = 0; i < 16; ++i) fake::script.readings.push_back(0.5f * static_cast<float>(i) - 3);
  MmpeeaxModule module;
  fake::calls.clear();
  EXPECT_EQ(module.ADCSetAnalogInputRange(0x5E, 8), 0);
  EXPECT_THAT(fake::calls, ElementsAre("Range 0x5E 8"));
  for (int pass = 0; pass < 2; ++pass) {
    fake::calls.clear();
    EXPECT_EQ(module.ReadAllAnalogInputs(), 0);
    EXPECT_THAT(fake::calls, ElementsAreArray(CallsOf('1')));
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(module.analogValues[slot], 0.5 * (8 * pass + slot) - 3);
  }
}

TEST_F(ModuleTest, DigitalOperationsRefuseCodesOtherThan0x80To0x82WithoutAVendorCall) {
  MmpeeaxModule module;
  fake::calls.clear();
  for (int code = 0; code <= 0xFF; ++code) {
    if (code >= 0x80 && code <= 0x82) continue;
    std::uint8_t level = 7;
    const auto c = static_cast<std::uint8_t>(code);
    EXPECT_EQ(module.DIOSetChannelDirection(c, 0), -1) << code;
    EXPECT_EQ(module.DIOSetChannelLevel(c, 1), -1) << code;
    EXPECT_EQ(module.DIOGetChannelLevel(c, &level), -1) << code;
    EXPECT_EQ(level, 7);
  }
  EXPECT_EQ(module.DIOSetChannelDirection(0x81, 2), -1);
  EXPECT_THAT(fake::calls, IsEmpty());
  EXPECT_THAT(module.dioDirection, Each(2));
}

TEST_F(ModuleTest, DigitalOperationsGiveTheVendorTheLowFourBitsAndKeepTheLowByte) {
  fake::script.levels = {0x1A5};
  MmpeeaxModule module;
  fake::calls.clear();
  std::uint8_t level = 0;
  EXPECT_EQ(module.DIOSetChannelDirection(0x82, 1), 0);
  EXPECT_EQ(module.DIOSetChannelLevel(0x81, 1), 0);
  EXPECT_EQ(module.DIOGetChannelLevel(0x80, &level), 0);
  EXPECT_EQ(level, 0xA5);
  EXPECT_THAT(fake::calls, ElementsAre("Direction 2 1", "Level 1 1", "GetLevel 0"));
  EXPECT_THAT(module.dioDirection, ElementsAre(2, 2, 1));
}

TEST_F(ModuleTest, BulkDriveAndCloseDriveOnlyChannelsRecordedAsOutputs) {
  MmpeeaxModule module;
  fake::calls.clear();
  EXPECT_EQ(module.DIOSetAllOutputLevels(1), 0);
  EXPECT_THAT(fake::calls, IsEmpty());  // nothing set yet
  module.DIOSetChannelDirection(0x80, 0);
  module.DIOSetChannelDirection(0x81, 1);
  module.DIOSetChannelDirection(0x82, 0);
  EXPECT_EQ(module.DIOSetChannelDirection(0x80, 2), -1);  // refused: still an output
  EXPECT_THAT(module.dioDirection, ElementsAre(0, 1, 0));
  fake::calls.clear();
  EXPECT_EQ(module.DIOSetAllOutputLevels(1), 0);
  EXPECT_EQ(module.Close(), 0);
  EXPECT_THAT(fake::calls, ElementsAre("Level 0 1", "Level 2 1", "Level 0 0", "Level 2 0", "Close"));
  EXPECT_FALSE(module.IsConnected());
}

}  // namespace
