#include <cstdio>
#include <cstring>
#include <utility>

#include "tests/support/child.h"
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};

BOOL WINAPI IgnoreCtrlC(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE; }

// Ctrl-C is an event for every process at a console, so the children are started at a
// console that this process has to itself: one shared with whatever started it (ctest)
// would take the event there too, and a new one is made instead. (Under wine, a process
// started at a terminal has one that takes typed keys; one started from a pipe has none,
// and the one AllocConsole then makes takes no keys, only Ctrl-C.) This process ignores
// the event through a handler: SetConsoleCtrlHandler(nullptr, TRUE) would be inherited by
// the children.
void OwnConsole() {
  static const bool owned = [] {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) {
      FreeConsole();
      if (!AllocConsole()) return false;
    }
    return SetConsoleCtrlHandler(IgnoreCtrlC, TRUE) != FALSE;
  }();
  if (!owned) std::fprintf(stderr, "no console of its own: Ctrl-C cannot be sent\n");
}

void Close(void*& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

HANDLE Pipe(HANDLE* childEnd, bool childReads, DWORD size) {
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherited, size)) return nullptr;
  HANDLE ours = childReads ? write : read;
  *childEnd = childReads ? read : write;
  SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
  return ours;
}

// An existing file or device; with backup semantics a folder opens too, and reads fail.
HANDLE Open(const std::string& path, DWORD access) {
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// The environment is this process's own, with the launch's additions set around the start
// and put back afterwards.
std::vector<std::pair<std::string, std::string>> SetEnvironment(const std::vector<std::string>& assignments) {
  std::vector<std::pair<std::string, std::string>> before;
  for (const std::string& assignment : assignments) {
    const std::string name = assignment.substr(0, assignment.find('='));
    std::string value(32767, '\0');
    value.resize(GetEnvironmentVariableA(name.c_str(), &value[0], static_cast<DWORD>(value.size())));
    before.emplace_back(name, value);
    SetEnvironmentVariableA(name.c_str(), assignment.c_str() + name.size() + 1);
  }
  return before;
}

}  // namespace

// The small pipe's: smaller than most of the program's writes, so that one this side does
// not read holds the writer, and more bytes waiting than the pipe holds say so.
const std::size_t kPipeCapacity = 4096;

void Pause(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

std::string TemporaryFile(const char* prefix) {
  char folder[MAX_PATH], path[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  GetTempFileNameA(folder, prefix, 0, path);
  return path;
}

Child::Child(const Launch& launch) : console_(launch.terminal) {
  OwnConsole();
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  if (console_) {
    startup.hStdInput = Open("CONIN$", GENERIC_READ | GENERIC_WRITE);
    input_ = Open("CONIN$", GENERIC_READ | GENERIC_WRITE);
  } else if (launch.stdinPath.empty()) {
    input_ = Pipe(&startup.hStdInput, true, 0);
  } else if (launch.stdinPath != kClosed) {
    startup.hStdInput = Open(launch.stdinPath, GENERIC_READ);
  }
  if (launch.stdoutPath.empty()) {  // a large pipe lets much output through quickly under wine
    output_ = Pipe(&startup.hStdOutput, false, static_cast<DWORD>(launch.smallPipe ? kPipeCapacity : 1 << 20));
  } else if (launch.stdoutPath != kClosed) {
    startup.hStdOutput = Open(launch.stdoutPath, GENERIC_WRITE);
  }
  errors_ = Pipe(&startup.hStdError, false, 0);
  std::string command;
  for (const std::string& arg : launch.argv) command += (command.empty() ? "\"" : " \"") + arg + "\"";
  const auto before = SetEnvironment(launch.environment);
  PROCESS_INFORMATION started{};
  // wine now and then fails to start a process at all: then once more, counted.
  bool made = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started);
  if (!made) {
    std::fprintf(stderr, "cannot start %s: error %lu; once more\n", command.c_str(), GetLastError());
    ++startsRetried;
    made = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started);
  }
  if (made) {
    CloseHandle(started.hThread);
    process_ = started.hProcess;
  } else {
    std::fprintf(stderr, "cannot start %s: error %lu\n", command.c_str(), GetLastError());
    reaped_ = true;
  }
  for (const auto& variable : before)
    SetEnvironmentVariableA(variable.first.c_str(), variable.second.empty() ? nullptr : variable.second.c_str());
  for (void** handle : {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError}) Close(*handle);
}

