#pragma once

#include "platform/SerialQueue.h"
#include "platform/fake/ManualExecutor.h"

namespace platform::fake {

// A SerialQueue whose jobs run only when the test drains it, on the test's thread, with a virtual clock
// for asyncAfter (the same ordering rules as ManualExecutor). sync() called from outside a job first
// runs every job already due (they were queued before it) and then its own job, so a single-threaded
// test never waits for itself.
class ManualSerialQueue final : public SerialQueue {
 public:
  using Duration = SerialQueue::Duration;

  ManualSerialQueue() = default;
  // Moves `clock` along with the queue's virtual time (see ManualExecutor); the clock must outlive it.
  explicit ManualSerialQueue(ManualClock& clock) : loop_(clock) {}

  void async(Job job) override;
  void sync(Job job) override;
  CancelToken asyncAfter(Duration delay, Job job) override;
  bool isCurrent() const override;

  // Runs the jobs due now, including those they queue.
  void drain();
  // Moves the virtual time forward, running the jobs that come due.
  void advance(Duration d);
  std::size_t pendingCount() const { return loop_.pendingCount(); }

 private:
  Job wrap(Job job);

  ManualExecutor loop_;
  int depth_ = 0;  // jobs of this queue on the stack
};

}  // namespace platform::fake
