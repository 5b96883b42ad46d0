#pragma once

#include <atomic>

#include "DiziZoz/core/AppLifecyclePublishing.h"
#include "DiziZoz/core/ScreenViewPublishing.h"

namespace dizizoz {
class PushNotificationPublisher;
}

namespace dizizoz::DI {

// The holder of the shared publishers that integrations and the client subscribe to. Each entry
// resolves to its process-wide publisher on first access and keeps it, so every access yields the same
// object for the life of the process. Thread-safe.
class Container {
 public:
  AppLifecyclePublishing& appLifecyclePublisher();
  ScreenViewPublishing& screenViewPublisher();
  // Defined with the publisher (dizizoz_integrations): only code that links it may ask.
  PushNotificationPublisher& pushNotificationPublisher();

 private:
  std::atomic<AppLifecyclePublishing*> appLifecyclePublisher_{nullptr};
  std::atomic<ScreenViewPublishing*> screenViewPublisher_{nullptr};
  std::atomic<PushNotificationPublisher*> pushNotificationPublisher_{nullptr};
};

// The one container, created on first use and never destroyed.
Container& main();

}  // namespace dizizoz::DI
