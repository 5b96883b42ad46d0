#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
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
// the running one and joins. Destroyed by one of its own jobs (the last owner of the thread's owner let go
// there), it cannot wait for itself: it then lets the thread go, which ends as soon as that job returns,
// having dropped the jobs still waiting.
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
  bool isCurrent() const { return std::this_thread::get_id() == threadId_; }

 private:
  struct Entry {
    std::chrono::steady_clock::time_point deadline;
    std::uint64_t seq;
    Duration interval;
    CancelToken token;
    Job job;
  };
  // What the thread works on. The thread holds it too, so that it can outlive a WorkerThread destroyed
  // by one of the thread's own jobs.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Entry> heap;    // mutex
    std::uint64_t nextSeq = 0;  // mutex
    bool stopping = false;      // mutex
  };
  static bool later(const Entry& a, const Entry& b);
  static void run(const std::shared_ptr<State>& state, std::string name, bool blockAsyncSignals);

  const std::shared_ptr<State> state_ = std::make_shared<State>();
  std::thread thread_;
  std::thread::id threadId_;
};

}  // namespace platform
