// Identity of DiziZozSDK: identify, person properties with their de-duplication, super properties,
// alias and reset.

#include <utility>

#include "DiziZoz/core/DiziZozPushSubscriptionHandling.h"
#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

using StorageKey = DiziZozStorage::StorageKey;

constexpr std::string_view identifyEvent = "$identify";
constexpr std::string_view setEvent = "$set";
constexpr std::string_view createAliasEvent = "$create_alias";
constexpr std::string_view identifyName = "identify(_:userProperties:userPropertiesSetOnce:)";
constexpr std::string_view setPersonPropertiesName =
    "setPersonProperties(userPropertiesToSet:userPropertiesToSetOnce:)";
constexpr std::string_view aliasName = "alias(_:)";

// The payload the de-duplication compares: JSON with sorted keys (the object type keeps its keys sorted).
std::string personPropertiesFingerprint(const std::string& distinctId,
                                        const std::optional<Properties>& userPropertiesToSet,
                                        const std::optional<Properties>& userPropertiesToSetOnce) {
  Properties payload{{"distinct_id", distinctId}};
  if (userPropertiesToSet) payload["userPropertiesToSet"] = *userPropertiesToSet;
  if (userPropertiesToSetOnce) payload["userPropertiesToSetOnce"] = *userPropertiesToSetOnce;
  if (auto text = toJSONData(payload)) return std::move(*text);
  return payload.dump(-1, ' ', false, Value::error_handler_t::replace);
}

}  // namespace