Child::~Child() {
  if (!reaped_) Kill();
  for (void** handle : {&process_, &input_, &output_, &errors_}) Close(*handle);
}

// At the console each byte is a key pressed and let go: Enter for CR, Ctrl and C for
// Ctrl-C, which the console turns into its interrupt.
void Child::Send(const std::string& bytes) {
  DWORD written = 0;
  if (!console_) {
    for (std::size_t sent = 0; sent < bytes.size() && input_ != nullptr; sent += written)
      if (!WriteFile(input_, bytes.data() + sent, static_cast<DWORD>(bytes.size() - sent), &written, nullptr)) return;
    return;
  }
  for (char c : bytes) {
    INPUT_RECORD keys[2] = {};
    for (INPUT_RECORD& key : keys) {
      key.EventType = KEY_EVENT;
      key.Event.KeyEvent.wRepeatCount = 1;
      key.Event.KeyEvent.uChar.AsciiChar = c;
      key.Event.KeyEvent.wVirtualKeyCode = c == '\r' ? VK_RETURN : c == '\x03' ? 'C' : LOBYTE(VkKeyScanA(c));
      key.Event.KeyEvent.dwControlKeyState = c == '\x03' ? LEFT_CTRL_PRESSED : 0;
    }
    keys[0].Event.KeyEvent.bKeyDown = TRUE;
    WriteConsoleInputA(input_, keys, 2, &written);
  }
}

void Child::CloseInput() {
  if (!console_) Close(input_);
}

void Child::CloseOutput() { Close(output_); }

bool Child::Interrupt(int signal) {
  return GenerateConsoleCtrlEvent(signal == kCtrlBreak ? CTRL_BREAK_EVENT : CTRL_C_EVENT, 0) != FALSE;
}

bool Child::Pump(int timeoutMs) {
  const DWORD until = GetTickCount() + static_cast<DWORD>(timeoutMs);
  for (;;) {
    bool open = false, read = false;
    for (void** handle : {&output_, &errors_}) {
      DWORD waiting = 0;
      const bool ended = *handle != nullptr && !PeekNamedPipe(*handle, nullptr, 0, nullptr, &waiting, nullptr);
      if (ended) Close(*handle);  // closed, and all read
      if (*handle == nullptr) continue;
      open = true;
      if (waiting == 0) continue;
      std::string& text = handle == &output_ ? out : err;
      const std::size_t had = text.size();
      text.resize(had + waiting);
      DWORD got = 0;
      ReadFile(*handle, &text[had], waiting, &got, nullptr);
      text.resize(had + got);
      read = true;
    }
    if (!open) return false;
    if (read || static_cast<LONG>(GetTickCount() - until) >= 0) return true;
    Sleep(1);
  }
}

bool Child::Reap() {
  DWORD status = 0;
  if (reaped_ || WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return reaped_;
  GetExitCodeProcess(process_, &status);
  status_ = static_cast<int>(status);
  reaped_ = true;
  return true;
}

void Child::AwaitEnd() { WaitForSingleObject(process_, 2); }

void Child::Kill() {
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, INFINITE);
  reaped_ = true;
}

// A write larger than what the pipe holds waits until the reader has taken it all: more
// bytes waiting than that means the child is held in the write.
bool Child::BlockedWriting(int timeoutMs, const char* /*kernelWait*/) {
  for (int waited = 0; waited < Scaled(timeoutMs); ++waited) {
    DWORD waiting = 0;
    if (output_ != nullptr && PeekNamedPipe(output_, nullptr, 0, nullptr, &waiting, nullptr) &&
        waiting > kPipeCapacity) {
      return true;
    }
    Pause(1);
  }
  return false;
}
