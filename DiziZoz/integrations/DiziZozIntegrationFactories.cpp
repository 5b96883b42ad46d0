#include "DiziZoz/integrations/DiziZozIntegrationFactories.h"

#include <memory>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/integrations/DiziZozScreenViewIntegration.h"

namespace dizizoz {

void registerIntegrationFactories() {
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::screenViews,
                                       [] { return std::make_shared<DiziZozScreenViewIntegration>(); });
}

}  // namespace dizizoz
