#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozBootstrapConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/Uuid.h"

namespace dizizoz {

class DiziZozConfig;

// The installation's identity: anonymous, distinct and device ids, and the identified and person-processing
// flags. Each value is read from its key file on first use, cached, and written back on every change;
// missing values are derived (a new anonymous id, the distinct and device ids from it, the identified
// flag from comparing the two ids). A bootstrap identity in the options is applied once, on a fresh
// installation.
//
// An identity file that is there but cannot be read (no permission, not a regular file, too large) is
// never overwritten: from then on the run keeps its whole identity in memory and writes none of its
// files, so the stored identity is back at the next launch that can read it.
//
// Any thread may call. One lock per value; they nest only as distinct -> anon, deviceId -> anon,
// identified -> distinct -> anon and identified -> anon, so there is no cycle.
class DiziZozStorageManager {
 public:
  // Opens a store of its own over the project's folder; without a usable project token the identity is
  // kept in memory only.
  DiziZozStorageManager(const DiziZozConfig& config, const DiziZozStorageLocation& location);
  explicit DiziZozStorageManager(const DiziZozConfig& config);
  DiziZozStorageManager(const DiziZozStorageManager&) = delete;
  DiziZozStorageManager& operator=(const DiziZozStorageManager&) = delete;

  // The anonymous id, made (lower-case UUID version 7 through the options' hook) and stored when none exists.
  std::string getAnonymousId();
  void setAnonymousId(const std::string& id);

  // The distinct id set by identify, else the anonymous id.
  std::string getDistinctId();
  void setDistinctId(const std::string& id);

  // The first anonymous id of the installation; survives every reset.
  std::string getDeviceId();

  // The stored flag, else whether the distinct id differs from the anonymous id (not stored).
  bool isIdentified();
  void setIdentified(bool identified);

  bool isPersonProcessing();
  // Writes only when the value changes.
  void setPersonProcessing(bool enabled);

  // Forgets the cached identity (the anonymous id only when it is not kept; never the device id), and
  // with `deleteFiles` also deletes the matching key files.
  void reset(bool keepAnonymousId, bool deleteFiles);

  const std::shared_ptr<DiziZozStorage>& storage() const { return storage_; }

 private:
  void ensureAnonymousIdLocked();  // under anonLock_
  void applyBootstrapIdentityIfNeeded(const std::optional<DiziZozBootstrapConfig>& bootstrap);
  template <typename T>
  std::optional<T> read(DiziZozStorage::StorageKey key);
  void write(DiziZozStorage::StorageKey key, const Value& value);
  void remove(DiziZozStorage::StorageKey key);
  // Switches the run to an identity in memory only, once.
  void keepIdentityInMemory(DiziZozStorage::StorageKey unreadable);

  const std::shared_ptr<DiziZozStorage> storage_;
  std::mutex anonLock_;
  std::mutex distinctLock_;
  std::mutex deviceIdLock_;
  std::mutex identifiedLock_;
  std::mutex personProcessingLock_;
  const std::function<Uuid(Uuid)> idGen_;
  std::optional<std::string> distinctId_;        // distinctLock_
  bool cachedDistinctId_ = false;                // distinctLock_: the distinct-id file has been read
  std::optional<std::string> anonymousId_;       // anonLock_
  std::optional<std::string> deviceId_;          // deviceIdLock_
  std::optional<bool> isIdentifiedValue_;        // identifiedLock_
  std::optional<bool> personProcessingEnabled_;  // personProcessingLock_
  std::atomic<bool> inMemoryOnly_{false};
};

}  // namespace dizizoz
