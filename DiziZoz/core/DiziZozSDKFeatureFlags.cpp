// The feature-flag facade of DiziZozSDK: reads through the remote configuration, reloads, the
// "$feature_flag_called" report with its de-duplication, and the feature view and interaction events.

#include <algorithm>
#include <utility>

#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

constexpr std::string_view flagCalledEvent = "$feature_flag_called";
constexpr std::string_view featureViewEvent = "$feature_view";
constexpr std::string_view featureInteractionEvent = "$feature_interaction";

// A contained JSON null counts as no value.
std::optional<Value> presentValue(const std::optional<Value>& value) {
  return value && !value->is_null() ? value : std::nullopt;
}

// Two reported values are the same when both are absent, both Booleans and equal, or both texts and
// equal; any other pair differs (so true and "true" are two values).
bool sameFlagValue(const std::optional<Value>& a, const std::optional<Value>& b) {
  if (!a || !b) return !a && !b;
  if (a->is_boolean() && b->is_boolean()) return a->get<bool>() == b->get<bool>();
  if (a->is_string() && b->is_string())
    return a->get_ref<const std::string&>() == b->get_ref<const std::string&>();
  return false;
}

// `object[key]`, or JSON null when it has none.
Value entryOrNull(const Value& object, std::string_view key) {
  const auto entry = object.find(key);
  return entry == object.end() ? Value(nullptr) : *entry;
}

std::optional<Value> valueOf(const std::optional<DiziZozFeatureFlagResult>& result) {
  return result ? std::optional(result->value()) : std::nullopt;
}

// Any variant counts as enabled, the empty text too.
bool isEnabledValue(const std::optional<Value>& value) {
  if (!value) return false;
  if (value->is_string()) return true;
  return value->is_boolean() && value->get<bool>();
}

}  // namespace

const std::set<std::string>& DiziZozSDK::minimalFeatureFlagCalledProperties() {
  static const auto* names = new std::set<std::string>{"$feature_flag",
                                                       "$feature_flag_response",
                                                       "$feature_flag_has_experiment",
                                                       "$feature_flag_id",
                                                       "$feature_flag_version",
                                                       "$feature_flag_reason",
                                                       "$feature_flag_request_id",
                                                       "$feature_flag_evaluated_at",
                                                       "$groups",
                                                       "$process_person_profile",
                                                       "$session_id",
                                                       "$lib",
                                                       "$lib_version",
                                                       "$os_name",
                                                       "$os_version",
                                                       "$app_version",
                                                       "$feature_flag_error",
                                                       "$window_id",
                                                       "$device_id"};
  return *names;
}

void DiziZozSDK::reloadFeatureFlags() {
  if (!checkSetup()) return;
  if (auto remoteConfig = this->remoteConfig()) remoteConfig->reloadFeatureFlags({});
}

void DiziZozSDK::reloadFeatureFlags(std::function<void()> callback) {
  const auto remoteConfig = checkSetup() ? this->remoteConfig() : nullptr;
  if (!remoteConfig) {
    if (callback) callback();
    return;
  }
  remoteConfig->reloadFeatureFlags([callback = std::move(callback)](const std::optional<Properties>&) {
    if (callback) callback();
  });
}

std::optional<DiziZozFeatureFlagResult> DiziZozSDK::featureFlagResult(const std::string& key,
                                                                      std::optional<bool> sendEvent) {
  if (!checkSetup()) return std::nullopt;
  const auto remoteConfig = this->remoteConfig();
  if (!remoteConfig) return std::nullopt;
  auto result = remoteConfig->getFeatureFlagResult(key);
  if (sendEvent.value_or(config()->sendFeatureFlagEvent)) reportFeatureFlagCalled(key, valueOf(result));
  return result;
}

std::optional<DiziZozFeatureFlagResult> DiziZozSDK::getFeatureFlagResult(const std::string& key) {
  return featureFlagResult(key, std::nullopt);
}

std::optional<DiziZozFeatureFlagResult> DiziZozSDK::getFeatureFlagResult(const std::string& key,
                                                                         bool sendFeatureFlagEvent) {
  return featureFlagResult(key, sendFeatureFlagEvent);
}

std::optional<Value> DiziZozSDK::getFeatureFlag(const std::string& key) {
  return valueOf(featureFlagResult(key, std::nullopt));
}

std::optional<Value> DiziZozSDK::getFeatureFlag(const std::string& key, bool sendFeatureFlagEvent) {
  return valueOf(featureFlagResult(key, sendFeatureFlagEvent));
}

bool DiziZozSDK::isFeatureEnabled(const std::string& key) {
  return isEnabledValue(valueOf(featureFlagResult(key, std::nullopt)));
}

