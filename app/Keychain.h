#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/SecretStore.h"

namespace quorvelle {

// Generic passwords of the user's keyring, addressed by service and account. Failures never reach the
// caller: a read that fails counts as a missing item, a failed save or delete changes nothing (the store
// logs them). Nothing is cached, so every read sees the latest save or delete.
//
// Main thread; the store must outlive the object.
class Keychain {
 public:
  explicit Keychain(platform::SecretStore& store) : store_(store) {}

  // The stored text (possibly empty); nothing when there is no such item or it cannot be read.
  std::optional<std::string> read(std::string_view service, std::string_view account) const;
  // Adds the item or replaces the value of the existing one.
  void save(std::string_view value, std::string_view service, std::string_view account) const;
  // Removing a missing item does nothing.
  void remove(std::string_view service, std::string_view account) const;

 private:
  platform::SecretStore& store_;
};

}  // namespace quorvelle
