#include "program/EnvironmentBundleInfo.h"

#include <cstdlib>

#include "app/Analytics.h"
#include "platform/Log.h"

namespace quorvelle {

EnvironmentBundleInfo::EnvironmentBundleInfo(const platform::BundleInfo& compiled) : compiled_(compiled) {
  if (const char* key = std::getenv(kApiKeyVariable)) {
    overrides_.emplace(Analytics::kApiKeyInfoKey, key);
    platform::log(platform::LogLevel::warning,
                  std::string("Quorvelle: using the analytics project key from ") + kApiKeyVariable);
  }
  if (const char* host = std::getenv(kHostVariable)) {
    overrides_.emplace(Analytics::kHostInfoKey, host);
    platform::log(platform::LogLevel::warning, std::string("Quorvelle: using the analytics service at ") +
                                                   host + " (" + kHostVariable + ")");
  }
}

std::optional<std::string> EnvironmentBundleInfo::infoValue(std::string_view key) const {
  if (const auto it = overrides_.find(key); it != overrides_.end()) return it->second;
  return compiled_.infoValue(key);
}

}  // namespace quorvelle
