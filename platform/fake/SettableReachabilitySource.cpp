#include "platform/fake/SettableReachabilitySource.h"

#include <utility>

namespace platform::fake {

SettableReachabilitySource::SettableReachabilitySource(ReachabilityFlags flags)
    : flags_(flags), delivery_("settable") {}

void SettableReachabilitySource::set(ReachabilityFlags flags) {
  flags_ = flags;
  delivery_.report(flags);
}

ReachabilityRead SettableReachabilitySource::readFlags() {
  ++reads_;
  if (const std::int32_t error = readError_) return ReachabilityRead{.flags = std::nullopt, .error = error};
  return ReachabilityRead{.flags = flags_.load(), .error = 0};
}

std::int32_t SettableReachabilitySource::setCallback(Callback callback) {
  if (callback) {
    if (const std::int32_t error = setCallbackError_) return error;
    ++callbackInstalls_;
  }
  delivery_.setCallback(std::move(callback));
  return 0;
}

std::int32_t SettableReachabilitySource::schedule(std::shared_ptr<SerialQueue> queue) {
  if (const std::int32_t error = scheduleError_) return error;
  ++schedules_;
  delivery_.setQueue(std::move(queue));
  return 0;
}

}  // namespace platform::fake
