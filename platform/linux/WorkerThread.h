#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/Executor.h"

namespace platform {

// One thread that runs jobs one at a time: due jobs in deadline order, FIFO among equal deadlines.
// The engine under ThreadSerialQueue and ThreadMainExecutor.
//
// schedule() may be called from any thread. The destructor drops jobs that have not started, waits for
// the running one and joins; it must not run on the worker thread itself.
class WorkerThread {
 public:
  using Duration = std::chrono::nanoseconds;

  // `name` shows in debuggers (at most 15 bytes are kept). With `blockAsyncSignals` the thread blocks
  // every asynchronous signal, so signals sent to the process are handled on other threads; the
  // signals a fault raises (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT, SIGSYS) stay unblocked
  // so that a crash on the worker still reaches the crash handler, and so does the crash reporter's
  // thread-capture signal (ThreadCaptureSignal.h), so that reports show the worker's stack. Once the
  // crash reporter asks for it (ThreadSignalStack.h), the thread sets up an alternate signal stack
  // before its next job, so that a stack overflow in a job is reported too.
  WorkerThread(std::string name, bool blockAsyncSignals);
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `job` after `delay`, then every `interval` if it is positive, until `token` is cancelled.
  void schedule(Duration delay, Duration interval, CancelToken token, Job job);
  bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  struct Entry {
    std::chrono::steady_clock::time_point deadline;
    std::uint64_t seq;
    Duration interval;
    CancelToken token;
    Job job;
  };
  static bool later(const Entry& a, const Entry& b);
  void run(std::string name, bool blockAsyncSignals);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Entry> heap_;
  std::uint64_t nextSeq_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace platform
