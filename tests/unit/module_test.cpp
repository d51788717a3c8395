#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "module/mmpeeax_module.h"
#include "tests/support/fake_vendor.h"
#include "tests/support/model.h"

using namespace testing;

namespace {

struct ModuleTest : Test {
  ModuleTest() { fake::Reset(); }
};

// A module opened on the fake's defaults, with its start-up's calls put aside.
struct OpenModuleTest : ModuleTest {
  MmpeeaxModule module;
  OpenModuleTest() { fake::calls.clear(); }
};

// The calls made since the last look.
std::vector<std::string> NewCalls() { return std::exchange(fake::calls, {}); }

std::string InfoLine(const MmpeeaxModule& module) {
  char buffer[256];
  EXPECT_EQ(module.GetInfoString(buffer, sizeof buffer), 0);
  return buffer;
}

TEST_F(ModuleTest, ConstructionOpensThenReadsVersionThenAdcType) {
  fake::script.adcType = 0x102;  // only the low byte is the type
  MmpeeaxModule module;
  EXPECT_THAT(fake::calls, ElementsAreArray(kStartUp.data(), 3));  // Open, GetVersion, GetADCType
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
  const std::tuple<std::array<unsigned char, 3>, int, const char*> cases[] = {
      {{1, 2, 3}, 2, "Versalogic MMPEEAX v1.2 rev 3 | ADCType A2 "},
      {{1, 2, 3}, 1, "Versalogic MMPEEAX v1.2 rev 3 | ADCType A1 "},
      {{0, 0, 0}, 0, "Versalogic MMPEEAX v0.0 rev 0 | ADCType A0 "},
      {{9, 10, 11}, 3, "Versalogic MMPEEAX v9.10 rev 11 | ADCType A0 "},
      {{128, 200, 255}, 255, "Versalogic MMPEEAX v128.200 rev 255 | ADCType A0 "},
  };
  for (const auto& [version, adcType, line] : cases) {
    fake::Reset();
    std::memcpy(fake::script.version, version.data(), 3);
    fake::script.adcType = adcType;
    EXPECT_EQ(InfoLine(MmpeeaxModule()), line);
  }
}

TEST_F(ModuleTest, InfoStringNeverWritesPastTheSizeGiven) {
  const std::string full = "Versalogic MMPEEAX v255.255 rev 255 | ADCType A2 ";
  std::memset(fake::script.version, 255, 3);
  const MmpeeaxModule module;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{10}, full.size(), full.size() + 1}) {
    std::string buffer(64, '#');
    EXPECT_EQ(module.GetInfoString(&buffer[0], size), size > full.size() ? 0 : -1) << size;
    // As much of the line as fits, with its terminator, and nothing past `size`.
    EXPECT_EQ(buffer.substr(0, size), size == 0 ? "" : full.substr(0, size - 1) + '\0');
    EXPECT_EQ(buffer.substr(size), std::string(64 - size, '#'));
  }
  EXPECT_EQ(module.GetInfoString(nullptr, 10), -1);
}

TEST_F(ModuleTest, ReadAllAnalogInputsReadsEverySlotAfreshInSlotOrder) {
  for (int i = 0; i < 16; ++i) fake::script.readings.push_back(0.5f * static_cast<float>(i) - 3);
  MmpeeaxModule module;
  for (std::uint8_t code : MmpeeaxModule::kAnalogSlotCodes) EXPECT_EQ(module.ADCSetAnalogInputRange(code, 8), 0);
  EXPECT_THAT(NewCalls(), ElementsAreArray(kStartUp));
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(module.ReadAllAnalogInputs(), 0);
    EXPECT_THAT(NewCalls(), ElementsAreArray(CallsOf('1')));
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(module.analogValues[slot], 0.5 * (8 * pass + slot) - 3);
  }
}

TEST_F(OpenModuleTest, DigitalOperationsRefuseCodesOtherThan0x80To0x82WithoutAVendorCall) {
  for (std::uint8_t code = 0x83; code != 0x80; ++code) {  // every other code, round past 0xFF
    std::uint8_t level = 7;
    EXPECT_EQ(module.DIOSetChannelDirection(code, 0), -1) << int{code};
    EXPECT_EQ(module.DIOSetChannelLevel(code, 1), -1) << int{code};
    EXPECT_EQ(module.DIOGetChannelLevel(code, &level), -1) << int{code};
    EXPECT_EQ(level, 7);
  }
  EXPECT_EQ(module.DIOSetChannelDirection(0x81, 2), -1);
  EXPECT_THAT(fake::calls, IsEmpty());
  EXPECT_THAT(module.dioDirection, Each(2));
}

TEST_F(OpenModuleTest, DigitalOperationsGiveTheVendorTheLowFourBitsAndKeepTheLowByte) {
  fake::script.levels = {0x1A5};
  std::uint8_t level = 0;
  EXPECT_EQ(module.DIOSetChannelDirection(0x82, 1), 0);
  EXPECT_EQ(module.DIOSetChannelLevel(0x81, 1), 0);
  EXPECT_EQ(module.DIOGetChannelLevel(0x80, &level), 0);
  EXPECT_EQ(level, 0xA5);
  EXPECT_THAT(fake::calls, ElementsAre("Direction 2 1", "Level 1 1", "GetLevel 0"));
  EXPECT_THAT(module.dioDirection, ElementsAre(2, 2, 1));
}

TEST_F(OpenModuleTest, BulkDriveAndCloseDriveOnlyChannelsRecordedAsOutputs) {
  EXPECT_EQ(module.DIOSetAllOutputLevels(1), 0);
  EXPECT_THAT(fake::calls, IsEmpty());  // nothing set yet
  module.DIOSetChannelDirection(0x80, 0);
  module.DIOSetChannelDirection(0x81, 1);
  module.DIOSetChannelDirection(0x82, 0);
  EXPECT_EQ(module.DIOSetChannelDirection(0x80, 2), -1);  // refused: still an output
  EXPECT_THAT(module.dioDirection, ElementsAre(0, 1, 0));
  NewCalls();
  EXPECT_EQ(module.DIOSetAllOutputLevels(1), 0);
  EXPECT_EQ(module.Close(), 0);
  EXPECT_THAT(fake::calls, ElementsAre("Level 0 1", "Level 2 1", "Level 0 0", "Level 2 0", "Close"));
  EXPECT_FALSE(module.IsConnected());
}

}  // namespace
