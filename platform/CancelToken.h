#pragma once

#include <atomic>
#include <memory>

namespace platform {

// A shared cancellation flag. Copies share one state: cancelling any copy cancels all of them. A
// default-constructed token owns a fresh, uncancelled state. Thread-safe; cancel() is idempotent.
class CancelToken {
 public:
  CancelToken() : state_(std::make_shared<std::atomic<bool>>(false)) {}

  void cancel() const { state_->store(true, std::memory_order_release); }
  bool isCancelled() const { return state_->load(std::memory_order_acquire); }

  friend bool operator==(const CancelToken& a, const CancelToken& b) { return a.state_ == b.state_; }

 private:
  std::shared_ptr<std::atomic<bool>> state_;
};

}  // namespace platform
