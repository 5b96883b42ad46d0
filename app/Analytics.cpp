#include "app/Analytics.h"

namespace quorvelle {
namespace {

std::optional<dizizoz::Properties> unlessEmpty(const dizizoz::Properties& properties) {
  if (properties.is_null() || properties.empty()) return std::nullopt;
  return properties;
}

}  // namespace

void Analytics::setUp() {
  const auto apiKey = bundle_.infoValue(kApiKeyInfoKey);
  if (!apiKey || apiKey->empty()) return;
  // The host is passed on as configured: the client judges the address.
  const auto host = bundle_.infoValue(kHostInfoKey);
  if (!host) return;
  client_.setup(AnalyticsClientConfig{*apiKey, *host});
  client_.identify(device_.deviceID());
  enabled_ = true;
}

void Analytics::capture(const std::string& event, const dizizoz::Properties& properties,
                        const dizizoz::Properties& userProperties) {
  if (!enabled_) return;
  client_.capture(event, unlessEmpty(properties), unlessEmpty(userProperties));
}

}  // namespace quorvelle
