#pragma once

#include <deque>
#include <mutex>
#include <thread>

#include "platform/SerialQueue.h"

namespace platform::fake {

// A SerialQueue that runs jobs at once on the calling thread. A job queued from inside a running job
// waits until the running one returns, so jobs still never overlap and keep their order. asyncAfter
// ignores the delay (use ManualSerialQueue to test delays); cancelling its token after it returned has
// no effect. Meant for single-threaded tests.
class InlineSerialQueue final : public SerialQueue {
 public:
  void async(Job job) override;
  void sync(Job job) override;
  CancelToken asyncAfter(Duration delay, Job job) override;
  bool isCurrent() const override;

 private:
  void drain();

  mutable std::mutex mutex_;
  std::deque<Job> pending_;
  bool running_ = false;
  std::thread::id runner_;
};

}  // namespace platform::fake
