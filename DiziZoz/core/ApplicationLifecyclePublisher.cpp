#include "DiziZoz/core/ApplicationLifecyclePublisher.h"

#include <string>

#include "platform/AppNotifications.h"

namespace dizizoz {

namespace names = platform::notifications;

ApplicationLifecyclePublisher& ApplicationLifecyclePublisher::shared() {
  static auto* publisher = new ApplicationLifecyclePublisher;
  return *publisher;
}

ApplicationLifecyclePublisher::ApplicationLifecyclePublisher() {
  auto& center = platform::NotificationCenter::defaultCenter();
  // The instance is never destroyed, so the observers may refer to it directly.
  finishLaunchingObservation_ =
      center.addObserver(std::string(names::applicationDidFinishLaunching),
                         [this](const platform::Notification&) { appDidFinishLaunching(); });
  resignActiveObservation_ =
      center.addObserver(std::string(names::applicationDidResignActive),
                         [this](const platform::Notification&) { appDidEnterBackground(); });
  becomeActiveObservation_ =
      center.addObserver(std::string(names::applicationDidBecomeActive),
                         [this](const platform::Notification&) { appDidBecomeActive(); });
}

}  // namespace dizizoz
