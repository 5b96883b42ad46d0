#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

class DiziZozConfig;

// Where the client keeps its files. The application's folder is "$XDG_DATA_HOME/<bundle id>/"; the
// group-container lookup stands for shared containers between an application and its extensions, which
// this platform does not have (the standard location never finds one).
struct DiziZozStorageLocation {
  std::filesystem::path applicationSupport;  // the application's own data folder
  std::string bundleIdentifier;              // or the unknown-bundle name
  // The shared container of an application group, when the platform has one.
  std::function<std::optional<std::filesystem::path>(const std::string& groupIdentifier)> groupContainer;
  bool isAppExtension = false;

  // "$XDG_DATA_HOME/<bundle id>" (XDG_DATA_HOME defaulting to "$HOME/.local/share"); without a bundle
  // identifier the unknown-bundle name is used.
  static DiziZozStorageLocation standard(const std::optional<std::string>& bundleIdentifier);
};

// The client's persistent key-value store: one file per key in a folder of its own per project token.
// Scalars are stored wrapped in a one-member object named after the key; objects and arrays as they are.
// Every key file is written to a temporary name and renamed into place, so a reader (or the next launch
// after a crash) sees either the old or the new content; opening the store removes the temporaries that
// writers killed before their rename left behind.
//
// A key file is read only when it is a regular file of at most `maxKeyFileBytes` (opened without
// blocking and without following a link); anything else at its place reads as absent and is left there.
//
// Each caller serialises access to the keys it owns; several instances over the same folder may exist and
// the last write of a key wins. The keys every event reads, the super properties and the groups, are kept
// in memory once read (missing ones too) and written through to their files: they change only through
// the client, so a capture reads no file for them. Everything else is read from its file each time. No
// operation fails its caller: failures are logged (debug logging) and read as absent values.
class DiziZozStorage {
 public:
  enum class StorageKey {
    distinctId,
    anonymousId,
    queue,
    oldQueueFolder,
    oldQueuePlist,
    replayQeueue,
    oldReplayQueue,
    replayBufferQueue,
    logsQueue,
    enabledFeatureFlags,
    enabledFeatureFlagPayloads,
    flags,
    groups,
    registerProperties,
    optOut,
    sessionReplay,
    isIdentified,
    personProcessingEnabled,
    remoteConfig,
    surveySeen,
    lastSeenSurveyDate,
    requestId,
    evaluatedAt,
    minimalFlagCalledEvents,
    personPropertiesForFlags,
    groupPropertiesForFlags,
    errorTracking,
    capturePerformance,
    deviceId,
    pushSubscription,
    pushPendingUnregister,
  };
  static constexpr std::size_t storageKeyCount = 31;
  // The largest key file read or written: more than the largest flags or configuration the service
  // answers with (DiziZozApi's reply limits), far less than what would cost the program its memory.
  static constexpr std::size_t maxKeyFileBytes = 8 * 1024 * 1024;

  // What reading a key file found.
  enum class KeyFileState {
    missing,
    readable,
    // Something is there that cannot be read: no permission, an I/O error, not a regular file, or larger
    // than maxKeyFileBytes. Nothing says its content is bad: a later run may read it.
    unreadable,
  };
  static const std::array<StorageKey, storageKeyCount>& allKeys();
  // The file or folder name under the project folder, for example "dizizoz.distinctId".
  static std::string_view rawValue(StorageKey key);
  // The key's name in diagnostics, for example "distinctId".
  static std::string_view caseName(StorageKey key);
  static std::optional<StorageKey> keyFromRawValue(std::string_view rawValue);

  // True when the token can name the project folder: not empty after trimming, no "/", not "." or "..",
  // no control characters.
  static bool isUsableProjectToken(std::string_view projectToken);

  // Opens the store of `config`'s project: picks the folder (a group container when the options name
  // one and the platform has it), merges older layouts into it and moves key files of the older location.
  // Nothing (with a log line) when the project token cannot name a folder: the client must stay off
  // rather than write outside its folder.
  static std::shared_ptr<DiziZozStorage> open(const DiziZozConfig& config,
                                              const DiziZozStorageLocation& location);
  // The standard location for the bundle identifier in `config.bundle()`.
  static std::shared_ptr<DiziZozStorage> open(const DiziZozConfig& config);

