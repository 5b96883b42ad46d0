#pragma once

#include <memory>
#include <string>

#include "DiziZoz/core/DiziZozIntegrationInstallState.h"
#include "DiziZoz/core/RegistrationToken.h"

namespace dizizoz {

class PushNotificationPublisher;

// Records that the user opened a push notification: while installed (and running as an application),
// every response to a remotely pushed notification other than a dismissal becomes one
// capturePushNotificationOpened(response) on the owning client, on the delivering thread. Counts as
// wrapping system callbacks, so the client installs it only while `enableSwizzling` is on. At most one
// client holds it at a time (the shared install guard).
class DiziZozPushNotificationOpenIntegration final
    : public DiziZozIntegrationPattern<DiziZozPushNotificationOpenIntegration>,
      public std::enable_shared_from_this<DiziZozPushNotificationOpenIntegration> {
 public:
  // `publisher` must outlive the integration. `bundlePathExtension` is the path extension of the
  // program's bundle: only "app" and "appex" subscribe (a Linux executable has none).
  DiziZozPushNotificationOpenIntegration(PushNotificationPublisher& publisher,
                                         std::string bundlePathExtension);

  bool requiresSwizzling() const override { return true; }

 protected:
  void start(DiziZozSDK& client) override;
  void stop() override;

 private:
  PushNotificationPublisher& publisher_;
  const std::string bundlePathExtension_;
  RegistrationToken token_;
};

}  // namespace dizizoz
