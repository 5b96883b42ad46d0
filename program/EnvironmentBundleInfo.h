#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/BundleInfo.h"

namespace quorvelle {

// The program's fixed information, with the two analytics keys taken from the environment where it sets
// them (for development and tests, like QUORVELLE_BACKEND_URL): QUORVELLE_DIZIZOZ_API_KEY gives
// "DiziZozAPIKey" and QUORVELLE_DIZIZOZ_HOST gives "DiziZozHost". A variable that is set, even empty, wins
// over the value compiled in; each one used is logged once, at construction (the key's value is not).
// The environment is read at construction only. Thread-safe.
class EnvironmentBundleInfo final : public platform::BundleInfo {
 public:
  static constexpr const char* kApiKeyVariable = "QUORVELLE_DIZIZOZ_API_KEY";
  static constexpr const char* kHostVariable = "QUORVELLE_DIZIZOZ_HOST";

  explicit EnvironmentBundleInfo(const platform::BundleInfo& compiled);
  std::optional<std::string> infoValue(std::string_view key) const override;

 private:
  const platform::BundleInfo& compiled_;
  std::map<std::string, std::string, std::less<>> overrides_;
};

}  // namespace quorvelle