  const std::filesystem::path& appFolderUrl() const { return appFolderUrl_; }
  std::filesystem::path url(StorageKey key) const { return appFolderUrl_ / rawValue(key); }

  // `state`, when given, tells a missing file from one that cannot be read.
  std::optional<std::string> getData(StorageKey key, KeyFileState* state = nullptr) const;
  // Nothing deletes the key's file. Contents over maxKeyFileBytes are logged and leave the file as it was.
  void setData(StorageKey key, const std::optional<std::string>& contents);

  std::optional<Value> getJson(StorageKey key, KeyFileState* state = nullptr) const;
  // A value that cannot be written as JSON is logged and leaves the key's file as it was.
  void setJson(StorageKey key, const Value& json);

  // For std::string and bool: the stored value, bare or wrapped; nothing when missing or of another type.
  template <typename T>
  std::optional<T> getTypedValue(StorageKey key, KeyFileState* state = nullptr) const;
  // An integer (a number is truncated), bare or wrapped.
  std::optional<std::int64_t> getInt(StorageKey key) const;

  void remove(StorageKey key);

  // Deletes the persisted identity, groups, super properties, cached flags and opt-out state; the queue
  // folders, the remote configuration, the flags' evaluation time, the device id and the push records stay.
  void reset(bool keepAnonymousId);

 private:
  explicit DiziZozStorage(std::filesystem::path appFolderUrl) : appFolderUrl_(std::move(appFolderUrl)) {}

  // A key kept in memory: what its file held when last read or written.
  struct KeptKey {
    KeyFileState state = KeyFileState::missing;
    std::string data;
    std::optional<Value> json;  // the parsed data; nothing when it does not parse
  };
  static constexpr std::size_t keptKeyCount = 2;
  // The slot of a key kept in memory; nothing for the others.
  static std::optional<std::size_t> keptSlot(StorageKey key);
  // The kept key's entry, reading its file when it is not in memory yet; nothing when the file cannot be
  // read. Call under keptLock_.
  const KeptKey* readKeptLocked(StorageKey key, std::size_t slot) const;
  KeyFileState readKeyFile(StorageKey key, std::string& contents) const;
  void forget(std::size_t slot);
  std::optional<Value> parseJson(StorageKey key, const std::string& data) const;

  std::filesystem::path appFolderUrl_;
  // Guards the kept keys. A kept key is filled from its file under the lock, and set after each write of
  // its file (its owner serialises those), so that what is kept is what the file holds. An unreadable
  // file is not kept: a later read may succeed.
  mutable std::mutex keptLock_;
  mutable std::array<std::optional<KeptKey>, keptKeyCount> kept_{};  // keptLock_
};

// File functions of the client's folders. None throws; failures are logged.

// The group's folder inside the container ("<container>/Library/Application Support/<group id>"), after
// merging a legacy folder of the bundle into it; nothing without a group or a container.
std::optional<std::filesystem::path> appGroupContainerUrl(const DiziZozConfig& config,
                                                          const DiziZozStorageLocation& location);
void mergeLegacyContainerIfNeeded(const std::optional<std::filesystem::path>& within,
                                  const std::filesystem::path& to, const DiziZozStorageLocation& location);
// Moves every entry of `from` into `to`, keeping whatever already exists in `to`; files named after a key
// in `skipKeys` are removed without being copied.
void migrateDirectoryContents(const std::filesystem::path& from, const std::filesystem::path& to,
                              const std::vector<DiziZozStorage::StorageKey>& skipKeys);
// Removes the folder when it is empty; true when it did.
bool removeIfEmpty(const std::filesystem::path& folder);
// Copies `from` to `to` unless `to` exists or `skipCopy` is set (an existing destination wins), then
// removes `from`.
std::error_code migrateFile(const std::filesystem::path& from, const std::filesystem::path& to,
                            bool skipCopy);
// Removes a file or a whole folder; a missing item is not an error.
void deleteSafely(const std::filesystem::path& path);
void createDirectoryAtURLIfNeeded(const std::filesystem::path& path);
// Writes every byte of `bytes` to the open file `fd`, going on after partial and interrupted writes.
std::error_code writeAll(int fd, std::string_view bytes);

}  // namespace dizizoz
