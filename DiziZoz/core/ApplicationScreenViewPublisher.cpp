#include "DiziZoz/core/ApplicationScreenViewPublisher.h"

#include <utility>

namespace dizizoz {

ApplicationScreenViewPublisher& ApplicationScreenViewPublisher::shared() {
  static auto* publisher = new ApplicationScreenViewPublisher;
  return *publisher;
}

void ApplicationScreenViewPublisher::setAutoCaptureHandler(AutoCaptureHandler handler) {
  AutoCaptureHandler previous;
  std::lock_guard lock(handlerLock_);
  previous = std::exchange(autoCaptureHandler_, std::move(handler));
  // `previous` may hold the last reference to what the old handler captured; it goes after the lock does.
}

ApplicationScreenViewPublisher::AutoCaptureHandler ApplicationScreenViewPublisher::autoCaptureHandler()
    const {
  std::lock_guard lock(handlerLock_);
  return autoCaptureHandler_;
}

}  // namespace dizizoz
