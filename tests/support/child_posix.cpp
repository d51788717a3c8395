#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include "tests/support/child.h"

namespace {

[[noreturn]] void Exec(const Launch& launch) {
  for (const std::string& assignment : launch.environment) putenv(const_cast<char*>(assignment.c_str()));
  std::vector<char*> argv;
  for (const std::string& arg : launch.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  // As a terminal would start it, whatever this side was started with (nohup, a shell's &).
  for (int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(number, SIG_DFL);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Closes `fd` unless it is also `other` (a terminal's one descriptor for both).
void CloseUnlessShared(int& fd, int other) {
  if (fd >= 0 && fd != other) close(fd);
  if (fd != other) fd = -1;
}

}  // namespace

const std::size_t kPipeCapacity = 1 << 16;  // Linux's default

void Pause(int milliseconds) { usleep(static_cast<useconds_t>(milliseconds) * 1000); }

std::string TemporaryFile(const char* prefix) {
  std::string path = std::string("/tmp/") + prefix + "-XXXXXX";
  close(mkstemp(path.data()));
  return path;
}

Child::Child(const Launch& launch) {
  signal(SIGPIPE, SIG_IGN);  // a child that stops reading must not kill the test
  if (launch.terminal) {
    pid_ = forkpty(&output_, nullptr, nullptr, nullptr);
    if (pid_ == 0) Exec(launch);
    input_ = output_;
    return;
  }
  int inPipe[2], outPipe[2], errPipe[2];
  packets_ = launch.stdoutPath == kPackets;
  const bool full = launch.stdoutPath == kFullPipe, reset = launch.stdinPath == kResetSocket;
  const bool outputMade = packets_ ? socketpair(AF_UNIX, SOCK_SEQPACKET, 0, outPipe) == 0 : pipe(outPipe) == 0;
  const bool inputMade =
      reset ? socketpair(AF_UNIX, SOCK_STREAM, 0, inPipe) == 0 && write(inPipe[0], "", 1) == 1 : pipe(inPipe) == 0;
  if (!inputMade || !outputMade || pipe(errPipe) != 0) std::abort();
  if (full) {
    static const char fill[4096] = {};
    fcntl(outPipe[1], F_SETFL, O_NONBLOCK);
    while (write(outPipe[1], fill, sizeof fill) > 0) continue;
    fcntl(outPipe[1], F_SETFL, 0);
  }
  pid_ = fork();
  if (pid_ == 0) {
    auto stream = [](const std::string& path, int pipeEnd, int flags) {
      return path.empty() ? pipeEnd : path == kClosed ? -1 : open(path.c_str(), flags);
    };
    const int source = stream(reset ? "" : launch.stdinPath, inPipe[0], O_RDONLY);
    const int sink = stream(packets_ || full ? "" : launch.stdoutPath, outPipe[1], O_WRONLY);
    dup2(errPipe[1], 2);
    for (int fd : {0, 1}) close(fd);
    if (source >= 0) dup2(source, 0);
    if (sink >= 0) dup2(sink, 1);
    for (int fd = 3; fd < 64; ++fd) close(fd);
    Exec(launch);
  }
  for (int fd : {inPipe[0], outPipe[1], errPipe[1]}) close(fd);
  input_ = inPipe[1];
  output_ = outPipe[0];
  errors_ = errPipe[0];
  if (!launch.stdinPath.empty()) CloseInput();
  if (!launch.stdoutPath.empty() && !packets_ && !full) CloseOutput();
}

Child::~Child() {
  if (!reaped_) Kill();
  CloseInput();
  for (int fd : {output_, errors_})
    if (fd >= 0) close(fd);
}

void Child::Send(const std::string& bytes) {
  ssize_t n = 0;
  for (std::size_t sent = 0; sent < bytes.size(); sent += static_cast<std::size_t>(n))
    if ((n = write(input_, bytes.data() + sent, bytes.size() - sent)) <= 0) return;
}

void Child::CloseInput() { CloseUnlessShared(input_, output_); }

void Child::CloseOutput() { CloseUnlessShared(output_, input_); }

// Returns once the child has taken the signal off its pending set, so that a second signal
// counts as one more rather than merging with the first (on Linux the handler then runs
// before the child's own code goes on), or holds it pending while it blocks it.
bool Child::Interrupt(int signal) {
  kill(pid_, signal);
  const std::string status = "/proc/" + std::to_string(pid_) + "/status";
  for (int waited = 0; waited < Scaled(10000); ++waited) {
    std::ifstream in(status);
    unsigned long long pending = 0, held = 0;
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, 7, "ShdPnd:") == 0) pending = std::strtoull(line.c_str() + 7, nullptr, 16);
      if (line.compare(0, 7, "SigBlk:") == 0) held = std::strtoull(line.c_str() + 7, nullptr, 16);
    }
    if ((pending & ~held & (1ULL << (signal - 1))) == 0) return true;
    Pause(1);
  }
  return true;
}

bool Child::Pump(int timeoutMs) {
  if (output_ < 0 && errors_ < 0) return false;
  pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};  // poll passes over a closed one's -1
  if (poll(fds, 2, timeoutMs) <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    int& fd = i == 0 ? output_ : errors_;
    if (fds[i].revents == 0) continue;
    static char chunk[1 << 18];  // larger than any one message
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) {
      (i == 0 ? out : err).append(chunk, static_cast<std::size_t>(n));
      if (i == 0 && packets_) writes.push_back(static_cast<std::size_t>(n));
    } else {
      if (fd == input_) input_ = -1;
      close(fd);
      fd = -1;
    }
  }
  return output_ >= 0 || errors_ >= 0;
}

bool Child::Reap() {
  int status = 0;
  if (reaped_ || waitpid(pid_, &status, WNOHANG) <= 0) return reaped_;
  reaped_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

void Child::AwaitEnd() {
  const timespec moment{0, 100000};
  nanosleep(&moment, nullptr);
}

void Child::Kill() {
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  reaped_ = true;
}

// The kernel names where a sleeping thread waits: "pipe_write", or "anon_pipe_write" on
// newer kernels. Under valgrind the writing thread is one of several.
bool Child::BlockedWriting(int timeoutMs, const char* kernelWait) {
  const std::string tasks = "/proc/" + std::to_string(pid_) + "/task/";
  for (int waited = 0; waited < Scaled(timeoutMs); ++waited) {
    bool found = false;
    DIR* folder = opendir(tasks.c_str());
    for (dirent* task = folder != nullptr ? readdir(folder) : nullptr; task != nullptr; task = readdir(folder)) {
      std::ifstream wchan(tasks + task->d_name + "/wchan");
      const std::string where((std::istreambuf_iterator<char>(wchan)), std::istreambuf_iterator<char>());
      found = found || where.find(kernelWait) != std::string::npos;
    }
    if (folder != nullptr) closedir(folder);
    if (found) return true;
    Pause(1);
  }
  return false;
}
