// Screen views, the session operations and deep links of DiziZozSDK.

#include <cctype>
#include <utility>

#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/DiziZozDeepLinkHelper.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozScreenNameSanitizer.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

constexpr std::string_view screenEvent = "$screen";

// True for an address whose scheme is "file" (in any case).
bool isFileUrl(std::string_view url) {
  constexpr std::string_view scheme = "file:";
  if (url.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
  }
  return true;
}

}  // namespace

void DiziZozSDK::screen(const std::string& title, std::optional<Properties> properties) {
  if (!checkSetup()) return;
  if (config()->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  const auto name = DiziZozScreenNameSanitizer::sanitize(title);
  if (!name) return;
  // The name is kept for every later event and log record: it must be writable as JSON.
  if (!isValidUtf8(*name)) {
    hedgeLog("screen refused: the screen name is not valid UTF-8");
    return;
  }

  bool unchanged;
  {
    std::lock_guard lock(lastScreenLock_);
    unchanged = lastScreenName_ == *name;
    lastScreenName_ = *name;
  }

  const auto queue = this->queue();
  if (!queue) return;

  Properties screenProperties{{"$screen_name", *name}};
  if (auto given = properties ? sanitizeDictionary(*properties) : std::nullopt) {
    for (auto& [key, value] : given->items()) screenProperties[key] = std::move(value);
  }
  const std::string distinctId = getDistinctId();
  auto built = buildEvent(std::string(screenEvent), distinctId,
                          buildProperties(distinctId, screenProperties, std::nullopt, std::nullopt,
                                          std::nullopt, true, std::nullopt),
                          services_.clock->now());
  if (!built) return;

  queue->add(*built);
  onEventCaptured.invoke(*built);
  DI::main().screenViewPublisher().onScreenView().invoke(*name);
  if (!unchanged) notifyContextDidChange();
}

std::optional<std::string> DiziZozSDK::getSessionId() {
  if (!checkSetup()) return std::nullopt;
  return sessionManager_->getSessionId(true);
}

void DiziZozSDK::startSession() {
  if (!checkSetup()) return;
  sessionManager_->startSession();
}

void DiziZozSDK::endSession() {
  if (!checkSetup()) return;
  sessionManager_->endSession();
}

void DiziZozSDK::captureDeepLink(const std::string& url, const std::optional<std::string>& referrer) {
  if (!checkSetup()) return;
  capture(std::string(DiziZozDeepLinkHelper::deepLinkOpenedEvent),
          {.properties = DiziZozDeepLinkHelper::buildDeepLinkProperties(url, referrer)});
}

void DiziZozSDK::captureDeepLink(const std::vector<std::string>& urls) {
  for (const auto& url : urls) {
    if (!isFileUrl(url)) captureDeepLink(url);
  }
}

void DiziZozSDK::captureDeepLink(const DiziZozUserActivity& userActivity) {
  if (userActivity.activityType != DiziZozUserActivity::browsingWebType || !userActivity.webpageURL) return;
  captureDeepLink(*userActivity.webpageURL, userActivity.referrerURL);
}

}  // namespace dizizoz
