#include "tests/support/target.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

Target target{{}, QUILLTERM_FAKE_PROGRAM, QUILLTERM_PROGRAM};

// The build tells a test program what it runs: --fake=PATH and --program=PATH, another
// toolchain's programs; --slowness=N, how many times slower than natively they run (sanitized,
// or under wine); --ties-away, that their printf rounds exact halves away from zero; and after
// --, a command to run them through, with its options (valgrind's).
int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
  char** const command = std::find(argv + 1, argv + argc, std::string("--"));
  if (command != argv + argc) target.emulator.assign(command + 1, argv + argc);
  for (char** next = argv + 1; next != command; ++next) {
    const std::string argument = *next, value = argument.substr(argument.find('=') + 1);
    auto is = [&](const char* name) { return argument.rfind(name, 0) == 0; };
    if (is("--fake=")) target.fake = value;
    if (is("--program=")) target.program = value;
    if (is("--slowness=")) slowness = std::stoi(value);
    if (argument == "--ties-away") target.tiesAway = true;
    if (!is("--fake=") && !is("--program=") && !is("--slowness=") && argument != "--ties-away")
      ADD_FAILURE() << "unknown argument: " << argument;
  }
  return RUN_ALL_TESTS();
}

std::vector<std::string> Target::Command(const std::string& path, const std::vector<std::string>& args) const {
  std::vector<std::string> command = emulator;
  command.push_back(path);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::string Target::Lines(const std::string& text) const {
  if (!kWindows) return text;
  std::string lines;
  for (char c : text) (c == '\n' ? lines += "\r\n" : lines += c);
  return lines;
}

// The log is the script's last word: its path may hold spaces.
FakeRun::FakeRun(const std::string& script, bool terminal, const std::vector<std::string>& args)
    : Launch{target.Command(target.fake, args), {}, "", "", terminal} {
  environment = {"QUILLTERM_FAKE=" + script + " log=" + log};
}

FakeRun::~FakeRun() {
  std::remove(log.c_str());
  std::remove((log + "-input").c_str());
}

// Input from a file rather than a pipe, so that a child busy writing is never also
// waiting for the test to write; named after the log, which is the run's own.
std::string FakeRun::InputFile(const std::string& bytes) const {
  std::ofstream(log + "-input", std::ios::binary | std::ios::trunc) << bytes;
  return log + "-input";
}

std::vector<std::string> FakeRun::Calls() const {
  std::vector<std::string> calls;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  return calls;
}
