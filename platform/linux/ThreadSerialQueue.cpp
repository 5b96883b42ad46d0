#include "platform/linux/ThreadSerialQueue.h"

#include <condition_variable>
#include <mutex>

namespace platform {

ThreadSerialQueue::ThreadSerialQueue(std::string name) : worker_(std::move(name), true) {}

void ThreadSerialQueue::async(Job job) {
  worker_.schedule(Duration{0}, Duration{0}, CancelToken{}, std::move(job));
}

void ThreadSerialQueue::sync(Job job) {
  if (isCurrent()) {
    // Waiting for ourselves would never end.
    job();
    return;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  worker_.schedule(Duration{0}, Duration{0}, CancelToken{}, [&job, done] {
    job();
    {
      std::lock_guard lock(done->mutex);
      done->done = true;
    }
    done->cv.notify_all();
  });
  std::unique_lock lock(done->mutex);
  done->cv.wait(lock, [&] { return done->done; });
}

CancelToken ThreadSerialQueue::asyncAfter(Duration delay, Job job) {
  CancelToken token;
  worker_.schedule(delay, Duration{0}, token, std::move(job));
  return token;
}

}  // namespace platform
