#include "DiziZoz/integrations/DiziZozPushNotificationOpenIntegration.h"

#include <utility>

#include "DiziZoz/core/DiziZozNotificationResponse.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/integrations/PushNotificationPublisher.h"

namespace dizizoz {

DiziZozPushNotificationOpenIntegration::DiziZozPushNotificationOpenIntegration(
    PushNotificationPublisher& publisher, std::string bundlePathExtension)
    : publisher_(publisher), bundlePathExtension_(std::move(bundlePathExtension)) {}

void DiziZozPushNotificationOpenIntegration::start(DiziZozSDK&) {
  if (bundlePathExtension_ != "app" && bundlePathExtension_ != "appex") {
    hedgeLog(
        "[DiziZoz] Push notification opened integration: skipping setup - not running in an app context");
    return;
  }
  std::weak_ptr<DiziZozPushNotificationOpenIntegration> weakSelf = weak_from_this();
  token_ =
      publisher_.onNotificationResponse().subscribe([weakSelf](const DiziZozNotificationResponse& response) {
        if (!response.triggeredByRemotePush) return;  // a notification the program scheduled itself
        if (response.actionIdentifier == DiziZozNotificationResponse::dismissActionIdentifier) return;
        auto self = weakSelf.lock();
        if (!self) return;
        if (auto client = self->diziZoz()) client->capturePushNotificationOpened(response);
      });
}

void DiziZozPushNotificationOpenIntegration::stop() {
  token_.release();
}

}  // namespace dizizoz
