#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozQueueing.h"
#include "DiziZoz/core/DiziZozReplayQueueing.h"

namespace dizizoz {

// The upload queue of the default services: records are kept in memory, oldest first, and never sent.
// At most `maxQueueSize` records (at least 1) are kept; a record added to a full queue pushes the oldest
// out, as the persistent queue does. Thread-safe.
template <typename T>
class DiziZozMemoryQueue final : public DiziZozQueueing<T> {
 public:
  explicit DiziZozMemoryQueue(int maxQueueSize)
      : maxQueueSize_(maxQueueSize > 1 ? static_cast<std::size_t>(maxQueueSize) : 1) {}

  void start(bool, bool) override {}
  void add(T record) override {
    std::lock_guard lock(lock_);
    if (records_.size() >= maxQueueSize_) records_.pop_front();
    records_.push_back(std::move(record));
  }
  void flush() override {}
  void stop() override {}
  std::size_t depth() const override {
    std::lock_guard lock(lock_);
    return records_.size();
  }

  // The kept records, oldest first.
  std::vector<T> records() const {
    std::lock_guard lock(lock_);
    return {records_.begin(), records_.end()};
  }

 private:
  const std::size_t maxQueueSize_;
  mutable std::mutex lock_;
  std::deque<T> records_;
};

// The replay queue of the default services: snapshots go straight to an in-memory inner queue.
class DiziZozMemoryReplayQueue final : public DiziZozReplayQueueing {
 public:
  explicit DiziZozMemoryReplayQueue(int maxQueueSize) : inner_(maxQueueSize) {}

  DiziZozMemoryQueue<DiziZozEvent>& innerQueue() override { return inner_; }
  void add(DiziZozEvent event) override { inner_.add(std::move(event)); }
  void flush() override { inner_.flush(); }

 private:
  DiziZozMemoryQueue<DiziZozEvent> inner_;
};

}  // namespace dizizoz