void DiziZozSDK::identify(const std::string& distinctId, std::optional<Properties> userProperties,
                          std::optional<Properties> userPropertiesSetOnce) {
  if (!checkSetup()) return;
  if (distinctId.empty()) {
    hedgeLog("identify call not allowed, distinctId is invalid: " + distinctId);
    return;
  }
  // Such an id can be neither stored nor sent: taking it would mark the installation identified without
  // an id, drop every later event and refuse the next launch's identify.
  if (!isValidUtf8(distinctId)) {
    hedgeLog("identify call not allowed, distinctId is not UTF-8 text: " + toValidUtf8(distinctId));
    return;
  }
  const auto config = this->config();
  if (config->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  if (!requirePersonProcessing(identifyName)) return;
  const auto queue = this->queue();
  const auto identity = identityCache();
  if (!queue || !identity) return;

  // From the identity cache held here, not through getDistinctId(): a close() since the checks above makes
  // that answer the empty text, which would become the stored anonymous id for good.
  const std::string oldDistinctId = identity->getDistinctId();
  const bool reuseAnonymousId = config->reuseAnonymousId;

  enum class Case { markIdentified, switchUser, alreadyOther, alreadySame };
  Case what;
  {
    std::lock_guard lock(identifyLock_);
    const bool identified = identity->isIdentified();
    const bool sameId = distinctId == oldDistinctId;
    if (!identified && sameId) {
      identity->setIdentified(true);
      what = Case::markIdentified;
    } else if (!identified) {
      if (!reuseAnonymousId) identity->setAnonymousId(oldDistinctId);
      identity->setDistinctId(distinctId);
      identity->setIdentified(true);
      what = Case::switchUser;
    } else {
      what = sameId ? Case::alreadySame : Case::alreadyOther;
    }
  }

  const std::string alreadyIdentified = "already identified with id: " + oldDistinctId;
  switch (what) {
    case Case::markIdentified:
      setPersonPropertiesForFlagsIfNeeded(userProperties, userPropertiesSetOnce);
      capturePersonProperties(distinctId, userProperties, userPropertiesSetOnce);
      rememberPersonProperties(distinctId, userProperties, userPropertiesSetOnce);
      if (isNonEmptyObject(userProperties) || isNonEmptyObject(userPropertiesSetOnce)) reloadFeatureFlags();
      notifyContextDidChange();
      return;

    case Case::switchUser: {
      Properties properties{{"distinct_id", distinctId}};
      if (!reuseAnonymousId) properties["$anon_distinct_id"] = oldDistinctId;
      Properties built = buildProperties(
          distinctId, properties, userProperties ? sanitizeDictionary(*userProperties) : std::nullopt,
          userPropertiesSetOnce ? sanitizeDictionary(*userPropertiesSetOnce) : std::nullopt, std::nullopt,
          true, std::nullopt);
      // The new identity stays stored even when a before-send hook drops the event.
      auto event =
          buildEvent(std::string(identifyEvent), distinctId, std::move(built), services_.clock->now());
      if (!event) return;
      setPersonPropertiesForFlagsIfNeeded(userProperties, userPropertiesSetOnce);
      queue->add(*event);
      onEventCaptured.invoke(*event);
      reloadFeatureFlags();
      notifyContextDidChange();
      return;
    }

    case Case::alreadyOther:
      hedgeLog(alreadyIdentified);
      return;

    case Case::alreadySame:
      if (!isNonEmptyObject(userProperties) && !isNonEmptyObject(userPropertiesSetOnce)) {
        hedgeLog(alreadyIdentified);
      } else if (shouldCapturePersonPropertiesEvent(distinctId, userProperties, userPropertiesSetOnce)) {
        capturePersonProperties(distinctId, userProperties, userPropertiesSetOnce);
        setPersonPropertiesForFlagsIfNeeded(userProperties, userPropertiesSetOnce);
      } else {
        hedgeLog(
            "A duplicate identify call was made with the same properties. The $set event has been ignored.");
      }
      return;
  }
}

void DiziZozSDK::capturePersonProperties(const std::string& distinctId,
                                         const std::optional<Properties>& userProperties,
                                         const std::optional<Properties>& userPropertiesSetOnce) {
  capture(std::string(setEvent), {.userProperties = userProperties,
                                  .userPropertiesSetOnce = userPropertiesSetOnce,
                                  .distinctId = distinctId});
}

void DiziZozSDK::setPersonProperties(std::optional<Properties> userPropertiesToSet,
                                     std::optional<Properties> userPropertiesToSetOnce) {
  if (!checkSetup()) return;
  if (!isNonEmptyObject(userPropertiesToSet) && !isNonEmptyObject(userPropertiesToSetOnce)) return;
  if (!requirePersonProcessing(setPersonPropertiesName)) return;
  const std::string distinctId = getDistinctId();
  if (!shouldCapturePersonPropertiesEvent(distinctId, userPropertiesToSet, userPropertiesToSetOnce)) {
    hedgeLog("A duplicate setPersonProperties call was made with the same properties. It has been ignored.");
    return;
  }
  Properties merged = Properties::object();
  if (isNonEmptyObject(userPropertiesToSetOnce)) merged.update(*userPropertiesToSetOnce);
  if (isNonEmptyObject(userPropertiesToSet)) merged.update(*userPropertiesToSet);
  if (!merged.empty()) setPersonPropertiesForFlags(merged, false);
  capturePersonProperties(distinctId, userPropertiesToSet, userPropertiesToSetOnce);
}

bool DiziZozSDK::shouldCapturePersonPropertiesEvent(
    const std::string& distinctId, const std::optional<Properties>& userPropertiesToSet,
    const std::optional<Properties>& userPropertiesToSetOnce) {
  std::string fingerprint =
      personPropertiesFingerprint(distinctId, userPropertiesToSet, userPropertiesToSetOnce);
  std::lock_guard lock(cachedPersonPropertiesLock_);
  if (cachedPersonPropertiesHash_ == fingerprint) return false;
  cachedPersonPropertiesHash_ = std::move(fingerprint);
  return true;
}

void DiziZozSDK::rememberPersonProperties(const std::string& distinctId,
                                          const std::optional<Properties>& userProperties,
                                          const std::optional<Properties>& userPropertiesSetOnce) {
  std::string fingerprint = personPropertiesFingerprint(distinctId, userProperties, userPropertiesSetOnce);
  std::lock_guard lock(cachedPersonPropertiesLock_);
  cachedPersonPropertiesHash_ = std::move(fingerprint);
}

void DiziZozSDK::registerProperties(const Properties& properties) {
  if (!checkSetup()) return;
  const auto sanitised = sanitizeDictionary(properties);
  {
    std::lock_guard lock(personPropsLock_);
    Properties stored = storedSuperProperties();
    if (sanitised) stored.update(*sanitised);
    if (auto storage = this->storage()) storage->setJson(StorageKey::registerProperties, stored);
  }
  notifyContextDidChange();
}

void DiziZozSDK::unregister(const std::string& key) {
  if (!checkSetup()) return;
  {
    std::lock_guard lock(personPropsLock_);
    Properties stored = storedSuperProperties();
    stored.erase(key);
    if (auto storage = this->storage()) storage->setJson(StorageKey::registerProperties, stored);
  }
  notifyContextDidChange();
}

void DiziZozSDK::alias(const std::string& alias) {
  if (!checkSetup()) return;
  if (config()->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  if (!requirePersonProcessing(aliasName)) return;
  const auto queue = this->queue();
  if (!queue) return;
  const std::string distinctId = getDistinctId();
  if (distinctId.empty()) return;  // closed since the check above
  Properties properties = buildProperties(distinctId, Properties{{"alias", alias}}, std::nullopt,
                                          std::nullopt, std::nullopt, true, std::nullopt);
  auto event =
      buildEvent(std::string(createAliasEvent), distinctId, std::move(properties), services_.clock->now());
  if (!event) return;
  queue->add(*event);
  onEventCaptured.invoke(*event);
}

void DiziZozSDK::reset() {
  if (!checkSetup()) return;
  const auto config = this->config();

  struct PushSnapshot {
    DiziZozPushRecordSnapshot record;
    std::string previousDistinctId;
  };
  std::optional<PushSnapshot> pushSnapshot;
  if (auto push = pushSubscriptionHandler()) {
    if (auto record = push->recordForReset())
      pushSnapshot = PushSnapshot{std::move(*record), getDistinctId()};
  }

  if (auto storage = this->storage()) storage->reset(config->reuseAnonymousId);
  if (auto identity = identityCache()) identity->reset(config->reuseAnonymousId, false);
  {
    std::lock_guard lock(flagCallReportedLock_);
    flagCallReported_.clear();
  }
  sessionManager_->reset();
  const auto remoteConfig = this->remoteConfig();
  if (remoteConfig) remoteConfig->clear();
  {
    std::lock_guard lock(lastScreenLock_);
    lastScreenName_.reset();
  }
  if (remoteConfig) remoteConfig->reloadFeatureFlags({});
  notifyContextDidChange();

  if (!pushSnapshot) return;
  // Asked again: the handler may have gone with a close() in between.
  auto push = pushSubscriptionHandler();
  if (!push) return;
  const auto& [record, previousDistinctId] = *pushSnapshot;
  if (getDistinctId() != previousDistinctId)
    push->unregister(previousDistinctId, record.deviceToken, record.appId);
  push->reregisterAfterReset(record.deviceToken, record.appId);
}

}  // namespace dizizoz
