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
  const int length = std::snprintf(buffer, size, "Versalogic MMPEEAX v%i.%i rev %i | ADCType A%i ",
                                   versionMajor, versionMinor, versionRevision, designator);
  return (length >= 0 && static_cast<std::size_t>(length) < size) ? 0 : -1;
}
