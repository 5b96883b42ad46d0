#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/Keychain.h"

namespace quorvelle {

// The user's Gemini API key, kept in the keyring under service "com.quorvelle.gemini", account "apiKey".
// Reads go through the Keychain, so they never block the caller; completions run where the Keychain
// delivers them. The keychain must outlive the object and its reads.
class GeminiKeyManager {
 public:
  static constexpr std::string_view kService = "com.quorvelle.gemini";
  static constexpr std::string_view kAccount = "apiKey";
  // What the user reads when the key could not be read because the keyring failed or did not answer.
  static constexpr std::string_view kKeyringDidNotAnswer =
      "The desktop keyring did not answer, so your Gemini key could not be read. Make sure the keyring is "
      "running and unlocked, then try again.";

  explicit GeminiKeyManager(const Keychain& keychain) : keychain_(keychain) {}

  // The stored key (possibly empty), read afresh: ok with the key, notFound, or failed.
  void readKey(Keychain::ReadCompletion completion) const;

  // The stored key as the settings window shows it: four bullets and the key's last four characters
  // (user-perceived characters), or bullets and the whole key when it is shorter. Nothing when no key is
  // stored or it cannot be read; an empty stored key is shown as the bullets alone.
  void readMaskedKey(std::function<void(std::optional<std::string>)> completion) const;

  static std::string mask(std::string_view key);

 private:
  const Keychain& keychain_;
};

}  // namespace quorvelle
