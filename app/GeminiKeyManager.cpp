#include "app/GeminiKeyManager.h"

#include "app/Keychain.h"
#include "app/UnicodeText.h"

namespace quorvelle {
namespace {

constexpr std::string_view kBullets = "\u2022\u2022\u2022\u2022";
constexpr std::size_t kVisibleCharacters = 4;

}  // namespace

std::optional<std::string> GeminiKeyManager::key() const {
  return Keychain(store_).read(kService, kAccount);
}

std::optional<std::string> GeminiKeyManager::maskedKey() const {
  const auto stored = key();
  if (!stored) return std::nullopt;
  return mask(*stored);
}

std::string GeminiKeyManager::mask(std::string_view key) {
  // Whole user-perceived characters, so that a flag or an accented letter is never cut in half.
  return std::string(kBullets) + lastGraphemes(key, kVisibleCharacters);
}

}  // namespace quorvelle
