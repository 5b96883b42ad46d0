#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozServices.h"

namespace dizizoz::test {

// Remote configuration with flags set by the test. Reloads are recorded and answered at once with the
// current flags. Keeps what set-up gave it (`parts`) so tests can call the closures.
class FakeRemoteConfig final : public DiziZozRemoteConfigProviding {
 public:
  explicit FakeRemoteConfig(DiziZozServices::RemoteConfigParts parts = {}) : parts(std::move(parts)) {}

  // Flag key -> value; a text value is a variant.
  void setFlags(Properties flags, Properties payloads = Properties::object()) {
    std::lock_guard lock(lock_);
    flags_ = std::move(flags);
    payloads_ = std::move(payloads);
  }
  void setDetails(std::string key, Properties details) {
    std::lock_guard lock(lock_);
    details_[std::move(key)] = std::move(details);
  }
  void setBootstrapMetadata(std::string key, BootstrapCallMetadata metadata) {
    std::lock_guard lock(lock_);
    bootstrap_[std::move(key)] = std::move(metadata);
  }
  std::optional<std::string> requestId;
  std::optional<std::int64_t> evaluatedAt;
  std::optional<bool> minimalFlagCalledEvents;

  Properties getFeatureFlags() override {
    std::lock_guard lock(lock_);
    return flags_;
  }
  std::optional<DiziZozFeatureFlagResult> getFeatureFlagResult(const std::string& key) override {
    std::lock_guard lock(lock_);
    return resultLocked(key);
  }
  std::optional<std::vector<DiziZozFeatureFlagResult>> getAllFeatureFlagResults() override {
    std::lock_guard lock(lock_);
    if (flags_.empty()) return std::nullopt;
    std::vector<DiziZozFeatureFlagResult> results;
    for (const auto& [key, value] : flags_.items()) results.push_back(*resultLocked(key));
    return results;
  }
  std::optional<Properties> getFeatureFlagDetails(const std::string& key) override {
    std::lock_guard lock(lock_);
    auto it = details_.find(key);
    return it == details_.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<BootstrapCallMetadata> getBootstrapCallMetadata(const std::string& key) override {
    std::lock_guard lock(lock_);
    auto it = bootstrap_.find(key);
    return it == bootstrap_.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<std::string> lastRequestId() override { return requestId; }
  std::optional<std::int64_t> lastEvaluatedAt() override { return evaluatedAt; }
  std::optional<bool> sendMinimalFlagCalledEvents() override { return minimalFlagCalledEvents; }

  void reloadFeatureFlags(ReloadCallback callback) override {
    Properties flags;
    {
      std::lock_guard lock(lock_);
      ++reloads_;
      flags = flags_;
    }
    if (callback) callback(flags);
  }
  void clear() override {
    std::lock_guard lock(lock_);
    ++clears_;
    flags_ = Properties::object();
  }
  void setPersonPropertiesForFlags(const Properties& properties) override {
    std::lock_guard lock(lock_);
    for (const auto& [key, value] : properties.items()) personProperties_[key] = value;
  }
  void resetPersonPropertiesForFlags() override {
    std::lock_guard lock(lock_);
    personProperties_ = Properties::object();
  }
  void setGroupPropertiesForFlags(const std::string& groupType, const Properties& properties) override {
    std::lock_guard lock(lock_);
    for (const auto& [key, value] : properties.items()) groupProperties_[groupType][key] = value;
  }
  void resetGroupPropertiesForFlags(const std::optional<std::string>& groupType) override {
    std::lock_guard lock(lock_);
    if (groupType) {
      groupProperties_.erase(*groupType);
    } else {
      groupProperties_ = Properties::object();
    }
  }

  int reloads() const {
    std::lock_guard lock(lock_);
    return reloads_;
  }
  int clears() const {
    std::lock_guard lock(lock_);
    return clears_;
  }
  Properties personProperties() const {
    std::lock_guard lock(lock_);
    return personProperties_;
  }
  Properties groupProperties() const {
    std::lock_guard lock(lock_);
    return groupProperties_;
  }

  const DiziZozServices::RemoteConfigParts parts;

 private:
  std::optional<DiziZozFeatureFlagResult> resultLocked(const std::string& key) const {
    auto it = flags_.find(key);
    if (it == flags_.end()) return std::nullopt;
    DiziZozFeatureFlagResult result{.key = key};
    if (it->is_string()) {
      result.enabled = true;
      result.variant = it->get<std::string>();
    } else {
      result.enabled = it->is_boolean() && it->get<bool>();
    }
    if (auto payload = payloads_.find(key); payload != payloads_.end()) result.payload = *payload;
    return result;
  }

  mutable std::mutex lock_;
  Properties flags_ = Properties::object();
  Properties payloads_ = Properties::object();
  std::map<std::string, Properties> details_;
  std::map<std::string, BootstrapCallMetadata> bootstrap_;
  Properties personProperties_ = Properties::object();
  Properties groupProperties_ = Properties::object();
  int reloads_ = 0;
  int clears_ = 0;
};

}  // namespace dizizoz::test
