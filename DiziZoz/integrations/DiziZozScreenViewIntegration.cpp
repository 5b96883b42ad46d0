#include "DiziZoz/integrations/DiziZozScreenViewIntegration.h"

#include <string>

#include "DiziZoz/core/ApplicationScreenViewPublisher.h"
#include "DiziZoz/core/DiziZozSDK.h"

namespace dizizoz {

void DiziZozScreenViewIntegration::start(DiziZozSDK&) {
  std::weak_ptr<DiziZozScreenViewIntegration> weakSelf = weak_from_this();
  ApplicationScreenViewPublisher::shared().setAutoCaptureHandler([weakSelf](const std::string& screenName) {
    auto self = weakSelf.lock();
    if (!self) return;
    if (auto client = self->diziZoz()) client->screen(screenName);
  });
}

void DiziZozScreenViewIntegration::stop() {
  ApplicationScreenViewPublisher::shared().setAutoCaptureHandler({});
}

}  // namespace dizizoz
