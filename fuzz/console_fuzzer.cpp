// Input bytes through the menu loop's dispatch to the module object, with the fake vendor
// behind it. The first bytes script the vendor; the rest is what the user types. Besides
// what the sanitizers catch, every call that reaches the vendor must keep its contract.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/dialogue.h"
#include "module/mmpeeax_module.h"
#include "tests/support/fake_vendor.h"
#include "tests/support/model.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);  // the program's output goes nowhere
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t kScript = 16;
  if (size < kScript || size > kScript + 65536) return 0;
  fake::Reset();
  dialogue::Reset();
  fake::script.openResult = data[0] < 16 ? data[0] : 0;
  std::memcpy(fake::script.version, data + 1, 3);
  fake::script.adcType = data[4] | data[5] << 8;
  fake::script.levels = {data[6] | data[7] << 8, data[8]};
  float reading;
  std::memcpy(&reading, data + 9, sizeof reading);
  fake::script.readings = {reading, static_cast<float>(static_cast<std::int8_t>(data[13])) / 4};

  MmpeeaxModule module;
  if (module.IsConnected()) {
    std::string buffer(256, '#');
    const std::size_t room = 1 + data[14];
    module.GetInfoString(&buffer[0], room);
    if (buffer.find('\0') >= room || buffer.find_first_not_of('#', room) != std::string::npos) __builtin_trap();

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) __builtin_trap();
    if (write(pipeEnds[1], data + kScript, size - kScript) != static_cast<ssize_t>(size - kScript)) __builtin_trap();
    close(pipeEnds[1]);
    if (dialogue::ServeMenu(module, pipeEnds[0], false) != 0) __builtin_trap();  // a pipe never fails, it only ends
    close(pipeEnds[0]);
  }
  // Every call is one that start-up or a selection makes.
  static const std::vector<std::string> contract = CallsFor("1234");
  for (const std::string& call : fake::calls)
    if (std::find(contract.begin(), contract.end(), call) == contract.end()) __builtin_trap();
  return 0;
}
