#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/MenuTracking.h"

namespace platform::fake {

// Menu tracking driven by the test: open() and close() tell the observers, on the calling thread (call
// them from another thread to see how observers cope). Thread-safe.
class FakeMenuTracking final : public MenuTracking {
 public:
  ObserverId addObserver(Observer observer) override {
    std::lock_guard lock(mutex_);
    observers_[++lastId_] = std::move(observer);
    return lastId_;
  }
  void removeObserver(ObserverId id) override {
    std::lock_guard lock(mutex_);
    observers_.erase(id);
  }

  void open() { notify(Event::didBeginTracking); }
  void close() { notify(Event::didEndTracking); }
  std::size_t observerCount() const {
    std::lock_guard lock(mutex_);
    return observers_.size();
  }

 private:
  void notify(Event event) {
    std::vector<ObserverId> ids;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, observer] : observers_) ids.push_back(id);
    }
    for (const auto id : ids) {
      Observer observer;
      {
        std::lock_guard lock(mutex_);
        auto it = observers_.find(id);
        if (it == observers_.end()) continue;
        observer = it->second;
      }
      observer(event);
    }
  }

  mutable std::mutex mutex_;
  ObserverId lastId_ = 0;
  std::map<ObserverId, Observer> observers_;
};

}  // namespace platform::fake
