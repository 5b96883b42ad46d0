#pragma once

#include <string>

#include "platform/MainExecutor.h"
#include "platform/linux/WorkerThread.h"

namespace platform {

// A MainExecutor for programs without a Qt event loop (tools, the analytics client's own tests): one
// thread of its own plays the main thread. Jobs still waiting when it is destroyed are dropped; the
// destructor waits for the running one (unless that job is the one destroying it, see WorkerThread).
class ThreadMainExecutor final : public MainExecutor {
 public:
  explicit ThreadMainExecutor(std::string name = "main-executor");

  void post(Job job) override;
  CancelToken postAfter(Duration delay, Job job) override;
  CancelToken scheduleRepeating(Duration interval, Job job) override;
  bool isMainThread() const override { return worker_.isCurrent(); }

 private:
  WorkerThread worker_;
};

}  // namespace platform
