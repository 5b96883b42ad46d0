#pragma once

#include <string>

#include "platform/SerialQueue.h"
#include "platform/linux/WorkerThread.h"

namespace platform {

// A SerialQueue with one worker thread of its own, asynchronous signals blocked in it. Jobs still
// waiting when the queue is destroyed are dropped; the destructor waits for the running one, except when
// that job is the one destroying the queue: the thread then ends once the job returns.
class ThreadSerialQueue final : public SerialQueue {
 public:
  explicit ThreadSerialQueue(std::string name);

  void async(Job job) override;
  void sync(Job job) override;
  CancelToken asyncAfter(Duration delay, Job job) override;
  bool isCurrent() const override { return worker_.isCurrent(); }

 private:
  WorkerThread worker_;
};

}  // namespace platform
