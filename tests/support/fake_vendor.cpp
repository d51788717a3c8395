#include "tests/support/fake_vendor.h"

#ifndef _WIN32
#include <poll.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "module/vl_osalib.h"

namespace fake {

Script script;
std::vector<std::string> calls;
void (*beforeCall)() = nullptr;

namespace {

std::size_t nextReading = 0, nextLevel = 0;
// A program run with a script keeps no record in memory: its log file is the record, and a
// long run would otherwise grow without bound.
bool keepInMemory = true;
std::FILE* logFile = nullptr;

// Plain C parsing: the fake is also built where only the header parts of the C++ library
// are there (the MSVC-ABI build under wine).
template <typename T>
std::vector<T> List(const char* text) {
  std::vector<T> values;
  for (char* end = nullptr;; text = end + 1) {
    values.push_back(static_cast<T>(std::strtod(text, &end)));
    if (*end != ',') return values;
  }
}

// A program under test takes its script from the environment, once: words of key=value,
// the last of them log= with the rest of the text, the file that each call is appended to.
void LoadFromEnvironment() {
  static bool loaded = false;
  if (std::exchange(loaded, true)) return;
  const char* text = std::getenv("QUILLTERM_FAKE");
  keepInMemory = text == nullptr;
  for (const char* word = text; word != nullptr && *word != '\0'; word += std::strcspn(word, " ")) {
    word += std::strspn(word, " ");
    // What follows `key` if the word begins with it, else null.
    auto after = [&](const char* key) {
      return std::strncmp(word, key, std::strlen(key)) == 0 ? word + std::strlen(key) : nullptr;
    };
    if (const char* path = after("log=")) {
      logFile = std::fopen(path, "ab");
      break;
    }
    int wait = 0, version[3] = {};
    std::sscanf(word, "open=%d", &script.openResult);
    std::sscanf(word, "adc=%d", &script.adcType);
    if (std::sscanf(word, "wait=%d", &wait) == 1) script.wait = wait != 0;
    if (std::sscanf(word, "version=%d,%d,%d", &version[0], &version[1], &version[2]) == 3)
      for (int i = 0; i < 3; ++i) script.version[i] = static_cast<unsigned char>(version[i]);
    if (const char* values = after("readings=")) script.readings = List<float>(values);
    if (const char* values = after("levels=")) script.levels = List<int>(values);
  }
}

// Called as each call completes, so that a log cut short by an interrupt holds whole calls.
// Returns `result`, the call's.
template <typename T>
T Record(T result, const char* format, unsigned first = 0, unsigned second = 0) {
  if (beforeCall != nullptr) beforeCall();
  char line[64];
  std::snprintf(line, sizeof line, format, first, second);
  if (keepInMemory) calls.emplace_back(line);
  if (logFile != nullptr) {  // flushed at once: the program may end without returning
    std::fprintf(logFile, "%s\n", line);
    std::fflush(logFile);
  }
  return result;
}

// The next of `values`, round and round; 0 if there are none.
template <typename T>
T Next(const std::vector<T>& values, std::size_t& next) {
  return values.empty() ? T{} : values[next++ % values.size()];
}

}  // namespace

void Reset() {
  script = Script{};
  calls.clear();
  nextReading = nextLevel = 0;
}

}  // namespace fake

using fake::Record;
using fake::script;

extern "C" {

int VSL_CALL VSL_Open(void) {
  fake::LoadFromEnvironment();
  return Record(script.openResult, "Open");
}

int VSL_CALL VSL_Close(void) { return Record(0, "Close"); }

int VSL_CALL VSL_GetVersion(unsigned char* major, unsigned char* minor, unsigned char* revision) {
  *major = script.version[0];
  *minor = script.version[1];
  *revision = script.version[2];
  return Record(0, "GetVersion");
}

int VSL_CALL VSL_GetADCType(void) { return Record(script.adcType, "GetADCType"); }

int VSL_CALL VSL_ADCSetAnalogInputRange(unsigned char channel, unsigned char range) {
  return Record(0, "Range 0x%02X %u", channel, range);
}

VSL_AnalogReading VSL_CALL VSL_ADCGetAnalogInput(unsigned char channel, unsigned char mode) {
  return Record(fake::Next(script.readings, fake::nextReading), "Analog 0x%02X %u", channel, mode);
}

int VSL_CALL VSL_DIOSetChannelDirection(unsigned char channel, unsigned char direction) {
  return Record(0, "Direction %u %u", channel, direction);
}

int VSL_CALL VSL_DIOSetChannelLevel(unsigned char channel, unsigned char level) {
#ifndef _WIN32
  pollfd input{0, POLLIN, 0};
  if (script.wait && poll(&input, 1, -1) < 0 && errno == EINTR)
    return Record(0, "Level %u %u cut short", channel, level);
#endif
  return Record(0, "Level %u %u", channel, level);
}

int VSL_CALL VSL_DIOGetChannelLevel(unsigned char channel) {
  return Record(fake::Next(script.levels, fake::nextLevel), "GetLevel %u", channel);
}

}  // extern "C"
