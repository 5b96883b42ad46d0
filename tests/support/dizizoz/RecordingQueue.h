#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozQueueing.h"
#include "DiziZoz/core/DiziZozReplayQueueing.h"
#include "tests/support/dizizoz/CallLog.h"

namespace dizizoz::test {

// An upload queue that keeps every record it is given and counts the calls; with a log, each call is
// also written there as "<name> start", "<name> add", "<name> flush", "<name> stop".
template <typename T>
class RecordingQueue final : public DiziZozQueueing<T> {
 public:
  struct StartArguments {
    bool disableReachabilityForTesting;
    bool disableQueueTimerForTesting;
    bool operator==(const StartArguments&) const = default;
  };

  explicit RecordingQueue(std::string name = "queue", std::shared_ptr<CallLog> log = nullptr)
      : name_(std::move(name)), log_(std::move(log)) {}

  void start(bool disableReachabilityForTesting, bool disableQueueTimerForTesting) override {
    note("start");
    std::lock_guard lock(lock_);
    starts_.push_back({disableReachabilityForTesting, disableQueueTimerForTesting});
  }
  void add(T record) override {
    note("add");
    std::lock_guard lock(lock_);
    records_.push_back(std::move(record));
  }
  void flush() override {
    note("flush");
    std::lock_guard lock(lock_);
    ++flushes_;
  }
  void stop() override {
    note("stop");
    std::lock_guard lock(lock_);
    ++stops_;
  }
  std::size_t depth() const override {
    std::lock_guard lock(lock_);
    return records_.size();
  }

  std::vector<T> records() const {
    std::lock_guard lock(lock_);
    return records_;
  }
  std::vector<StartArguments> starts() const {
    std::lock_guard lock(lock_);
    return starts_;
  }
  int flushes() const {
    std::lock_guard lock(lock_);
    return flushes_;
  }
  int stops() const {
    std::lock_guard lock(lock_);
    return stops_;
  }

 private:
  void note(const char* call) {
    if (log_) log_->add(name_ + " " + call);
  }

  const std::string name_;
  const std::shared_ptr<CallLog> log_;
  mutable std::mutex lock_;
  std::vector<T> records_;
  std::vector<StartArguments> starts_;
  int flushes_ = 0;
  int stops_ = 0;
};

// A replay queue whose inner queue records; add() and flush() go to it as well.
class RecordingReplayQueue final : public DiziZozReplayQueueing {
 public:
  explicit RecordingReplayQueue(std::shared_ptr<CallLog> log = nullptr) : inner_("replay", std::move(log)) {}

  RecordingQueue<DiziZozEvent>& innerQueue() override { return inner_; }
  void add(DiziZozEvent event) override { inner_.add(std::move(event)); }
  void flush() override { inner_.flush(); }

 private:
  RecordingQueue<DiziZozEvent> inner_;
};

}  // namespace dizizoz::test
