#include "DiziZoz/integrations/DiziZozIntegrationFactories.h"

#include <utility>

#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/integrations/DiziZozAppLifeCycleIntegration.h"
#include "DiziZoz/integrations/DiziZozPushNotificationOpenIntegration.h"
#include "DiziZoz/integrations/DiziZozScreenViewIntegration.h"
#include "DiziZoz/integrations/PushNotificationPublisher.h"

namespace dizizoz {

void registerIntegrationFactories(std::shared_ptr<platform::UserDefaults> standardUserDefaults) {
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::screenViews,
                                       [] { return std::make_shared<DiziZozScreenViewIntegration>(); });
  // A Linux executable has no bundle path extension: the integration installs without subscribing.
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::pushNotificationOpened, [] {
    return std::make_shared<DiziZozPushNotificationOpenIntegration>(DI::main().pushNotificationPublisher(),
                                                                    "");
  });
  if (!standardUserDefaults) return;  // no place to remember versions: no life-cycle events
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::appLifecycle,
                                       [defaults = std::move(standardUserDefaults)] {
                                         return std::make_shared<DiziZozAppLifeCycleIntegration>(defaults);
                                       });
}

}  // namespace dizizoz
