#pragma once

#include <memory>

#include "platform/MainExecutor.h"

class QObject;

namespace platform {

// The MainExecutor of the application: jobs run on the thread of the Qt application object, from its
// event loop (queued invocations and timers). Construct it after the QCoreApplication, on any thread;
// destroy it on the main thread, before the application object. Jobs still queued then are dropped.
// Timers are precise to the millisecond; delays are rounded up.
class QtMainExecutor final : public MainExecutor {
 public:
  QtMainExecutor();
  ~QtMainExecutor() override;
  QtMainExecutor(const QtMainExecutor&) = delete;
  QtMainExecutor& operator=(const QtMainExecutor&) = delete;

  void post(Job job) override;
  CancelToken postAfter(Duration delay, Job job) override;
  CancelToken scheduleRepeating(Duration interval, Job job) override;
  bool isMainThread() const override;

 private:
  // Runs `job` on the main thread: at once when already there, else queued.
  void onMainThread(Job job);

  std::unique_ptr<QObject> context_;  // lives on the main thread; queued calls die with it
};

}  // namespace platform
