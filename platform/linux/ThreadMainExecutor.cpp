#include "platform/linux/ThreadMainExecutor.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace platform {

ThreadMainExecutor::ThreadMainExecutor(std::string name) : worker_(std::move(name), false) {}

void ThreadMainExecutor::post(Job job) {
  worker_.schedule(Duration{0}, Duration{0}, CancelToken{}, std::move(job));
}

CancelToken ThreadMainExecutor::postAfter(Duration delay, Job job) {
  CancelToken token;
  worker_.schedule(delay, Duration{0}, token, std::move(job));
  return token;
}

CancelToken ThreadMainExecutor::scheduleRepeating(Duration interval, Job job) {
  interval = std::max<Duration>(interval, std::chrono::milliseconds{1});  // no busy loop
  CancelToken token;
  worker_.schedule(interval, interval, token, std::move(job));
  return token;
}

namespace {

// The standalone executor's thread starts with its first job: a program that installs its own main
// executor before the analytics client runs still takes the default services, which name this one, and
// would otherwise keep an idle thread for nothing.
class LazyMainExecutor final : public MainExecutor {
 public:
  void post(Job job) override { executor().post(std::move(job)); }
  CancelToken postAfter(Duration delay, Job job) override {
    return executor().postAfter(delay, std::move(job));
  }
  CancelToken scheduleRepeating(Duration interval, Job job) override {
    return executor().scheduleRepeating(interval, std::move(job));
  }
  // Before the first job no thread is this executor's.
  bool isMainThread() const override {
    const ThreadMainExecutor* started = started_.load(std::memory_order_acquire);
    return started != nullptr && started->isMainThread();
  }

 private:
  ThreadMainExecutor& executor() {
    std::call_once(once_, [this] { started_.store(new ThreadMainExecutor("standalone-main")); });
    return *started_.load(std::memory_order_acquire);
  }

  std::once_flag once_;
  std::atomic<ThreadMainExecutor*> started_{nullptr};  // never destroyed, as the executor itself
};

}  // namespace

MainExecutor& standaloneMainExecutor() {
  static auto* executor = new LazyMainExecutor;
  return *executor;
}

}  // namespace platform
