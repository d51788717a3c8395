#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "module/mmpeeax_module.h"
#include "tests/fake_vendor.h"

using testing::ElementsAre;
using testing::Each;

namespace {

class ModuleTest : public testing::Test {
 protected:
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
    const int status = module.GetInfoString(buffer, size);
    EXPECT_EQ(status, size > full.size() ? 0 : -1) << size;
    EXPECT_EQ(std::string(buffer + size, sizeof buffer - size), std::string(sizeof buffer - size, '#'));
    if (size > 0) {
      EXPECT_EQ(std::string(buffer), full.substr(0, size - 1));
    }
  }
  EXPECT_EQ(module.GetInfoString(nullptr, 10), -1);
}

}  // namespace
