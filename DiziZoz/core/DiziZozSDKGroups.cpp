// Groups of DiziZozSDK and the person and group properties sent with flag requests.

#include <utility>

#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

using StorageKey = DiziZozStorage::StorageKey;

constexpr std::string_view groupIdentifyEvent = "$groupidentify";
constexpr std::string_view groupName = "group(type:key:groupProperties:)";

}  // namespace

void DiziZozSDK::group(const std::string& type, const std::string& key,
                       std::optional<Properties> groupProperties) {
  if (!checkSetup()) return;
  if (config()->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  if (!requirePersonProcessing(groupName)) return;
  groups({{type, key}});
  groupIdentify(type, key, groupProperties ? sanitizeDictionary(*groupProperties) : std::nullopt);
  notifyContextDidChange();
}

Properties DiziZozSDK::groups(const DiziZozGroups& newGroups) {
  const auto storage = this->storage();
  if (!storage) return Properties::object();
  bool changed = false;
  Properties merged;
  {
    std::lock_guard lock(groupsLock_);
    merged = storedGroupsLocked();
    for (const auto& [type, key] : newGroups) {
      const auto stored = merged.find(type);
      if (stored == merged.end() || *stored != key) changed = true;
      merged[type] = key;
    }
    storage->setJson(StorageKey::groups, merged);
  }
  if (changed) reloadFeatureFlags();
  return merged;
}

void DiziZozSDK::groupIdentify(const std::string& type, const std::string& key,
                               const std::optional<Properties>& groupProperties) {
  if (!checkSetup()) return;
  if (config()->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  const auto queue = this->queue();
  if (!queue) return;
  Properties properties{{"$group_type", type}, {"$group_key", key}};
  if (groupProperties) properties["$group_set"] = *groupProperties;
  setGroupPropertiesForFlagsIfNeeded(type, groupProperties);

  const std::string distinctId = getDistinctId();
  if (distinctId.empty()) return;  // closed since the check above
  Properties built =
      buildProperties(distinctId, properties, std::nullopt, std::nullopt, std::nullopt, true, std::nullopt);
  auto event =
      buildEvent(std::string(groupIdentifyEvent), distinctId, std::move(built), services_.clock->now());
  if (!event) return;
  queue->add(*event);
  onEventCaptured.invoke(*event);
}

void DiziZozSDK::setGroupPropertiesForFlagsIfNeeded(const std::string& type,
                                                    const std::optional<Properties>& groupProperties) {
  const auto sanitised = groupProperties ? sanitizeDictionary(*groupProperties) : std::nullopt;
  if (!sanitised) return;
  if (auto remoteConfig = this->remoteConfig()) remoteConfig->setGroupPropertiesForFlags(type, *sanitised);
}

void DiziZozSDK::setPersonPropertiesForFlags(const Properties& properties, bool reloadFeatureFlags) {
  if (!checkSetup()) return;
  const auto sanitised = sanitizeDictionary(properties);
  if (!sanitised) return;
  if (auto remoteConfig = this->remoteConfig()) remoteConfig->setPersonPropertiesForFlags(*sanitised);
  if (reloadFeatureFlags) this->reloadFeatureFlags();
}

void DiziZozSDK::resetPersonPropertiesForFlags(bool reloadFeatureFlags) {
  if (!checkSetup()) return;
  if (auto remoteConfig = this->remoteConfig()) remoteConfig->resetPersonPropertiesForFlags();
  if (reloadFeatureFlags) this->reloadFeatureFlags();
}

void DiziZozSDK::setGroupPropertiesForFlags(const std::string& groupType, const Properties& properties,
                                            bool reloadFeatureFlags) {
  if (!checkSetup()) return;
  const auto sanitised = sanitizeDictionary(properties);
  if (!sanitised) return;
  if (auto remoteConfig = this->remoteConfig())
    remoteConfig->setGroupPropertiesForFlags(groupType, *sanitised);
  if (reloadFeatureFlags) this->reloadFeatureFlags();
}

void DiziZozSDK::resetGroupPropertiesForFlags(const std::optional<std::string>& groupType,
                                              bool reloadFeatureFlags) {
  if (!checkSetup()) return;
  if (auto remoteConfig = this->remoteConfig()) remoteConfig->resetGroupPropertiesForFlags(groupType);
  if (reloadFeatureFlags) this->reloadFeatureFlags();
}

}  // namespace dizizoz
