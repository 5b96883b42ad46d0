#include "platform/linux/WorkerThread.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>

#include "platform/ThreadCaptureSignal.h"
#include "platform/ThreadSignalStack.h"

namespace platform {

WorkerThread::WorkerThread(std::string name, bool blockAsyncSignals) {
  // Start the thread last: everything it touches is initialised by then.
  thread_ = std::thread([this, name = std::move(name), blockAsyncSignals]() mutable {
    run(std::move(name), blockAsyncSignals);
  });
}

WorkerThread::~WorkerThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool WorkerThread::later(const Entry& a, const Entry& b) {
  return a.deadline != b.deadline ? a.deadline > b.deadline : a.seq > b.seq;
}

void WorkerThread::schedule(Duration delay, Duration interval, CancelToken token, Job job) {
  auto deadline = std::chrono::steady_clock::now() + std::max(delay, Duration{0});
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    heap_.push_back(Entry{deadline, nextSeq_++, interval, std::move(token), std::move(job)});
    std::push_heap(heap_.begin(), heap_.end(), later);
  }
  wake_.notify_one();
}

void WorkerThread::run(std::string name, bool blockAsyncSignals) {
  if (name.size() > 15) name.resize(15);
  pthread_setname_np(pthread_self(), name.c_str());
  if (blockAsyncSignals) {
    sigset_t set;
    sigfillset(&set);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT, SIGSYS}) sigdelset(&set, sig);
    // The crash reporter records this thread's stack through it.
    sigdelset(&set, threadCaptureSignal());
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

  // Declared before the lock, so that it goes after the lock is released.
  ThreadSignalStack signalStack;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stopping_) return;
    if (heap_.empty()) {
      wake_.wait(lock);
      continue;
    }
    if (heap_.front().token.isCancelled()) {
      std::pop_heap(heap_.begin(), heap_.end(), later);
      Job dropped = std::move(heap_.back().job);
      heap_.pop_back();
      // Releasing a job's captures may post to this very thread: never with the lock held.
      lock.unlock();
      dropped = nullptr;
      lock.lock();
      continue;
    }
    auto deadline = heap_.front().deadline;
    if (std::chrono::steady_clock::now() < deadline) {
      wake_.wait_until(lock, deadline);
      continue;
    }
    std::pop_heap(heap_.begin(), heap_.end(), later);
    Entry entry = std::move(heap_.back());
    heap_.pop_back();
    lock.unlock();
    // A stack overflow in the job reaches the crash reporter, once it wants that.
    signalStack.ensure();
    entry.job();
    const bool repeats = entry.interval > Duration{0} && !entry.token.isCancelled();
    if (!repeats) entry.job = nullptr;  // released before the lock is taken again, as above
    lock.lock();
    if (repeats && stopping_) {
      lock.unlock();
      return;  // `entry` goes after the lock is released
    }
    if (repeats) {
      // Keep the cadence of the first deadline, but never fire a backlog of missed ticks.
      auto next = entry.deadline + entry.interval;
      auto now = std::chrono::steady_clock::now();
      if (next < now) next = now;
      heap_.push_back(Entry{next, nextSeq_++, entry.interval, std::move(entry.token), std::move(entry.job)});
      std::push_heap(heap_.begin(), heap_.end(), later);
    }
  }
}

}  // namespace platform
