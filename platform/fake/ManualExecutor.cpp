#include "platform/fake/ManualExecutor.h"

#include <algorithm>
#include <stdexcept>

#include "platform/fake/ManualClock.h"

namespace platform::fake {
namespace {

constexpr int kMaxTurnsPerInstant = 1000000;

void checkTurns(int& turns) {
  if (++turns > kMaxTurnsPerInstant) {
    throw std::runtime_error("ManualExecutor: jobs keep re-posting themselves at one instant");
  }
}

}  // namespace

ManualExecutor::ManualExecutor() : owner_(std::this_thread::get_id()) {}

ManualExecutor::ManualExecutor(ManualClock& clock) : owner_(std::this_thread::get_id()), clock_(&clock) {}

void ManualExecutor::post(Job job) {
  postAfter(Duration{0}, std::move(job));
}

CancelToken ManualExecutor::postAfter(Duration delay, Job job) {
  CancelToken token;
  std::lock_guard lock(mutex_);
  schedule(now_ + std::max(delay, Duration{0}), Duration{0}, token, std::move(job));
  return token;
}

CancelToken ManualExecutor::scheduleRepeating(Duration interval, Job job) {
  // A zero interval would make one instant of virtual time last forever.
  interval = std::max(interval, Duration{1});
  CancelToken token;
  std::lock_guard lock(mutex_);
  schedule(now_ + interval, interval, token, std::move(job));
  return token;
}

bool ManualExecutor::isMainThread() const {
  return std::this_thread::get_id() == owner_;
}

void ManualExecutor::schedule(Duration deadline, Duration interval, CancelToken token, Job job) {
  queue_.push_back(Entry{deadline, nextSeq_++, interval, std::move(token), std::move(job)});
}

std::size_t ManualExecutor::runTurn(Duration at) {
  std::vector<Entry> turn;
  {
    std::lock_guard lock(mutex_);
    auto due =
        std::stable_partition(queue_.begin(), queue_.end(), [&](const Entry& e) { return e.deadline > at; });
    if (due == queue_.end()) return 0;
    turn.assign(std::make_move_iterator(due), std::make_move_iterator(queue_.end()));
    queue_.erase(due, queue_.end());
  }
  std::sort(turn.begin(), turn.end(), [](const Entry& a, const Entry& b) {
    return a.deadline != b.deadline ? a.deadline < b.deadline : a.seq < b.seq;
  });
  for (auto& entry : turn) {
    if (entry.token.isCancelled()) continue;
    entry.job();
    if (entry.interval > Duration{0} && !entry.token.isCancelled()) {
      std::lock_guard lock(mutex_);
      schedule(entry.deadline + entry.interval, entry.interval, entry.token, std::move(entry.job));
    }
  }
  return turn.size();
}

void ManualExecutor::moveTo(Duration t) {
  Duration delta{0};
  {
    std::lock_guard lock(mutex_);
    if (t <= now_) return;
    delta = t - now_;
    now_ = t;
  }
  if (clock_ != nullptr) clock_->advance(delta);
}

void ManualExecutor::advance(Duration d) {
  Duration target;
  {
    std::lock_guard lock(mutex_);
    target = now_ + std::max(d, Duration{0});
  }
  int turns = 0;
  Duration last{-1};
  for (;;) {
    Duration next;
    {
      std::lock_guard lock(mutex_);
      auto earliest = std::min_element(queue_.begin(), queue_.end(), [](const Entry& a, const Entry& b) {
        return a.deadline < b.deadline;
      });
      if (earliest == queue_.end() || earliest->deadline > target) break;
      next = std::max(earliest->deadline, now_);
    }
    if (next != last) turns = 0;
    last = next;
    checkTurns(turns);
    moveTo(next);
    runTurn(next);
  }
  moveTo(target);
}

void ManualExecutor::runUntilIdle() {
  Duration at;
  {
    std::lock_guard lock(mutex_);
    at = now_;
  }
  int turns = 0;
  while (runTurn(at) != 0) checkTurns(turns);
}

std::size_t ManualExecutor::runOnce() {
  Duration at;
  {
    std::lock_guard lock(mutex_);
    at = now_;
  }
  return runTurn(at);
}

ManualExecutor::Duration ManualExecutor::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

std::size_t ManualExecutor::pendingCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(queue_.begin(), queue_.end(), [](const Entry& e) { return !e.token.isCancelled(); }));
}

}  // namespace platform::fake
