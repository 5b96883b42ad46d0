#include "platform/fake/ManualSerialQueue.h"

namespace platform::fake {

Job ManualSerialQueue::wrap(Job job) {
  return [this, job = std::move(job)] {
    ++depth_;
    job();
    --depth_;
  };
}

void ManualSerialQueue::async(Job job) {
  loop_.post(wrap(std::move(job)));
}

void ManualSerialQueue::sync(Job job) {
  if (!isCurrent()) drain();
  ++depth_;
  job();
  --depth_;
}

CancelToken ManualSerialQueue::asyncAfter(Duration delay, Job job) {
  return loop_.postAfter(delay, wrap(std::move(job)));
}

bool ManualSerialQueue::isCurrent() const {
  return depth_ > 0;
}

void ManualSerialQueue::drain() {
  loop_.runUntilIdle();
}

void ManualSerialQueue::advance(Duration d) {
  loop_.advance(d);
}

}  // namespace platform::fake
