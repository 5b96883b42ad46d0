#include "platform/linux/WorkerThread.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>

#include "platform/ThreadCaptureSignal.h"
#include "platform/ThreadSignalStack.h"

namespace platform {

WorkerThread::WorkerThread(std::string name, bool blockAsyncSignals) {
  // Start the thread last: everything it touches is initialised by then.
  thread_ = std::thread([state = state_, name = std::move(name), blockAsyncSignals]() mutable {
    run(state, std::move(name), blockAsyncSignals);
  });
  threadId_ = thread_.get_id();
}

WorkerThread::~WorkerThread() {
  std::vector<Entry> dropped;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    dropped = std::move(state_->heap);
  }
  state_->wake.notify_all();
  if (!thread_.joinable()) return;
  if (isCurrent()) {
    // Joining would wait for the very job that is running this destructor. The thread keeps its state
    // and ends when that job returns.
    thread_.detach();
  } else {
    thread_.join();
  }
  // `dropped` goes last: releasing a job's captures may post to this worker, which takes no more jobs.
}

bool WorkerThread::later(const Entry& a, const Entry& b) {
  return a.deadline != b.deadline ? a.deadline > b.deadline : a.seq > b.seq;
}

void WorkerThread::schedule(Duration delay, Duration interval, CancelToken token, Job job) {
  auto deadline = std::chrono::steady_clock::now() + std::max(delay, Duration{0});
  State& state = *state_;
  std::lock_guard lock(state.mutex);
  if (state.stopping) return;
  state.heap.push_back(Entry{deadline, state.nextSeq++, interval, std::move(token), std::move(job)});
  std::push_heap(state.heap.begin(), state.heap.end(), later);
  // Under the lock: once it is released the job may have run and let go of the last owner of this worker,
  // which another thread may then destroy, condition variable and all.
  state.wake.notify_one();
}

void WorkerThread::run(const std::shared_ptr<State>& shared, std::string name, bool blockAsyncSignals) {
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
  State& state = *shared;
  auto& heap = state.heap;
  std::unique_lock lock(state.mutex);
  for (;;) {
    if (state.stopping) return;
    if (heap.empty()) {
      state.wake.wait(lock);
      continue;
    }
    if (heap.front().token.isCancelled()) {
      std::pop_heap(heap.begin(), heap.end(), later);
      Job dropped = std::move(heap.back().job);
      heap.pop_back();
      // Releasing a job's captures may post to this very thread: never with the lock held.
      lock.unlock();
      dropped = nullptr;
      lock.lock();
      continue;
    }
    auto deadline = heap.front().deadline;
    if (std::chrono::steady_clock::now() < deadline) {
      state.wake.wait_until(lock, deadline);
      continue;
    }
    std::pop_heap(heap.begin(), heap.end(), later);
    Entry entry = std::move(heap.back());
    heap.pop_back();
    lock.unlock();
    // A stack overflow in the job reaches the crash reporter, once it wants that.
    signalStack.ensure();
    entry.job();
    const bool repeats = entry.interval > Duration{0} && !entry.token.isCancelled();
    if (!repeats) entry.job = nullptr;  // released before the lock is taken again, as above
    lock.lock();
    if (repeats && state.stopping) {
      lock.unlock();
      return;  // `entry` goes after the lock is released
    }
    if (repeats) {
      // Keep the cadence of the first deadline, but never fire a backlog of missed ticks.
      auto next = entry.deadline + entry.interval;
      auto now = std::chrono::steady_clock::now();
      if (next < now) next = now;
      heap.push_back(
          Entry{next, state.nextSeq++, entry.interval, std::move(entry.token), std::move(entry.job)});
      std::push_heap(heap.begin(), heap.end(), later);
    }
  }
}

}  // namespace platform
