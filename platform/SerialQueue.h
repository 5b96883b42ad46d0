#pragma once

#include <chrono>

#include "platform/CancelToken.h"
#include "platform/Executor.h"

namespace platform {

// A serial dispatch queue: jobs run one at a time, FIFO, off the main thread. The real backend owns one
// worker thread with asynchronous signals blocked; the fakes run inline or when the test says so.
// All methods may be called from any thread. The real backend may also be destroyed by one of its own
// jobs (a job held the last reference to the queue's owner): the jobs still waiting are then dropped and
// the thread ends when that job returns, instead of waiting for itself.
class SerialQueue : public Executor {
 public:
  using Duration = std::chrono::nanoseconds;

  void post(Job job) override { async(std::move(job)); }
  virtual void async(Job job) = 0;
  // Runs `job` on the queue and waits for it. Called from a job of this same queue it runs the job at
  // once instead of deadlocking.
  virtual void sync(Job job) = 0;
  virtual CancelToken asyncAfter(Duration delay, Job job) = 0;
  // True when called from a job running on this queue.
  virtual bool isCurrent() const = 0;
};

}  // namespace platform
