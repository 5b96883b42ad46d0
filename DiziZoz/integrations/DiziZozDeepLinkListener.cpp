#include "DiziZoz/integrations/DiziZozDeepLinkListener.h"

#include <utility>

#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz {

void DiziZozDeepLinkListener::onOpenURL(const std::string& url) const {
  if (!dizizoz) return;
  if (!dizizoz->isEnabled()) {
    hedgeLog(DiziZozSDK::notSetUpMessage);
    return;
  }
  dizizoz->captureDeepLink(url);
}

void DiziZozDeepLinkListener::continueUserActivity(const DiziZozUserActivity& activity) const {
  if (activity.activityType != DiziZozUserActivity::browsingWebType) return;
  if (dizizoz) dizizoz->captureDeepLink(activity);
}

DiziZozDeepLinkListener diziZozDeepLinkListener(std::shared_ptr<DiziZozSDK> diziZoz) {
  return {.dizizoz = diziZoz ? std::move(diziZoz) : DiziZozSDK::shared()};
}

}  // namespace dizizoz
