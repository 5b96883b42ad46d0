// The capture pipeline of DiziZozSDK: capture(), the property builder, the client's dynamic context,
// person processing and event building.

#include <exception>
#include <utility>

#include "DiziZoz/core/DiziZozContext.h"
#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozReplayQueueing.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/ExceptionListMatching.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

using StorageKey = DiziZozStorage::StorageKey;

constexpr std::string_view snapshotEvent = "$snapshot";
constexpr std::string_view exceptionEvent = "$exception";
// The pipeline's full name, as the person-processing diagnostic names it.
constexpr std::string_view captureInternalName =
    "captureInternal(_:distinctId:properties:userProperties:userPropertiesSetOnce:groups:timestamp:"
    "skipBuildProperties:propertyAllowlist:)";
constexpr std::string_view featureFlagPrefix = "$feature/";
constexpr std::string_view activeFeatureFlagsKey = "$active_feature_flags";

std::optional<Properties> sanitized(const std::optional<Properties>& map) {
  return map ? sanitizeDictionary(*map) : std::nullopt;
}

// The caller's text under `key`, when it is text; a value of another type counts as absent.
const std::string* textValue(const std::optional<Properties>& properties, std::string_view key) {
  if (!properties || !properties->is_object()) return nullptr;
  const auto entry = properties->find(key);
  return entry != properties->end() && entry->is_string() ? &entry->get_ref<const std::string&>() : nullptr;
}

void addAbsent(Properties& into, const Properties& from) {
  for (const auto& [key, value] : from.items()) into.emplace(key, value);
}

bool isTextMap(const Value& value) {
  if (!value.is_object()) return false;
  for (const auto& entry : value) {
    if (!entry.is_string()) return false;
  }
  return true;
}

bool isFeatureFlagKey(std::string_view key) {
  return key.starts_with(featureFlagPrefix) || key == activeFeatureFlagsKey;
}

}  // namespace

void DiziZozSDK::capture(const std::string& event, DiziZozCaptureArguments arguments) {
  captureInternal(event, std::move(arguments), std::nullopt);
}

