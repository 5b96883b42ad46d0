#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace quorvelle::test {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  if (argv.empty()) throw std::runtime_error("ChildProcess: no program");
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("ChildProcess: pipe2() failed");
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    throw std::runtime_error("ChildProcess: fork() failed");
  }
  if (pid_ == 0) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    // The test process may block signals in its threads; the child starts with none blocked.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  outputFd_ = pipeFds[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    if (wait(std::chrono::seconds(5)) == -1 && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  if (outputFd_ >= 0) ::close(outputFd_);
}

bool ChildProcess::readSome(std::chrono::milliseconds timeout) {
  if (outputFd_ < 0) return false;
  pollfd fd{outputFd_, POLLIN, 0};
  const int ready = ::poll(&fd, 1, static_cast<int>(std::max<long long>(0, timeout.count())));
  if (ready <= 0) return false;
  char chunk[4096];
  const ssize_t got = ::read(outputFd_, chunk, sizeof chunk);
  if (got <= 0) {
    ::close(outputFd_);
    outputFd_ = -1;
    return false;
  }
  output_.append(chunk, static_cast<std::size_t>(got));
  return true;
}

bool ChildProcess::waitForOutput(std::string_view text, std::chrono::milliseconds timeout, std::size_t from) {
  const auto deadline = Clock::now() + timeout;
  while (output_.find(text, std::min(from, output_.size())) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || outputFd_ < 0) return false;
    readSome(left);
  }
  return true;
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    // Keep draining the output, so that a chatty child never blocks on a full pipe.
    readSome(std::chrono::milliseconds(0));
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      while (readSome(std::chrono::milliseconds(0))) {
      }
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    readSome(std::chrono::milliseconds(10));
  }
}

void ChildProcess::signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

}  // namespace quorvelle::test