bool DiziZozSDK::isFeatureEnabled(const std::string& key, bool sendFeatureFlagEvent) {
  return isEnabledValue(valueOf(featureFlagResult(key, sendFeatureFlagEvent)));
}

std::optional<Value> DiziZozSDK::getFeatureFlagPayload(const std::string& key) {
  auto result = featureFlagResult(key, false);
  return result ? result->payload : std::nullopt;
}

std::optional<std::vector<DiziZozFeatureFlagResult>> DiziZozSDK::getAllFeatureFlags() {
  if (!checkSetup()) return std::nullopt;
  const auto remoteConfig = this->remoteConfig();
  return remoteConfig ? remoteConfig->getAllFeatureFlagResults() : std::nullopt;
}

void DiziZozSDK::reportFeatureFlagCalled(const std::string& flagKey, const std::optional<Value>& givenValue) {
  const auto remoteConfig = this->remoteConfig();
  if (!remoteConfig) return;
  const auto flagValue = presentValue(givenValue);
  {
    // Checked and recorded together, so that two threads reading the same value report it once. The
    // value counts as reported even when the event is refused below.
    std::lock_guard lock(flagCallReportedLock_);
    auto& reported = flagCallReported_[flagKey];
    if (std::any_of(reported.begin(), reported.end(),
                    [&](const std::optional<Value>& seen) { return sameFlagValue(seen, flagValue); })) {
      return;
    }
    reported.push_back(flagValue);
  }

  Properties properties{
      {"$feature_flag", flagKey},
      {"$feature_flag_response", flagValue.value_or(nullptr)},
      {"$feature_flag_request_id", remoteConfig->lastRequestId().value_or("")},
  };
  if (const auto evaluatedAt = remoteConfig->lastEvaluatedAt())
    properties["$feature_flag_evaluated_at"] = *evaluatedAt;

  std::optional<bool> hasExperiment;
  if (const auto details = remoteConfig->getFeatureFlagDetails(flagKey); details && details->is_object()) {
    if (const auto reason = details->find("reason"); reason != details->end() && reason->is_object())
      properties["$feature_flag_reason"] = entryOrNull(*reason, "description");
    if (const auto metadata = details->find("metadata");
        metadata != details->end() && metadata->is_object()) {
      properties["$feature_flag_id"] = entryOrNull(*metadata, "id");
      properties["$feature_flag_version"] = entryOrNull(*metadata, "version");
      if (const auto experiment = metadata->find("has_experiment");
          experiment != metadata->end() && experiment->is_boolean()) {
        hasExperiment = experiment->get<bool>();
        properties["$feature_flag_has_experiment"] = *hasExperiment;
      }
    }
  }

  if (const auto bootstrap = remoteConfig->getBootstrapCallMetadata(flagKey)) {
    properties["$feature_flag_bootstrapped_response"] = bootstrap->response;
    if (bootstrap->payload) properties["$feature_flag_bootstrapped_payload"] = *bootstrap->payload;
    properties["$used_bootstrap_value"] = bootstrap->usedBootstrapValue;
  }

  std::optional<std::set<std::string>> allowlist;
  if (remoteConfig->sendMinimalFlagCalledEvents() == true && hasExperiment == false)
    allowlist = minimalFeatureFlagCalledProperties();

  captureInternal(std::string(flagCalledEvent),
                  {.properties = std::move(properties), .timestamp = services_.clock->now()}, allowlist);
}

void DiziZozSDK::captureFeatureView(const std::string& flag, const std::optional<std::string>& flagVariant) {
  captureFeatureEvent(std::string(featureViewEvent), flag, flagVariant, "captureFeatureView");
}

void DiziZozSDK::captureFeatureInteraction(const std::string& flag,
                                           const std::optional<std::string>& flagVariant) {
  captureFeatureEvent(std::string(featureInteractionEvent), flag, flagVariant, "captureFeatureInteraction");
}

void DiziZozSDK::captureFeatureEvent(const std::string& event, const std::string& flag,
                                     const std::optional<std::string>& flagVariant,
                                     std::string_view logName) {
  if (!checkSetup()) return;
  if (config()->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  const std::optional<Value> value =
      flagVariant ? std::optional<Value>(*flagVariant) : valueOf(featureFlagResult(flag, false));
  if (!value) {
    hedgeLog(std::string(logName) + " called for flag '" + flag +
             "' but no variant value is available. Event will not be captured.");
    return;
  }
  Properties properties{{"feature_flag", flag}};
  if (value->is_string()) properties["feature_flag_variant"] = *value;
  capture(event,
          {.properties = std::move(properties), .userProperties = Properties{{event + "/" + flag, *value}}});
}

}  // namespace dizizoz
