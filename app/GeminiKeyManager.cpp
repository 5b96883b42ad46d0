#include "app/GeminiKeyManager.h"

#include <utility>

#include "app/UnicodeText.h"

namespace quorvelle {
namespace {

constexpr std::string_view kBullets = "\u2022\u2022\u2022\u2022";
constexpr std::size_t kVisibleCharacters = 4;

}  // namespace

void GeminiKeyManager::readKey(Keychain::ReadCompletion completion) const {
  keychain_.read(kService, kAccount, std::move(completion));
}

std::string GeminiKeyManager::mask(std::string_view key) {
  // Whole user-perceived characters, so that a flag or an accented letter is never cut in half.
  return std::string(kBullets) + lastGraphemes(key, kVisibleCharacters);
}

std::optional<std::string> GeminiKeyManager::keyToStore(std::string_view input) {
  std::string trimmed = trimmedWhitespaceAndNewlines(input);
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

bool GeminiKeyManager::saveKey(std::string_view input, Keychain::WriteCompletion completion) const {
  const auto key = keyToStore(input);
  if (!key) return false;
  keychain_.save(*key, kService, kAccount, std::move(completion));
  return true;
}

void GeminiKeyManager::removeKey(Keychain::WriteCompletion completion) const {
  keychain_.remove(kService, kAccount, std::move(completion));
}

}  // namespace quorvelle
