#include "tests/support/model.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

// What reaches the program on Windows, where input is read in text mode: CR LF arrives as
// LF, and Ctrl-Z ends the input.
std::string AsRead(std::string input, bool windows) {
  if (!windows) return input;
  input = input.substr(0, input.find('\x1a'));
  for (std::size_t at = input.find("\r\n"); at != std::string::npos; at = input.find("\r\n", at)) input.erase(at, 1);
  return input;
}

// Readings that lie exactly halfway between two outputs of %5.2f; they come from floats,
// so the product below is exact. wine's ucrtbase rounds them away from zero, where glibc,
// mingw-w64 and Windows' own UCRT round them to even: the model rounds as the runtime
// under test does, and counts them.
int tiesMet = 0;
double AsPrinted(double value, bool tiesAway) {
  const double scaled = value * 200;
  if (scaled != std::floor(scaled) || std::fmod(scaled, 2) == 0) return value;
  ++tiesMet;
  return tiesAway ? std::nextafter(value, value > 0 ? HUGE_VAL : -HUGE_VAL) : value;
}

}  // namespace

int TiesMet() { return tiesMet; }

std::string Session::Script() const {
  char text[64];
  std::snprintf(text, sizeof text, "open=%d version=%d,%d,%d adc=%d", vendor.openResult, vendor.version[0],
                vendor.version[1], vendor.version[2], vendor.adcType);
  std::string script = text;
  auto list = [&](const char* key, auto values, const char* format) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      std::snprintf(text, sizeof text, format, values[i]);
      script += (i > 0 ? std::string(",") : std::string(" ") + key + "=") + text;
    }
  };
  list("readings", vendor.readings, "%.9g");
  list("levels", vendor.levels, "%d");
  return script;
}

Prediction Predict(const Session& session, const Conventions& conventions) {
  const std::string input = AsRead(session.input, conventions.windows);
  Prediction p;
  char line[512];
  auto call = [&](const std::string& name) {
    p.calls.push_back(name);
    p.outAtCall.push_back(p.out.size());
  };
  call("Open");
  if (session.vendor.openResult != 0) {
    p.out = "Quillterm: Failed to connect to VersalogicMMPEEAX Analog Input Module\n";
    p.status = conventions.windows ? -1 : 255;  // exit(-1), as eight bits on POSIX
    p.turns.push_back({p.out.size(), p.calls.size(), 0, false});
    return p;
  }
  call("GetVersion");
  call("GetADCType");
  const int type = session.vendor.adcType & 0xFF;
  std::snprintf(line, sizeof line, "v%d.%d rev %d | ADCType A%d ", session.vendor.version[0], session.vendor.version[1],
                session.vendor.version[2], type == 1 || type == 2 ? type : 0);
  p.out = Header(line);
  for (std::size_t i = 3; i < kStartUp.size(); ++i) call(kStartUp[i]);
  if (session.outputFails) {  // found at the first wait, and the end
    p.out.clear();
    p.turns = {{0, p.calls.size(), 0, true}, {0, p.calls.size(), 0, false}};
    p.status = 1;
    return p;
  }
  // The fake hands out its readings and levels in turn, round and round; 0 if it has none.
  auto inTurn = [](const auto& values, std::size_t& at) { return values.empty() ? 0 : values[at++ % values.size()]; };
  std::size_t reading = 0, level = 0, reads = 0;
  bool ended = false;
  for (std::size_t next = 0;;) {
    // The program reads once what it read before is used up, and at every turn once the
    // input has ended.
    const bool readsFirst = next % conventions.block == 0 || next == input.size();
    p.turns.push_back({p.out.size(), p.calls.size(), reads, readsFirst});
    reads += readsFirst ? 1 : 0;
    p.out += kMenu;
    if (next == input.size()) {  // ended or failed: reported once, then the end
      p.status = session.inputFails ? 1 : 0;
      if (std::exchange(ended, true)) break;
      p.out += kIncorrect;
      continue;
    }
    const char selection = input[next++];
    if (selection == 'q') break;
    // A level read prints its channel's line at once.
    for (const std::string& name : CallsOf(selection)) {
      call(name);
      if (name.compare(0, 9, "GetLevel ") != 0) continue;
      const int value = inTurn(session.vendor.levels, level);
      std::snprintf(line, sizeof line, "CHANNEL_%d LEVEL 0x%02X\n", name.back() - '0' + 1, value & 0xFF);
      p.out += line;
    }
    if (selection == '1') {
      double values[8];
      for (double& value : values) value = AsPrinted(inTurn(session.vendor.readings, reading), conventions.tiesAway);
      std::snprintf(line, sizeof line, "AIN VALUES: %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f, %5.2f\n",
                    values[0], values[1], values[2], values[3], values[4], values[5], values[6], values[7]);
      p.out += line;
    }
  }
  p.turns.push_back({p.out.size(), p.calls.size(), reads, false});
  p.out += kBye;
  return p;
}
