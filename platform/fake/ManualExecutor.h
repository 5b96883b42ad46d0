#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/MainExecutor.h"

namespace platform::fake {

class ManualClock;

// A MainExecutor for tests, driven by hand on a virtual clock that starts at zero.
//
// Nothing runs until the test calls advance() or runUntilIdle(). Due jobs run in deadline order, FIFO
// among equal deadlines. Jobs run in turns: a turn runs the jobs that were due when it began, so a job
// posted while another runs waits for the next turn (an endless chain of re-posting jobs therefore
// still lets each turn finish; advance() and runUntilIdle() throw std::runtime_error instead of hanging
// when one instant needs more than a million turns). Repeating jobs are rescheduled one interval after their
// deadline.
//
// post/postAfter/scheduleRepeating may be called from any thread; advance() and runUntilIdle() run the
// jobs on the calling thread. isMainThread() is true on the thread that created the executor.
class ManualExecutor final : public MainExecutor {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  ManualExecutor();
  // Moves `clock` along with the virtual time, so code that reads a Clock and code that waits on this
  // executor see the same time. The clock must outlive the executor.
  explicit ManualExecutor(ManualClock& clock);
  ManualExecutor(const ManualExecutor&) = delete;
  ManualExecutor& operator=(const ManualExecutor&) = delete;

  void post(Job job) override;
  CancelToken postAfter(Duration delay, Job job) override;
  CancelToken scheduleRepeating(Duration interval, Job job) override;
  bool isMainThread() const override;

  // Moves the virtual time forward by `d`, running every job that comes due on the way, each at its
  // own deadline (now() reads that deadline while it runs).
  void advance(Duration d);
  // Runs the jobs due now, turn after turn, until none is due; the virtual time stays.
  void runUntilIdle();
  // Runs one turn: the jobs due now; those they post wait. Returns how many jobs the turn took from
  // the queue (cancelled ones included), 0 when nothing was due.
  std::size_t runOnce();
  // Virtual time since the executor was created.
  Duration now() const;
  // Jobs waiting (cancelled ones excluded), due or not.
  std::size_t pendingCount() const;

 private:
  struct Entry {
    Duration deadline;
    std::uint64_t seq;
    Duration interval;  // zero for one-shot jobs
    CancelToken token;
    Job job;
  };

  void schedule(Duration deadline, Duration interval, CancelToken token, Job job);
  // Runs one turn at virtual time `at`; returns how many jobs were due (cancelled ones included).
  std::size_t runTurn(Duration at);
  void moveTo(Duration t);

  mutable std::mutex mutex_;
  std::vector<Entry> queue_;
  std::uint64_t nextSeq_ = 0;
  Duration now_{0};
  std::thread::id owner_;
  ManualClock* clock_ = nullptr;
};

}  // namespace platform::fake
