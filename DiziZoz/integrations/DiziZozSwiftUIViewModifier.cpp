#include "DiziZoz/integrations/DiziZozSwiftUIViewModifier.h"

#include <utility>

#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/TypeNames.h"

namespace dizizoz {

void DiziZozSwiftUIViewModifier::onAppear() const {
  const auto& client = diziZoz ? diziZoz : DiziZozSDK::shared();
  if (screenEvent) {
    client->screen(viewEventName, properties);
  } else {
    client->capture(viewEventName, {.properties = properties});
  }
}

DiziZozSwiftUIViewModifier diziZozScreenView(const std::type_info& viewType,
                                             std::optional<std::string> screenName,
                                             std::optional<Properties> properties,
                                             std::shared_ptr<DiziZozSDK> diziZoz) {
  return {.viewEventName = screenName ? std::move(*screenName) : unqualifiedTypeName(viewType),
          .screenEvent = true,
          .properties = std::move(properties),
          .diziZoz = std::move(diziZoz)};
}

DiziZozSwiftUIViewModifier diziZozViewSeen(std::string eventName, std::optional<Properties> properties,
                                           std::shared_ptr<DiziZozSDK> diziZoz) {
  return {.viewEventName = std::move(eventName),
          .screenEvent = false,
          .properties = std::move(properties),
          .diziZoz = std::move(diziZoz)};
}

}  // namespace dizizoz
