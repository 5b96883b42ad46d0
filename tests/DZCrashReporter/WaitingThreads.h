#pragma once

// Threads that each run a given function until the test lets them go, for tests that capture or
// report the other threads of the process. Each function receives the read end of its own pipe and a
// counter; it counts itself in once running and then waits, typically by reading one byte from the
// pipe. Letting a thread go writes that byte.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <vector>
#include "tests/support/Eventually.h"

namespace dzcrash::test {

using WaitingFunction = int (*)(int fd, std::atomic<int>* running);

class WaitingThreads {
 public:
  // Starts one thread per function and returns once each has counted itself in.
  explicit WaitingThreads(const std::vector<WaitingFunction>& functions) {
    for (WaitingFunction function : functions) {
      auto thread = std::make_unique<Thread>();
      EXPECT_EQ(pipe2(thread->fds, O_CLOEXEC), 0);
      const int fd = thread->fds[0];
      Thread* raw = thread.get();
      thread->thread = std::thread([raw, function, fd, this] {
        raw->tid = static_cast<pid_t>(syscall(SYS_gettid));
        raw->result = function(fd, &running_);
      });
      threads_.push_back(std::move(thread));
    }
    EXPECT_TRUE(quorvelle::test::waitUntil(
        [&] { return running_.load() == static_cast<int>(functions.size()); }, "every waiting thread runs"));
  }

  ~WaitingThreads() { releaseAll(); }
  WaitingThreads(const WaitingThreads&) = delete;
  WaitingThreads& operator=(const WaitingThreads&) = delete;

  pid_t tid(size_t index) const { return threads_[index]->tid; }

  // Lets every thread go with byte `value` and joins it; returns what each function returned.
  std::vector<int> releaseAll(char value = 'x') {
    std::vector<int> results;
    for (auto& thread : threads_) {
      if (thread->thread.joinable()) {
        EXPECT_EQ(write(thread->fds[1], &value, 1), 1);
        thread->thread.join();
        close(thread->fds[0]);
        close(thread->fds[1]);
      }
      results.push_back(thread->result);
    }
    return results;
  }

 private:
  struct Thread {
    std::thread thread;
    int fds[2] = {-1, -1};
    pid_t tid = 0;
    int result = 0;
  };

  std::atomic<int> running_{0};
  std::vector<std::unique_ptr<Thread>> threads_;
};

// The tids of this process, as /proc/self/task lists them.
inline std::vector<pid_t> processThreads() {
  std::vector<pid_t> out;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    out.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
  }
  return out;
}

}  // namespace dzcrash::test
