#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/Executor.h"

#include "tests/support/deadline/StateDeadline.h"

namespace quorvelle::test {

// An executor whose jobs run on the test's own thread, when the test waits for them. Other threads (an HTTP
// worker, say) post; the test calls runUntil() to run what arrives until its condition holds.
class WaitingExecutor final : public platform::Executor {
 public:
  void post(platform::Job job) override {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    posted_.notify_all();
  }

  // Runs posted jobs until `done()` is true (true) or `timeout` passes without it (false).
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kStateDeadline) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      platform::Job job;
      {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [&] { return !jobs_.empty(); })) return done();
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<platform::Job> jobs_;
};

}  // namespace quorvelle::test
