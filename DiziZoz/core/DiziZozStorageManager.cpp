#include "DiziZoz/core/DiziZozStorageManager.h"

#include <utility>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"

namespace dizizoz {

using StorageKey = DiziZozStorage::StorageKey;

DiziZozStorageManager::DiziZozStorageManager(const DiziZozConfig& config)
    : DiziZozStorageManager(config, DiziZozStorageLocation::standard(config.bundle().identifier)) {}

DiziZozStorageManager::DiziZozStorageManager(const DiziZozConfig& config,
                                             const DiziZozStorageLocation& location)
    : storage_(DiziZozStorage::open(config, location)),
      idGen_(config.getAnonymousId ? config.getAnonymousId : [](Uuid id) { return id; }) {
  applyBootstrapIdentityIfNeeded(config.bootstrap);
}

template <typename T>
std::optional<T> DiziZozStorageManager::read(StorageKey key) {
  if (!storage_) return std::nullopt;
  auto state = DiziZozStorage::KeyFileState::missing;
  auto value = storage_->getTypedValue<T>(key, &state);
  if (state == DiziZozStorage::KeyFileState::unreadable) keepIdentityInMemory(key);
  return value;
}

void DiziZozStorageManager::keepIdentityInMemory(StorageKey unreadable) {
  if (inMemoryOnly_.exchange(true)) return;
  hedgeLog("The identity file " + storage_->url(unreadable).string() +
           " cannot be read: it is left as it is, and this run keeps its identity in memory only");
}

void DiziZozStorageManager::write(StorageKey key, const Value& value) {
  if (storage_ && !inMemoryOnly_) storage_->setJson(key, value);
}

void DiziZozStorageManager::remove(StorageKey key) {
  if (storage_) storage_->remove(key);
}

void DiziZozStorageManager::ensureAnonymousIdLocked() {
  if (anonymousId_) return;
  if (auto stored = read<std::string>(StorageKey::anonymousId)) {
    anonymousId_ = std::move(stored);
    return;
  }
  anonymousId_ = idGen_(TimeBasedEpochGenerator::shared().v7()).toString();
  write(StorageKey::anonymousId, *anonymousId_);
}

std::string DiziZozStorageManager::getAnonymousId() {
  std::lock_guard lock(anonLock_);
  ensureAnonymousIdLocked();
  return anonymousId_.value_or("");
}

void DiziZozStorageManager::setAnonymousId(const std::string& id) {
  std::lock_guard lock(anonLock_);
  anonymousId_ = id;
  write(StorageKey::anonymousId, id);
}

std::string DiziZozStorageManager::getDistinctId() {
  std::lock_guard lock(distinctLock_);
  if (distinctId_) return *distinctId_;
  if (!cachedDistinctId_) {
    distinctId_ = read<std::string>(StorageKey::distinctId);
    cachedDistinctId_ = true;
    if (distinctId_) return *distinctId_;
  }
  // Until identify sets one, the distinct id follows the anonymous id (also across a reset of it).
  std::lock_guard anonLock(anonLock_);
  ensureAnonymousIdLocked();
  return anonymousId_.value_or("");
}

void DiziZozStorageManager::setDistinctId(const std::string& id) {
  std::lock_guard lock(distinctLock_);
  distinctId_ = id;
  write(StorageKey::distinctId, id);
}

std::string DiziZozStorageManager::getDeviceId() {
  std::lock_guard lock(deviceIdLock_);
  if (!deviceId_) deviceId_ = read<std::string>(StorageKey::deviceId);
  if (!deviceId_) {
    {
      std::lock_guard anonLock(anonLock_);
      ensureAnonymousIdLocked();
      deviceId_ = anonymousId_;
    }
    if (deviceId_) write(StorageKey::deviceId, *deviceId_);
  }
  return deviceId_.value_or("");
}

bool DiziZozStorageManager::isIdentified() {
  std::lock_guard lock(identifiedLock_);
  if (!isIdentifiedValue_) isIdentifiedValue_ = read<bool>(StorageKey::isIdentified);
  if (!isIdentifiedValue_) {
    const std::string distinctId = getDistinctId();
    std::string anonymousId;
    {
      std::lock_guard anonLock(anonLock_);
      ensureAnonymousIdLocked();
      anonymousId = anonymousId_.value_or("");
    }
    isIdentifiedValue_ = distinctId != anonymousId;
  }
  return *isIdentifiedValue_;
}

void DiziZozStorageManager::setIdentified(bool identified) {
  std::lock_guard lock(identifiedLock_);
  isIdentifiedValue_ = identified;
  write(StorageKey::isIdentified, identified);
}

bool DiziZozStorageManager::isPersonProcessing() {
  std::lock_guard lock(personProcessingLock_);
  if (!personProcessingEnabled_) {
    personProcessingEnabled_ = read<bool>(StorageKey::personProcessingEnabled).value_or(false);
  }
  return *personProcessingEnabled_;
}

void DiziZozStorageManager::setPersonProcessing(bool enabled) {
  std::lock_guard lock(personProcessingLock_);
  if (personProcessingEnabled_ == enabled) return;
  personProcessingEnabled_ = enabled;
  write(StorageKey::personProcessingEnabled, enabled);
}

void DiziZozStorageManager::reset(bool keepAnonymousId, bool deleteFiles) {
  {
    std::lock_guard lock(distinctLock_);
    distinctId_.reset();
    cachedDistinctId_ = false;
    if (deleteFiles) remove(StorageKey::distinctId);
  }
  if (!keepAnonymousId) {
    std::lock_guard lock(anonLock_);
    anonymousId_.reset();
    if (deleteFiles) remove(StorageKey::anonymousId);
  }
  {
    std::lock_guard lock(identifiedLock_);
    isIdentifiedValue_.reset();
    if (deleteFiles) remove(StorageKey::isIdentified);
  }
  {
    std::lock_guard lock(personProcessingLock_);
    personProcessingEnabled_.reset();
    if (deleteFiles) remove(StorageKey::personProcessingEnabled);
  }
}

void DiziZozStorageManager::applyBootstrapIdentityIfNeeded(
    const std::optional<DiziZozBootstrapConfig>& bootstrap) {
  if (!bootstrap) return;
  if (!bootstrap->distinctId || trimmedWhitespace(*bootstrap->distinctId).empty()) {
    if (bootstrap->isIdentifiedId) {
      hedgeLog(
          "DiziZozConfig.bootstrap.isIdentifiedId is true but distinctId is nil or blank; the identified "
          "bootstrap is ignored.");
    }
    return;
  }
  // An existing installation is never re-bootstrapped.
  if (read<std::string>(StorageKey::anonymousId)) return;
  if (read<bool>(StorageKey::isIdentified) == true) return;
  // An identity file that cannot be read is an existing installation's.
  if (inMemoryOnly_) return;
  if (bootstrap->isIdentifiedId) {
    setDistinctId(*bootstrap->distinctId);
    std::lock_guard lock(identifiedLock_);
    isIdentifiedValue_ = true;
    write(StorageKey::isIdentified, true);
  } else {
    setAnonymousId(*bootstrap->distinctId);
  }
}

}  // namespace dizizoz
