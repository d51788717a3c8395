// A vendor library for tests: it answers from a script and records every call, in order,
// with its arguments ("Range 0x0E 8", "Level 0 1", ...).
#ifndef QUILLTERM_TESTS_SUPPORT_FAKE_VENDOR_H
#define QUILLTERM_TESTS_SUPPORT_FAKE_VENDOR_H

#include <string>
#include <vector>

namespace fake {

struct Script {
  int openResult = 0;
  unsigned char version[3] = {1, 2, 3};
  int adcType = 2;
  std::vector<float> readings;  // handed out in turn, round and round; none reads 0
  std::vector<int> levels;      // likewise for level reads
  // POSIX: each level set first waits in the kernel, as a driver's call may wait for its
  // device, until standard input can be read or has ended; logged "cut short" if a signal
  // cut that wait short.
  bool wait = false;
};

// Set by unit tests directly, which read `calls`; a program linked with the fake reads it from QUILLTERM_FAKE
// ("open=1 version=1,2,3 adc=2 readings=1.5,-2 levels=0,1 wait=1 log=PATH") and appends each
// call as a line to the file named last, by log= (its path may hold spaces).
extern Script script;
extern std::vector<std::string> calls;
// Where set, called as each call begins: a test that steps through the program stops there.
extern void (*beforeCall)();

void Reset();

}  // namespace fake

#endif
