#include <cstdio>

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

// An existing file or device; with backup semantics a folder opens too, and reads fail.
HANDLE Open(const std::string& path, DWORD access) {
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// The child's end of a standard stream: the file at `path`, none for kClosed, or else a pipe
// of `size` bytes, whose other end is this side's `ours`.
HANDLE Stream(const std::string& path, bool childReads, void** ours, std::size_t size = 0) {
  HANDLE ends[2] = {};  // read, then written
  if (path == kClosed) return nullptr;
  if (!path.empty()) return Open(path, childReads ? GENERIC_READ : GENERIC_WRITE);
  if (!CreatePipe(&ends[0], &ends[1], &inherited, static_cast<DWORD>(size))) return nullptr;
  *ours = ends[childReads ? 1 : 0];
  SetHandleInformation(*ours, HANDLE_FLAG_INHERIT, 0);
  return ends[childReads ? 0 : 1];
}

// Sets each "name=value", or unsets "name" alone, and returns what they were, in that form:
// the launch's additions to this process's environment are set around the start only.
std::vector<std::string> SetEnvironment(const std::vector<std::string>& assignments) {
  std::vector<std::string> before;
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    std::string value(32767, '\0');
    value.resize(GetEnvironmentVariableA(name.c_str(), &value[0], static_cast<DWORD>(value.size())));
    before.push_back(value.empty() ? name : name + "=" + value);
    SetEnvironmentVariableA(name.c_str(), equals == std::string::npos ? nullptr : assignment.c_str() + equals + 1);
  }
  return before;
}

// The small pipe's: smaller than most of the program's writes, so that one this side does
// not read holds the writer, and more bytes waiting than the pipe holds say so.
const std::size_t kPipeCapacity = 4096;

// Reads what a pipe holds; whether it held any. A pipe that has ended, and been read to its
// end, is closed.
bool Drain(void*& pipe, std::string& text) {
  DWORD waiting = 0, got = 0;
  if (pipe != nullptr && !PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) Close(pipe);
  if (waiting == 0) return false;
  const std::size_t had = text.size();
  text.resize(had + waiting);
  ReadFile(pipe, &text[had], waiting, &got, nullptr);
  text.resize(had + got);
  return true;
}

}  // namespace

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
  if (console_) input_ = Open("CONIN$", GENERIC_READ | GENERIC_WRITE);
  startup.hStdInput = console_ ? Open("CONIN$", GENERIC_READ | GENERIC_WRITE) : Stream(launch.stdinPath, true, &input_);
  // A large pipe lets much output through quickly under wine.
  startup.hStdOutput = Stream(launch.stdoutPath, false, &output_, launch.smallPipe ? kPipeCapacity : 1 << 20);
  startup.hStdError = Stream("", false, &errors_);
  std::string command;
  for (const std::string& arg : launch.argv) command += (command.empty() ? "\"" : " \"") + arg + "\"";
  const std::vector<std::string> before = SetEnvironment(launch.environment);
  PROCESS_INFORMATION started{};
  // wine now and then fails to start a process at all: then once more, counted.
  for (int attempt = 0; attempt < 2 && started.hProcess == nullptr; ++attempt) {
    startsRetried += attempt;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
      std::fprintf(stderr, "cannot start %s: error %lu\n", command.c_str(), GetLastError());
  }
  process_ = started.hProcess;
  if (process_ == nullptr) status_ = kKilled;  // nothing to wait for
  SetEnvironment(before);
  for (void* handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError, started.hThread}) Close(handle);
}

Child::~Child() {
  if (!status_) Kill();
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

void Child::CloseInput() { Close(input_); }

void Child::CloseOutput() { Close(output_); }

bool Child::Interrupt(int signal) {
  return GenerateConsoleCtrlEvent(signal == kCtrlBreak ? CTRL_BREAK_EVENT : CTRL_C_EVENT, 0) != FALSE;
}

bool Child::Pump(int timeoutMs) {
  auto open = [this] { return output_ != nullptr || errors_ != nullptr; };
  // Both pipes each time: `|`, not `||`.
  Within(timeoutMs, [&] { return (Drain(output_, out) | Drain(errors_, err)) || !open(); });
  return open();
}

bool Child::Reap() {
  DWORD status = 0;
  if (!status_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(process_, &status))
    status_ = static_cast<int>(status);
  return status_.has_value();
}

void Child::Kill() {
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, INFINITE);
  status_ = kKilled;
}

// A write larger than what the pipe holds waits until the reader has taken it all: more
// bytes waiting than that means the child is held in the write.
bool Child::BlockedWriting(int timeoutMs, const char* /*kernelWait*/) {
  return Within(Scaled(timeoutMs), [this] {
    DWORD waiting = 0;
    return output_ != nullptr && PeekNamedPipe(output_, nullptr, 0, nullptr, &waiting, nullptr) &&
           waiting > kPipeCapacity;
  });
}
