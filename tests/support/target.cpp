#include "tests/support/target.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Environment(const char* name, const char* otherwise = "") {
  const char* value = std::getenv(name);
  return value != nullptr ? value : otherwise;
}

}  // namespace

#ifdef _WIN32
const bool kWindows = true;
#else
const bool kWindows = false;
#endif

const Target& Target::Get() {
  static const Target instance{Environment("QUILLTERM_E2E_EMULATOR"),
                               Environment("QUILLTERM_E2E_FAKE", QUILLTERM_FAKE_PROGRAM),
                               Environment("QUILLTERM_E2E_PROGRAM", QUILLTERM_PROGRAM), kWindows,
                               !Environment("QUILLTERM_E2E_TIES_AWAY").empty()};
  return instance;
}

std::vector<std::string> Target::Command(const std::string& path) const {
  std::vector<std::string> command;
  std::istringstream words(emulator);
  for (std::string word; words >> word;) command.push_back(word);
  command.push_back(path);
  return command;
}

std::string Target::Lines(const std::string& text) const {
  if (!windows) return text;
  std::string lines;
  for (char c : text) (c == '\n' ? lines += "\r\n" : lines += c);
  return lines;
}

FakeRun::FakeRun(const std::string& script, bool terminal, std::vector<std::string> args)
    : log(TemporaryFile("quillterm-calls")) {
  launch.argv = Target::Get().Command(Target::Get().fake);
  launch.argv.insert(launch.argv.end(), args.begin(), args.end());
  launch.environment = {"QUILLTERM_FAKE=" + script, "QUILLTERM_FAKE_LOG=" + log};
  launch.terminal = terminal;
}

FakeRun::~FakeRun() {
  std::remove(log.c_str());
  if (!input.empty()) std::remove(input.c_str());
}

// Input from a file rather than a pipe, so that a child busy writing is never also
// waiting for the test to write.
void FakeRun::InputFromFile(const std::string& bytes) {
  if (input.empty()) input = TemporaryFile("quillterm-input");
  std::ofstream(input, std::ios::binary | std::ios::trunc) << bytes;
  launch.stdinPath = input;
}

std::vector<std::string> FakeRun::Calls() const {
  std::vector<std::string> calls;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  return calls;
}
