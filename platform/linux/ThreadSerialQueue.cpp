#include "platform/linux/ThreadSerialQueue.h"

#include <condition_variable>
#include <memory>
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
  // Signals when the job's last copy goes away: after it ran, or when a queue being destroyed drops it,
  // so the caller never waits forever.
  struct Notifier {
    explicit Notifier(std::shared_ptr<Done> d) : done(std::move(d)) {}
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;
    std::shared_ptr<Done> done;
    ~Notifier() {
      {
        std::lock_guard lock(done->mutex);
        done->done = true;
      }
      done->cv.notify_all();
    }
  };
  auto done = std::make_shared<Done>();
  auto notifier = std::make_shared<Notifier>(done);
  worker_.schedule(Duration{0}, Duration{0}, CancelToken{}, [&job, notifier] { job(); });
  notifier.reset();
  std::unique_lock lock(done->mutex);
  done->cv.wait(lock, [&] { return done->done; });
}

CancelToken ThreadSerialQueue::asyncAfter(Duration delay, Job job) {
  CancelToken token;
  worker_.schedule(delay, Duration{0}, token, std::move(job));
  return token;
}

}  // namespace platform
