// The push-notification opened event of DiziZozSDK.

#include <utility>

#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"

namespace dizizoz {
namespace {

constexpr std::string_view pushOpenedEvent = "$push_notification_opened";
// The payload entry the analytics service's pushes carry.
constexpr std::string_view dizizozPayloadKey = "dizizoz";
constexpr std::string_view notificationPrefix = "$notification_";

std::optional<Value> payloadEntry(const std::optional<Properties>& payload) {
  if (!payload || !payload->is_object()) return std::nullopt;
  const auto entry = payload->find(dizizozPayloadKey);
  return entry == payload->end() ? std::nullopt : std::optional<Value>(*entry);
}

}  // namespace

void DiziZozSDK::capturePushNotificationOpened(const DiziZozNotificationResponse& response) {
  // The texts describe the service's push only when it put its entry into the payload.
  const bool fromService = payloadEntry(response.payload).has_value();
  const auto textIfFromService = [&](const std::string& text) {
    return fromService ? std::optional(text) : std::nullopt;
  };
  capturePushNotificationOpened(textIfFromService(response.title), textIfFromService(response.subtitle),
                                textIfFromService(response.body), response.payload,
                                response.actionIdentifier);
}

void DiziZozSDK::capturePushNotificationOpened(const std::optional<std::string>& title,
                                               const std::optional<std::string>& subtitle,
                                               const std::optional<std::string>& body,
                                               const std::optional<Properties>& payload,
                                               const std::optional<std::string>& action) {
  if (!checkSetup()) return;
  if (config()->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  const std::string prefix(notificationPrefix);
  Properties properties = Properties::object();
  const auto addText = [&](const char* key, const std::optional<std::string>& text) {
    if (text && !text->empty()) properties[prefix + key] = *text;
  };
  addText("title", title);
  addText("subtitle", subtitle);
  addText("body", body);
  if (auto entries = dizizozPayload(payloadEntry(payload))) {
    for (auto& [key, value] : entries->items()) properties[prefix + key] = std::move(value);
  }
  if (action && !action->empty() && *action != DiziZozNotificationResponse::defaultActionIdentifier)
    properties[prefix + "action"] = *action;
  capture(std::string(pushOpenedEvent), {.properties = std::move(properties)});
}

std::optional<Properties> DiziZozSDK::dizizozPayload(const std::optional<Value>& entry) {
  if (!entry) return std::nullopt;
  if (entry->is_object()) return *entry;
  if (!entry->is_string()) return std::nullopt;
  auto parsed = fromJSONData(entry->get_ref<const std::string&>());
  if (!parsed) hedgeLog("Push notification 'dizizoz' payload is not a JSON object; ignoring.");
  return parsed;
}

}  // namespace dizizoz
