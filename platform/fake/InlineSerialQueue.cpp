#include "platform/fake/InlineSerialQueue.h"

namespace platform::fake {

void InlineSerialQueue::async(Job job) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(job));
    if (running_) return;  // the running drain picks it up
    running_ = true;
    runner_ = std::this_thread::get_id();
  }
  drain();
}

void InlineSerialQueue::drain() {
  for (;;) {
    Job job;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) {
        running_ = false;
        runner_ = {};
        return;
      }
      job = std::move(pending_.front());
      pending_.pop_front();
    }
    job();
  }
}

void InlineSerialQueue::sync(Job job) {
  if (isCurrent()) {
    job();
    return;
  }
  async(std::move(job));
}

CancelToken InlineSerialQueue::asyncAfter(Duration, Job job) {
  async(std::move(job));
  return CancelToken{};
}

bool InlineSerialQueue::isCurrent() const {
  std::lock_guard lock(mutex_);
  return running_ && runner_ == std::this_thread::get_id();
}

}  // namespace platform::fake
