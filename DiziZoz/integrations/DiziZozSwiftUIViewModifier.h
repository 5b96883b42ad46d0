#pragma once

#include <memory>
#include <optional>
#include <string>
#include <typeinfo>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

class DiziZozSDK;

// What a host's view does with analytics each time it appears: a screen view (`screenEvent`) or an event
// named `viewEventName`. A UI toolkit adapter calls onAppear() on every appearance of the view (not only
// the first) and nothing when it disappears. The application itself uses none of these helpers.
struct DiziZozSwiftUIViewModifier {
  std::string viewEventName;
  bool screenEvent = true;
  std::optional<Properties> properties;
  // The client to report to; null means DiziZozSDK::shared().
  std::shared_ptr<DiziZozSDK> diziZoz;

  // The appearance action: screen(viewEventName, properties) or capture(viewEventName, properties) on the
  // client, which refuses as it always does (before set-up, while opted out). Thread of the view.
  void onAppear() const;
};

// A screen view on every appearance of a view of type `viewType`. Without a name the view is named after
// its type without namespaces (a template keeps its arguments), which the client's screen-name sanitizer
// then cleans.
DiziZozSwiftUIViewModifier diziZozScreenView(const std::type_info& viewType,
                                             std::optional<std::string> screenName = std::nullopt,
                                             std::optional<Properties> properties = std::nullopt,
                                             std::shared_ptr<DiziZozSDK> diziZoz = nullptr);
template <typename View>
DiziZozSwiftUIViewModifier diziZozScreenView(std::optional<std::string> screenName = std::nullopt,
                                             std::optional<Properties> properties = std::nullopt,
                                             std::shared_ptr<DiziZozSDK> diziZoz = nullptr) {
  return diziZozScreenView(typeid(View), std::move(screenName), std::move(properties), std::move(diziZoz));
}

// The event `eventName` on every appearance of a view.
DiziZozSwiftUIViewModifier diziZozViewSeen(std::string eventName,
                                           std::optional<Properties> properties = std::nullopt,
                                           std::shared_ptr<DiziZozSDK> diziZoz = nullptr);

}  // namespace dizizoz
