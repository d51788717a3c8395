#include "module/mmpeeax_module.h"

#include <cstdio>

#include "module/vl_osalib.h"

MmpeeaxModule::MmpeeaxModule()
    : analogValues{},
      dioDirection{2, 2, 2},
      versionMajor(0),
      versionMinor(0),
      versionRevision(0),
      adcType(0),
      connected(false) {
  Open();
  if (connected) ReadInfo();
}

int MmpeeaxModule::Open() {
  connected = VSL_Open() == 0;
  return connected ? 0 : -1;
}

bool MmpeeaxModule::IsConnected() const { return connected; }

int MmpeeaxModule::ReadInfo() {
  GetVersion();
  GetADCType();
  return 0;
}

int MmpeeaxModule::GetVersion() {
  VSL_GetVersion(&versionMajor, &versionMinor, &versionRevision);
  return 0;
}

int MmpeeaxModule::GetADCType() {
  adcType = static_cast<std::uint8_t>(VSL_GetADCType() & 0xFF);
  return 0;
}

int MmpeeaxModule::GetInfoString(char* buffer, std::size_t size) const {
  if (buffer == nullptr || size == 0) return -1;
  const int designator = (adcType == 1 || adcType == 2) ? adcType : 0;
  const int length = std::snprintf(buffer, size, "Versalogic MMPEEAX v%i.%i rev %i | ADCType A%i ", versionMajor,
                                   versionMinor, versionRevision, designator);
  return (length >= 0 && static_cast<std::size_t>(length) < size) ? 0 : -1;
}

int MmpeeaxModule::ADCSetAnalogInputRange(std::uint8_t code, std::uint8_t range) {
  VSL_ADCSetAnalogInputRange(code, range);
  return 0;
}

int MmpeeaxModule::ADCGetAnalogInput(std::uint8_t code, double* value) {
  *value = VSL_ADCGetAnalogInput(code, 1);
  return 0;
}

int MmpeeaxModule::ReadAllAnalogInputs() {
  for (int slot = 0; slot < 8; ++slot) ADCGetAnalogInput(kAnalogSlotCodes[slot], &analogValues[slot]);
  return 0;
}

namespace {

// The vendor's channel number for a digital channel code, or -1 for a code that names none.
int DigitalChannel(std::uint8_t code) {
  const int channel = code - MmpeeaxModule::kFirstDigitalCode;
  return (channel >= 0 && channel < MmpeeaxModule::kDigitalChannels) ? (code & 0x0F) : -1;
}

}  // namespace

int MmpeeaxModule::DIOSetChannelDirection(std::uint8_t code, std::uint8_t direction) {
  const int channel = DigitalChannel(code);
  if (channel < 0 || direction > 1) return -1;
  VSL_DIOSetChannelDirection(static_cast<unsigned char>(channel), direction);
  dioDirection[code - kFirstDigitalCode] = direction;
  return 0;
}

int MmpeeaxModule::DIOSetChannelLevel(std::uint8_t code, std::uint8_t level) {
  const int channel = DigitalChannel(code);
  if (channel < 0) return -1;
  VSL_DIOSetChannelLevel(static_cast<unsigned char>(channel), level);
  return 0;
}

int MmpeeaxModule::DIOGetChannelLevel(std::uint8_t code, std::uint8_t* level) {
  const int channel = DigitalChannel(code);
  if (channel < 0) return -1;
  *level = static_cast<std::uint8_t>(VSL_DIOGetChannelLevel(static_cast<unsigned char>(channel)) & 0xFF);
  return 0;
}

int MmpeeaxModule::DIOSetAllOutputLevels(std::uint8_t level) {
  for (int i = 0; i < kDigitalChannels; ++i) {
    if (dioDirection[i] == 0) DIOSetChannelLevel(static_cast<std::uint8_t>(kFirstDigitalCode + i), level);
  }
  return 0;
}

int MmpeeaxModule::Close() {
  DIOSetAllOutputLevels(0);
  VSL_Close();
  connected = false;
  return 0;
}
