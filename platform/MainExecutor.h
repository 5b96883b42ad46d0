#pragma once

#include <chrono>

#include "platform/CancelToken.h"
#include "platform/Executor.h"

namespace platform {

// The main thread's queue: what the system runs "on the main queue" or "on the main actor". Jobs run one
// at a time on the main thread. post() runs jobs in FIFO order; delayed jobs run when due.
//
// Backends: the Qt event loop (platform/linux/desktop), a thread-backed loop for programs without Qt, and
// ManualExecutor (platform/fake) with a virtual clock for tests.
//
// Every method may be called from any thread. Cancelling a returned token before the job starts
// prevents it (and every later repetition of a repeating job); cancelling it from inside the job stops
// later repetitions.
class MainExecutor : public Executor {
 public:
  using Duration = std::chrono::nanoseconds;

  void post(Job job) override = 0;
  virtual CancelToken postAfter(Duration delay, Job job) = 0;
  // Runs `job` every `interval` (first run one interval from now) until the token is cancelled.
  virtual CancelToken scheduleRepeating(Duration interval, Job job) = 0;
  // True when the calling thread is the one that runs this executor's jobs.
  virtual bool isMainThread() const = 0;
};

// A process-wide main executor on a thread of its own, for code that runs before (or without) the
// program's: the analytics client's default services. Created on first use, never destroyed.
MainExecutor& standaloneMainExecutor();

}  // namespace platform
