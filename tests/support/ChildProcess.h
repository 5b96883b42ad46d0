#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/deadline/StateDeadline.h"

namespace quorvelle::test {

// A program run by a test (a tool, openssl, curl) whose standard output and error the test reads. Its
// standard input is /dev/null. The process is ended (SIGTERM, then SIGKILL) and reaped when the object
// goes. Not thread-safe: use it from the test's thread.
class ChildProcess {
 public:
  // Starts `argv[0]` (looked up in PATH when it has no slash). Throws std::runtime_error when the pipe
  // or the fork fails; a program that cannot be run exits with status 127.
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads output until it contains `text` after `from` (true) or `timeout` passes or the output ends
  // (false).
  bool waitForOutput(std::string_view text, std::chrono::milliseconds timeout = kStateDeadline,
                     std::size_t from = 0);
  // Everything read so far.
  const std::string& output() const { return output_; }
  // Waits for the process to exit on its own and returns its exit status (-1 when it was killed by a
  // signal or `timeout` passed, in which case it is killed).
  int wait(std::chrono::milliseconds timeout = kStateDeadline);
  // Sends `signal` to the process (only while it runs).
  void signal(int signal);

 private:
  bool readSome(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int outputFd_ = -1;
  std::string output_;
};

}  // namespace quorvelle::test
