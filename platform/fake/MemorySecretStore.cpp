#include "platform/fake/MemorySecretStore.h"

namespace platform::fake {

SecretReadResult MemorySecretStore::read(std::string_view service, std::string_view account) {
  std::lock_guard lock(mutex_);
  ++reads_;
  if (failure_) return {*failure_, {}};
  const auto it = items_.find({std::string(service), std::string(account)});
  if (it == items_.end()) return {SecretStatus::notFound, {}};
  return {SecretStatus::ok, it->second};
}

SecretStatus MemorySecretStore::write(std::string_view service, std::string_view account,
                                      std::string_view value) {
  std::lock_guard lock(mutex_);
  if (failure_) return *failure_;
  items_[{std::string(service), std::string(account)}] = std::string(value);
  return SecretStatus::ok;
}

SecretStatus MemorySecretStore::remove(std::string_view service, std::string_view account) {
  std::lock_guard lock(mutex_);
  if (failure_) return *failure_;
  return items_.erase({std::string(service), std::string(account)}) > 0 ? SecretStatus::ok
                                                                        : SecretStatus::notFound;
}

void MemorySecretStore::setFailing(bool failing) {
  std::lock_guard lock(mutex_);
  failure_ = failing ? std::optional(SecretStatus::failed) : std::nullopt;
}

void MemorySecretStore::setUnavailable(bool unavailable) {
  std::lock_guard lock(mutex_);
  failure_ = unavailable ? std::optional(SecretStatus::unavailable) : std::nullopt;
}

int MemorySecretStore::readCount() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

}  // namespace platform::fake
