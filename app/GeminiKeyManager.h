#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/SecretStore.h"

namespace quorvelle {

// The user's Gemini API key, kept in the keyring under service "com.quorvelle.gemini", account "apiKey".
// Main thread; the store must outlive the object.
class GeminiKeyManager {
 public:
  static constexpr std::string_view kService = "com.quorvelle.gemini";
  static constexpr std::string_view kAccount = "apiKey";

  explicit GeminiKeyManager(platform::SecretStore& store) : store_(store) {}

  // The stored key (possibly empty), read afresh; nothing when none is stored or it cannot be read.
  std::optional<std::string> key() const;

  // The stored key as the settings window shows it: four bullets and the key's last four characters
  // (user-perceived characters), or bullets and the whole key when it is shorter. Nothing when no key is
  // stored or it cannot be read; an empty stored key is shown as the bullets alone.
  std::optional<std::string> maskedKey() const;

  static std::string mask(std::string_view key);

 private:
  platform::SecretStore& store_;
};

}  // namespace quorvelle
