#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

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

void Close(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// This side's end of a standard stream, and in `child` the child's: the file at `path`, none
// for kClosed, or else a pipe or a socket, as child.h describes them.
int Stream(const std::string& path, bool childReads, int& child) {
  int ends[2] = {-1, -1};  // a pipe's read end, then its written one; a socket's are alike
  if (path == kPackets || path == kResetSocket) {
    if (socketpair(AF_UNIX, path == kPackets ? SOCK_SEQPACKET : SOCK_STREAM, 0, ends) != 0) std::abort();
  } else if (path.empty() || path == kFullPipe) {
    if (pipe(ends) != 0) std::abort();
  } else if (path != kClosed) {
    ends[childReads ? 0 : 1] = open(path.c_str(), childReads ? O_RDONLY : O_WRONLY);
  }
  child = ends[childReads ? 0 : 1];
  int ours = ends[childReads ? 1 : 0];
  if (path == kResetSocket && write(child, "", 1) == 1) Close(ours);  // with the byte unread
  if (path == kFullPipe) {
    static const char fill[4096] = {};
    fcntl(child, F_SETFL, O_NONBLOCK);
    while (write(child, fill, sizeof fill) > 0) continue;
    fcntl(child, F_SETFL, 0);
  }
  return ours;
}

// The whole of a file, such as one of /proc's.
std::string Contents(const std::string& path) {
  std::ostringstream contents;
  contents << std::ifstream(path).rdbuf();
  return contents.str();
}

}  // namespace

std::string TemporaryFile(const char* prefix) {
  std::string path = std::string("/tmp/") + prefix + "-XXXXXX";
  close(mkstemp(path.data()));
  return path;
}

Child::Child(const Launch& launch) : packets_(launch.stdoutPath == kPackets) {
  signal(SIGPIPE, SIG_IGN);  // a child that stops reading must not kill the test
  if (launch.terminal) {
    pid_ = forkpty(&output_, nullptr, nullptr, nullptr);
    if (pid_ == 0) Exec(launch);
    input_ = dup(output_);  // the terminal's one descriptor, so that closing input leaves output
    return;
  }
  int child[3];
  input_ = Stream(launch.stdinPath, true, child[0]);
  output_ = Stream(launch.stdoutPath, false, child[1]);
  errors_ = Stream("", false, child[2]);
  pid_ = fork();
  if (pid_ == 0) {
    for (int fd = 0; fd < 3; ++fd) {
      if (child[fd] < 0) close(fd);
      dup2(child[fd], fd);  // no more than fails for a closed stream
    }
    for (int fd = 3; fd < 64; ++fd) close(fd);
    Exec(launch);
  }
  for (int& fd : child) Close(fd);
}

Child::~Child() {
  if (!status_) Kill();
  for (int* fd : {&input_, &output_, &errors_}) Close(*fd);
}

void Child::Send(const std::string& bytes) {
  ssize_t n = 0;
  for (std::size_t sent = 0; sent < bytes.size(); sent += static_cast<std::size_t>(n))
    if ((n = write(input_, bytes.data() + sent, bytes.size() - sent)) <= 0) return;
}

void Child::CloseInput() { Close(input_); }

void Child::CloseOutput() { Close(output_); }

// Returns once the child has taken the signal off its pending set, so that a second signal
// counts as one more rather than merging with the first (on Linux the handler then runs
// before the child's own code goes on), or holds it pending while it blocks it.
bool Child::Interrupt(int signal) {
  kill(pid_, signal);
  const std::string path = "/proc/" + std::to_string(pid_) + "/status";
  Within(Scaled(10000), [&] {
    const std::string status = Contents(path);
    auto mask = [&](const char* name) {  // a line such as "ShdPnd:\t0000000000000002"
      const std::size_t at = status.find(name);
      return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + std::strlen(name), nullptr, 16);
    };
    return (mask("ShdPnd:") & ~mask("SigBlk:") & (1ULL << (signal - 1))) == 0;
  });
  return true;
}

bool Child::Pump(int timeoutMs) {
  if (output_ < 0 && errors_ < 0) return false;
  pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};  // poll passes over a closed one's -1
  poll(fds, 2, timeoutMs);
  for (int i = 0; i < 2; ++i) {
    if (fds[i].revents == 0) continue;
    static char chunk[1 << 18];  // larger than any one message
    const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
    if (n <= 0) Close(i == 0 ? output_ : errors_);
    if (n > 0) (i == 0 ? out : err).append(chunk, static_cast<std::size_t>(n));
    if (n > 0 && i == 0 && packets_) writes.push_back(static_cast<std::size_t>(n));
  }
  return output_ >= 0 || errors_ >= 0;
}

bool Child::Reap() {
  int status = 0;
  if (!status_ && waitpid(pid_, &status, WNOHANG) > 0)
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_.has_value();
}

void Child::Kill() {
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  status_ = kKilled;
}

// The kernel names where a sleeping thread waits: "pipe_write", or "anon_pipe_write" on
// newer kernels. Under valgrind the writing thread is one of several.
bool Child::BlockedWriting(int timeoutMs, const char* kernelWait) {
  const std::string pattern = "/proc/" + std::to_string(pid_) + "/task/*/wchan";
  auto waits = [&](const char* wchan) { return Contents(wchan).find(kernelWait) != std::string::npos; };
  return Within(Scaled(timeoutMs), [&] {
    glob_t tasks{};
    const bool found = glob(pattern.c_str(), 0, nullptr, &tasks) == 0 &&
                       std::any_of(tasks.gl_pathv, tasks.gl_pathv + tasks.gl_pathc, waits);
    globfree(&tasks);
    return found;
  });
}
