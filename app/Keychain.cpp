#include "app/Keychain.h"

namespace quorvelle {

std::optional<std::string> Keychain::read(std::string_view service, std::string_view account) const {
  auto result = store_.read(service, account);
  if (result.status != platform::SecretStatus::ok) return std::nullopt;
  return std::move(result.value);
}

void Keychain::save(std::string_view value, std::string_view service, std::string_view account) const {
  store_.write(service, account, value);
}

void Keychain::remove(std::string_view service, std::string_view account) const {
  store_.remove(service, account);
}

}  // namespace quorvelle
