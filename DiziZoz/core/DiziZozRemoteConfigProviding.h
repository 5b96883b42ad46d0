#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozFeatureFlagResult.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

// What a flag read learns of the bootstrap values the application gave at set-up.
struct BootstrapCallMetadata {
  Value response{};
  std::optional<Value> payload{};
  bool usedBootstrapValue = false;  // true until the service's first flags answer has been applied
};

// What the client needs of its remote configuration and feature-flag store: the cached flags and their
// details, reloads, and the person and group properties sent with flag requests. Set-up builds exactly
// one per client through its services, from the options, the storage, the API client, a provider of the
// default person properties and the flag-called report (both hold the client weakly).
//
// Thread-safe: the store guards its own state. The client calls it with none of its own locks held.
class DiziZozRemoteConfigProviding {
 public:
  virtual ~DiziZozRemoteConfigProviding() = default;

  // The current flag values (flag key -> value), loaded from storage on first use; an empty object
  // when there are none.
  virtual Properties getFeatureFlags() = 0;
  virtual std::optional<DiziZozFeatureFlagResult> getFeatureFlagResult(const std::string& key) = 0;
  // Nothing when no flag values are cached.
  virtual std::optional<std::vector<DiziZozFeatureFlagResult>> getAllFeatureFlagResults() = 0;
  // The per-flag details of the last flags answer ("reason", "metadata", ...), for the flag-called event.
  virtual std::optional<Properties> getFeatureFlagDetails(const std::string& key) = 0;
  virtual std::optional<BootstrapCallMetadata> getBootstrapCallMetadata(const std::string& key) = 0;
  virtual std::optional<std::string> lastRequestId() = 0;
  virtual std::optional<std::int64_t> lastEvaluatedAt() = 0;
  virtual std::optional<bool> sendMinimalFlagCalledEvents() = 0;

  // Loads the flags for the current identity (at most one request in flight); `callback`, when given, is
  // called with the loaded flags, or nothing, once the request has ended.
  using ReloadCallback = std::function<void(const std::optional<Properties>& flags)>;
  virtual void reloadFeatureFlags(ReloadCallback callback) = 0;
  // Forgets the cached flags of the current identity.
  virtual void clear() = 0;

  // Merges `properties` into the person properties sent with flag requests and persists them.
  virtual void setPersonPropertiesForFlags(const Properties& properties) = 0;
  virtual void resetPersonPropertiesForFlags() = 0;
  virtual void setGroupPropertiesForFlags(const std::string& groupType, const Properties& properties) = 0;
  // Forgets one group type's properties, or every group's when none is named.
  virtual void resetGroupPropertiesForFlags(const std::optional<std::string>& groupType) = 0;
};

// The remote configuration of the default services: no network, so no flags. Reloads answer at once
// with nothing; flag properties are accepted and forgotten.
class DiziZozInertRemoteConfig final : public DiziZozRemoteConfigProviding {
 public:
  Properties getFeatureFlags() override { return Properties::object(); }
  std::optional<DiziZozFeatureFlagResult> getFeatureFlagResult(const std::string&) override { return {}; }
  std::optional<std::vector<DiziZozFeatureFlagResult>> getAllFeatureFlagResults() override { return {}; }
  std::optional<Properties> getFeatureFlagDetails(const std::string&) override { return {}; }
  std::optional<BootstrapCallMetadata> getBootstrapCallMetadata(const std::string&) override { return {}; }
  std::optional<std::string> lastRequestId() override { return {}; }
  std::optional<std::int64_t> lastEvaluatedAt() override { return {}; }
  std::optional<bool> sendMinimalFlagCalledEvents() override { return {}; }
  void reloadFeatureFlags(ReloadCallback callback) override {
    if (callback) callback(std::nullopt);
  }
  void clear() override {}
  void setPersonPropertiesForFlags(const Properties&) override {}
  void resetPersonPropertiesForFlags() override {}
  void setGroupPropertiesForFlags(const std::string&, const Properties&) override {}
  void resetGroupPropertiesForFlags(const std::optional<std::string>&) override {}
};

}  // namespace dizizoz
