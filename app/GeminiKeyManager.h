#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/Keychain.h"

namespace quorvelle {

// The user's Gemini API key, kept in the keyring under service "com.quorvelle.gemini", account "apiKey".
// Calls go through the Keychain, so they never block the caller; completions run where the Keychain
// delivers them. The keychain must outlive the object and its calls.
class GeminiKeyManager {
 public:
  static constexpr std::string_view kService = "com.quorvelle.gemini";
  static constexpr std::string_view kAccount = "apiKey";
  // What the user reads when the key could not be read because the keyring failed or did not answer.
  static constexpr std::string_view kKeyringDidNotAnswer =
      "The desktop keyring did not answer, so your Gemini key could not be read. Make sure the keyring is "
      "running and unlocked, then try again.";
  // What the user reads, for a read, a save or a delete, when this system has no keyring client: the
  // library that reaches the keyring cannot be loaded.
  static constexpr std::string_view kKeyringUnavailable =
      "The desktop keyring cannot be used: Quorvelle could not load libsecret, the library it reaches the "
      "keyring with, so your Gemini key can be neither read nor stored. Install libsecret (the "
      "libsecret-1-0 package), then restart Quorvelle.";
  // What the user reads when the keyring refused, or did not answer, a save or a delete.
  static constexpr std::string_view kSaveFailed =
      "The desktop keyring did not store the key. Make sure the keyring is running and unlocked, then try "
      "again.";
  static constexpr std::string_view kRemoveFailed =
      "The desktop keyring did not remove the key. Make sure the keyring is running and unlocked, then try "
      "again.";

  explicit GeminiKeyManager(const Keychain& keychain) : keychain_(keychain) {}

  // The stored key (possibly empty), read afresh: ok with the key, notFound, or failed.
  void readKey(Keychain::ReadCompletion completion) const;

  // The stored key as the settings window shows it: four bullets and the key's last four characters
  // (user-perceived characters), or bullets and the whole key when it is shorter; an empty stored key is
  // shown as the bullets alone.
  static std::string mask(std::string_view key);

  // What a typed key is stored as: white space and newlines trimmed at both ends; nothing when that
  // leaves nothing (nothing is stored then).
  static std::optional<std::string> keyToStore(std::string_view input);
  // Stores keyToStore(input) and hands `completion` the keyring's answer. Returns false, storing nothing
  // and never calling `completion`, when there is nothing to store.
  bool saveKey(std::string_view input, Keychain::WriteCompletion completion) const;
  // Removes the stored key; a key that was not there is notFound.
  void removeKey(Keychain::WriteCompletion completion) const;

 private:
  const Keychain& keychain_;
};

}  // namespace quorvelle
