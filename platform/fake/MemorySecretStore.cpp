#include "platform/fake/MemorySecretStore.h"

namespace platform::fake {

SecretReadResult MemorySecretStore::read(std::string_view service, std::string_view account) {
  std::lock_guard lock(mutex_);
  ++reads_;
  if (failing_) return {SecretStatus::failed, {}};
  const auto it = items_.find({std::string(service), std::string(account)});
  if (it == items_.end()) return {SecretStatus::notFound, {}};
  return {SecretStatus::ok, it->second};
}

SecretStatus MemorySecretStore::write(std::string_view service, std::string_view account,
                                      std::string_view value) {
  std::lock_guard lock(mutex_);
  if (failing_) return SecretStatus::failed;
  items_[{std::string(service), std::string(account)}] = std::string(value);
  return SecretStatus::ok;
}

SecretStatus MemorySecretStore::remove(std::string_view service, std::string_view account) {
  std::lock_guard lock(mutex_);
  if (failing_) return SecretStatus::failed;
  return items_.erase({std::string(service), std::string(account)}) > 0 ? SecretStatus::ok
                                                                        : SecretStatus::notFound;
}

void MemorySecretStore::setFailing(bool failing) {
  std::lock_guard lock(mutex_);
  failing_ = failing;
}

int MemorySecretStore::readCount() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

}  // namespace platform::fake
