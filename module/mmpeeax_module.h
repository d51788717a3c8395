// The one analog input module, reached only through the vendor library. It never prints:
// the console decides what the user sees.
#ifndef QUILLTERM_MODULE_MMPEEAX_MODULE_H
#define QUILLTERM_MODULE_MMPEEAX_MODULE_H

#include <cstddef>
#include <cstdint>

class MmpeeaxModule {
 public:
  // Plain fields, in this order, are the module's whole state.
  double analogValues[8];
  std::uint8_t dioDirection[3];  // 0 output, 1 input, 2 not yet set
  std::uint8_t versionMajor;
  std::uint8_t versionMinor;
  std::uint8_t versionRevision;
  std::uint8_t adcType;
  bool connected;

  // Opens the library and, when that succeeds, reads the identification. Ask IsConnected.
  MmpeeaxModule();

  int Open();
  bool IsConnected() const;
  int ReadInfo();
  int GetVersion();
  int GetADCType();
  // Writes the identification line, cut to fit `size` bytes with its terminator; returns -1
  // when it had to be cut or there is no room at all.
  int GetInfoString(char* buffer, std::size_t size) const;
};

#endif
