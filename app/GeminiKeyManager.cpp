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

void GeminiKeyManager::readMaskedKey(std::function<void(std::optional<std::string>)> completion) const {
  readKey([completion = std::move(completion)](platform::SecretReadResult result) {
    if (result.status != platform::SecretStatus::ok) return completion(std::nullopt);
    completion(mask(result.value));
  });
}

std::string GeminiKeyManager::mask(std::string_view key) {
  // Whole user-perceived characters, so that a flag or an accented letter is never cut in half.
  return std::string(kBullets) + lastGraphemes(key, kVisibleCharacters);
}

}  // namespace quorvelle
