#include "platform/linux/ThreadMainExecutor.h"

#include <algorithm>

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

MainExecutor& standaloneMainExecutor() {
  static auto* executor = new ThreadMainExecutor("standalone-main");
  return *executor;
}

}  // namespace platform
