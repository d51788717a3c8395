// The one analog input module, reached only through the vendor library. It never prints:
// the console decides what the user sees.
#ifndef QUILLTERM_MODULE_MMPEEAX_MODULE_H
#define QUILLTERM_MODULE_MMPEEAX_MODULE_H

#include <cstddef>
#include <cstdint>

class MmpeeaxModule {
 public:
  // The analog channel code of each slot of analogValues: 16 * n + 14, n taken as 0, 4, 1,
  // 5, 2, 6, 3, 7.
  static constexpr std::uint8_t kAnalogSlotCodes[8] = {0x0E, 0x4E, 0x1E, 0x5E, 0x2E, 0x6E, 0x3E, 0x7E};
  // Digital channel i is code 0x80 + i.
  static constexpr std::uint8_t kFirstDigitalCode = 0x80;
  static constexpr int kDigitalChannels = 3;

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
  [[nodiscard]] bool IsConnected() const;
  int ReadInfo();
  int GetVersion();
  int GetADCType();
  // Writes the identification line, cut to fit `size` bytes with its terminator; returns -1
  // when it had to be cut or there is no room at all.
  int GetInfoString(char* buffer, std::size_t size) const;

  int ADCSetAnalogInputRange(std::uint8_t code, std::uint8_t range);
  int ADCGetAnalogInput(std::uint8_t code, double* value);
  // Reads every slot afresh, in slot order.
  int ReadAllAnalogInputs();

  // The per-channel operations take codes 0x80 to 0x82 only; any other returns -1 with no
  // vendor call, as does a direction other than 0 (output) or 1 (input).
  int DIOSetChannelDirection(std::uint8_t code, std::uint8_t direction);
  int DIOSetChannelLevel(std::uint8_t code, std::uint8_t level);
  int DIOGetChannelLevel(std::uint8_t code, std::uint8_t* level);
  // Drives every channel recorded as an output; inputs and channels not yet set are left alone.
  int DIOSetAllOutputLevels(std::uint8_t level);
  // Leaves the outputs low, then closes the library.
  int Close();
};

#endif