void DiziZozSDK::captureInternal(const std::string& event, DiziZozCaptureArguments arguments,
                                 const std::optional<std::set<std::string>>& propertyAllowlist) {
  if (!checkSetup()) return;
  const auto config = this->config();
  if (config->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  const auto queue = this->queue();
  if (!queue) return;
  // Such text could never be written into the stored or sent event.
  if (!isValidUtf8(event)) {
    hedgeLog("capture refused: the event name is not valid UTF-8");
    return;
  }
  if (arguments.distinctId && !isValidUtf8(*arguments.distinctId)) {
    hedgeLog("capture refused: the distinct id is not valid UTF-8");
    return;
  }

  const auto& ignoredTypes = config->errorTrackingConfig->ignoredExceptionTypes;
  if (event == exceptionEvent && !ignoredTypes.empty() &&
      exceptionListMatchesIgnoredTypes(arguments.properties.value_or(Properties::object()), ignoredTypes)) {
    hedgeLog("$exception skipped: exception type is in errorTrackingConfig.ignoredExceptionTypes");
    return;
  }

  const bool appendSharedProps = event != snapshotEvent;
  const Date timestamp = arguments.timestamp.value_or(services_.clock->now());
  const std::string distinctId = arguments.distinctId ? *arguments.distinctId : getDistinctId();
  // Only a close() since the check above leaves no identity: the event would outlive the client in the
  // queue's files with no one to belong to.
  if (distinctId.empty() && !arguments.distinctId) return;

  if (isNonEmptyObject(arguments.userProperties) || isNonEmptyObject(arguments.userPropertiesSetOnce) ||
      (arguments.groups && !arguments.groups->empty())) {
    requirePersonProcessing(captureInternalName);
  }

  Properties properties = buildProperties(
      distinctId, sanitized(arguments.properties), sanitized(arguments.userProperties),
      sanitized(arguments.userPropertiesSetOnce), arguments.groups, appendSharedProps, timestamp);

  if (propertyAllowlist) {
    for (auto entry = properties.begin(); entry != properties.end();) {
      entry = propertyAllowlist->contains(entry.key()) ? std::next(entry) : properties.erase(entry);
    }
  }

  if (event == exceptionEvent && !properties.contains("$exception_steps")) {
    if (auto steps = attachableExceptionSteps()) properties["$exception_steps"] = std::move(*steps);
  }

  auto built = buildEvent(event, distinctId, std::move(properties), timestamp);
  if (!built) return;

  // A before-send hook may have renamed the event: route by the name it has now.
  if (built->event == snapshotEvent) {
    // A snapshot belongs to a session; without one the service could not place it.
    if (!built->properties.contains("$session_id")) return;
    setPersonPropertiesForFlagsIfNeeded(arguments.userProperties, arguments.userPropertiesSetOnce);
    if (auto replay = replayQueue()) replay->add(*built);
  } else {
    setPersonPropertiesForFlagsIfNeeded(arguments.userProperties, arguments.userPropertiesSetOnce);
    queue->add(*built);
  }
  onEventCaptured.invoke(*built);
}

Properties DiziZozSDK::buildProperties(const std::string& distinctId,
                                       const std::optional<Properties>& properties,
                                       const std::optional<Properties>& userProperties,
                                       const std::optional<Properties>& userPropertiesSetOnce,
                                       const std::optional<DiziZozGroups>& groups, bool appendSharedProps,
                                       std::optional<Date> timestamp) {
  return buildProperties(distinctId, properties, userProperties, userPropertiesSetOnce, groups,
                         appendSharedProps, timestamp, false);
}

Properties DiziZozSDK::buildProperties(const std::string& distinctId,
                                       const std::optional<Properties>& properties,
                                       const std::optional<Properties>& userProperties,
                                       const std::optional<Properties>& userPropertiesSetOnce,
                                       const std::optional<DiziZozGroups>& groups, bool appendSharedProps,
                                       std::optional<Date> timestamp, bool readOnlySession) {
  Properties result = Properties::object();
  const auto context = this->context();

  if (appendSharedProps) {
    if (context) {
      result = context->staticContext();
      addAbsent(result, context->dynamicContext());
    }
    addAbsent(result, dynamicContext());

    if (userProperties) result["$set"] = *userProperties;
    if (userPropertiesSetOnce) result["$set_once"] = *userPropertiesSetOnce;
    if (groups) {
      const auto registered = result.find("$groups");
      Properties merged =
          registered != result.end() && isTextMap(*registered) ? *registered : Properties::object();
      for (const auto& [type, key] : *groups) merged.emplace(type, key);
      result["$groups"] = std::move(merged);
    }
    if (auto identity = identityCache()) result["$is_identified"] = identity->isIdentified();
    result["$process_person_profile"] = hasPersonProcessing();

    std::optional<std::string> lastScreenName;
    {
      std::lock_guard lock(lastScreenLock_);
      lastScreenName = lastScreenName_;
    }
    const std::string* callerScreen = textValue(properties, "$screen_name");
    if (lastScreenName && !lastScreenName->empty() &&
        (!callerScreen || trimmedWhitespace(*callerScreen).empty())) {
      result["$screen_name"] = *lastScreenName;
    }
  }

  if (context) addAbsent(result, context->sdkInfo());

  const std::string* callerSession = textValue(properties, "$session_id");
  if (!callerSession || callerSession->empty()) {
    if (auto sessionId =
            sessionManager_->getSessionId(timestamp.value_or(services_.clock->now()), readOnlySession)) {
      result["$session_id"] = std::move(*sessionId);
    }
  }

  if (!appendSharedProps) {
    const std::string* callerDistinctId = textValue(properties, "distinct_id");
    if (!callerDistinctId || callerDistinctId->empty()) result["distinct_id"] = distinctId;
  }

  if (properties && properties->is_object()) {
    addAbsent(result, *properties);
    // The caller's flag values win over the cached ones.
    for (const auto& [key, value] : properties->items()) {
      if (isFeatureFlagKey(key)) result[key] = value;
    }
  }
  return result;
}

Properties DiziZozSDK::storedSuperProperties() const {
  auto storage = this->storage();
  if (!storage) return Properties::object();
  auto stored = storage->getJson(StorageKey::registerProperties);
  return stored && stored->is_object() ? std::move(*stored) : Properties::object();
}

Properties DiziZozSDK::storedGroupsLocked() const {
  auto storage = this->storage();
  if (!storage) return Properties::object();
  auto stored = storage->getJson(StorageKey::groups);
  return stored && isTextMap(*stored) ? std::move(*stored) : Properties::object();
}

Properties DiziZozSDK::dynamicContext() {
  Properties result = storedSuperProperties();
  Properties groups;
  {
    std::lock_guard lock(groupsLock_);
    groups = storedGroupsLocked();
  }
  if (!groups.empty()) result["$groups"] = std::move(groups);

  if (auto remoteConfig = this->remoteConfig()) {
    const Properties flags = remoteConfig->getFeatureFlags();
    Properties active = Properties::array();
    for (const auto& [key, value] : flags.items()) {
      result[std::string(featureFlagPrefix) + key] = value;
      // A variant counts as active; only a plain false does not.
      if (!(value.is_boolean() && !value.get<bool>())) active.push_back(key);
    }
    if (!active.empty()) result[std::string(activeFeatureFlagsKey)] = std::move(active);
  }
  return result;
}

bool DiziZozSDK::hasPersonProcessing() {
  const auto config = this->config();
  switch (config->personProfiles) {
    case DiziZozPersonProfiles::never:
      return false;
    case DiziZozPersonProfiles::always:
      return true;
    case DiziZozPersonProfiles::identifiedOnly:
      break;
  }
  const auto identity = identityCache();
  return !identity || identity->isIdentified() || identity->isPersonProcessing();
}

bool DiziZozSDK::requirePersonProcessing(std::string_view functionName) {
  const auto config = this->config();
  if (config->personProfiles == DiziZozPersonProfiles::never) {
    hedgeLog(std::string(functionName) +
             " was called, but `personProfiles` is set to `never`. This call will be ignored.");
    return false;
  }
  if (const auto identity = identityCache()) identity->setPersonProcessing(true);
  return true;
}

void DiziZozSDK::setPersonPropertiesForFlagsIfNeeded(const std::optional<Properties>& userProperties,
                                                     const std::optional<Properties>& userPropertiesSetOnce) {
  Properties merged = sanitized(userProperties).value_or(Properties::object());
  if (auto setOnce = sanitized(userPropertiesSetOnce)) addAbsent(merged, *setOnce);
  if (merged.empty()) return;
  if (auto remoteConfig = this->remoteConfig()) remoteConfig->setPersonPropertiesForFlags(merged);
}

std::optional<DiziZozEvent> DiziZozSDK::buildEvent(const std::string& event, const std::string& distinctId,
                                                   Properties properties, Date timestamp) {
  const auto config = this->config();
  std::optional<DiziZozEvent> built;
  // A throwing hook counts as one that dropped the event: a hook that scrubs data must never let the
  // unscrubbed event through.
  try {
    if (const auto sanitizer = config->propertiesSanitizer) {
      Properties rewritten = sanitizer->sanitize(properties);
      if (rewritten.is_object()) properties = std::move(rewritten);
    }
    built = config->runBeforeSend(
        DiziZozEvent(event, distinctId, std::move(properties), timestamp, services_.idGenerator->v7()));
  } catch (const std::exception& error) {
    hedgeLog(std::string("A before-send hook or the properties sanitizer failed: ") + error.what());
    built.reset();
  } catch (...) {
    hedgeLog("A before-send hook or the properties sanitizer failed");
    built.reset();
  }

  if (!built) {
    std::string message = "DiziZoz event " + event + " was dropped";
    if (knownUnsafeEditableEvent(event)) message += ". This can cause unexpected behavior.";
    hedgeLog(message);
    return std::nullopt;
  }

  // What the hooks return is the caller's text again: keep it writable as JSON.
  if (!isValidUtf8(built->event) || !isValidUtf8(built->distinctId)) {
    hedgeLog("An event was dropped: its name or distinct id is not valid UTF-8");
    return std::nullopt;
  }
  if (!isValidObject(built->properties)) {
    built->properties = sanitizeDictionary(built->properties).value_or(Properties::object());
  }
  return built;
}

}  // namespace dizizoz
