#include "DiziZoz/core/DiziZozStorage.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "DiziZoz/core/BoundedFileRead.h"
#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "platform/JsonDepth.h"

namespace dizizoz {
namespace fs = std::filesystem;
using StorageKey = DiziZozStorage::StorageKey;

namespace {

struct KeyNames {
  std::string_view caseName;
  std::string_view rawValue;
};

// In StorageKey order.
constexpr std::array<KeyNames, DiziZozStorage::storageKeyCount> keyNames{{
    {"distinctId", "dizizoz.distinctId"},
    {"anonymousId", "dizizoz.anonymousId"},
    {"queue", "dizizoz.queueFolder.uuid"},
    {"oldQueueFolder", "dizizoz.queueFolder"},
    {"oldQueuePlist", "dizizoz.queue.plist"},
    {"replayQeueue", "dizizoz.replayFolder.uuid"},
    {"oldReplayQueue", "dizizoz.replayFolder"},
    {"replayBufferQueue", "dizizoz.replayBufferFolder"},
    {"logsQueue", "dizizoz.logsFolder"},
    {"enabledFeatureFlags", "dizizoz.enabledFeatureFlags"},
    {"enabledFeatureFlagPayloads", "dizizoz.enabledFeatureFlagPayloads"},
    {"flags", "dizizoz.flags"},
    {"groups", "dizizoz.groups"},
    {"registerProperties", "dizizoz.registerProperties"},
    {"optOut", "dizizoz.optOut"},
    {"sessionReplay", "dizizoz.sessionReplay"},
    {"isIdentified", "dizizoz.isIdentified"},
    {"personProcessingEnabled", "dizizoz.enabledPersonProcessing"},
    {"remoteConfig", "dizizoz.remoteConfig"},
    {"surveySeen", "dizizoz.surveySeen"},
    {"lastSeenSurveyDate", "dizizoz.lastSeenSurveyDate"},
    {"requestId", "dizizoz.requestId"},
    {"evaluatedAt", "dizizoz.evaluatedAt"},
    {"minimalFlagCalledEvents", "dizizoz.minimalFlagCalledEvents"},
    {"personPropertiesForFlags", "dizizoz.personPropertiesForFlags"},
    {"groupPropertiesForFlags", "dizizoz.groupPropertiesForFlags"},
    {"errorTracking", "dizizoz.errorTracking"},
    {"capturePerformance", "dizizoz.capturePerformance"},
    {"deviceId", "dizizoz.deviceId"},
    {"pushSubscription", "dizizoz.pushSubscription"},
    {"pushPendingUnregister", "dizizoz.pushPendingUnregister"},
}};

// Removed by reset, in this order; the anonymous id only when it is not kept.
constexpr std::array<StorageKey, 22> resetKeys{
    StorageKey::distinctId,
    StorageKey::anonymousId,
    StorageKey::oldQueueFolder,
    StorageKey::oldQueuePlist,
    StorageKey::oldReplayQueue,
    StorageKey::flags,
    StorageKey::enabledFeatureFlags,
    StorageKey::enabledFeatureFlagPayloads,
    StorageKey::groups,
    StorageKey::registerProperties,
    StorageKey::optOut,
    StorageKey::isIdentified,
    StorageKey::personProcessingEnabled,
    StorageKey::surveySeen,
    StorageKey::lastSeenSurveyDate,
    StorageKey::requestId,
    StorageKey::minimalFlagCalledEvents,
    StorageKey::personPropertiesForFlags,
    StorageKey::groupPropertiesForFlags,
    StorageKey::sessionReplay,
    StorageKey::errorTracking,
    StorageKey::capturePerformance,
};

// Identity keys an application extension must not take over from a shared legacy folder.
const std::vector<StorageKey> extensionSkipKeys{
    StorageKey::distinctId,
    StorageKey::anonymousId,
    StorageKey::isIdentified,
    StorageKey::groups,
    StorageKey::registerProperties,
    StorageKey::personPropertiesForFlags,
    StorageKey::groupPropertiesForFlags,
};

bool itemExists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool isDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::error_code lastError() {
  return {errno, std::generic_category()};
}

// Renames `from` to `to` unless something exists at `to`; true when it did. Where the file system cannot
// refuse a replacement atomically, the check and the rename are separate steps.
bool renameNoReplace(const fs::path& from, const fs::path& to, std::error_code& ec) {
  ec.clear();
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) {
    ec = lastError();
    return false;
  }
  if (itemExists(to)) return false;
  fs::rename(from, to, ec);
  return !ec;
}

constexpr std::array<std::string_view, 2> temporaryTags{"writing", "migrating"};

// A name next to `target` for a temporary copy; hidden, so nobody takes it for a key or a queue record.
// It names the writing process, so that the next start can tell a write still running (in this process
// or another) from one killed before its rename: ".<name>.writing-<pid>-XXXXXX".
fs::path temporarySibling(const fs::path& target, std::string_view tag) {
  return target.parent_path() / ("." + target.filename().string() + "." + std::string(tag) + "-" +
                                 std::to_string(::getpid()) + "-XXXXXX");
}

bool processIsRunning(long pid) {
  if (pid == ::getpid()) return true;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Whether `name` is a temporary of a key-file write or copy whose writer has gone: its process is no
// longer running, or it has no process in its name (as older versions wrote them).
bool isLeftoverTemporary(std::string_view name) {
  if (!name.starts_with('.')) return false;
  for (std::string_view tag : temporaryTags) {
    const std::string marker = "." + std::string(tag) + "-";
    const auto at = name.rfind(marker);
    if (at == std::string_view::npos || at < 1) continue;
    if (!DiziZozStorage::keyFromRawValue(name.substr(1, at - 1))) continue;
    const std::string_view rest = name.substr(at + marker.size());
    const auto dash = rest.find('-');
    if (dash == std::string_view::npos) return rest.size() == 6;
    long pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + dash, pid);
    if (error != std::errc() || end != rest.data() + dash || pid <= 0 || rest.size() - dash - 1 != 6)
      return false;
    return !processIsRunning(pid);
  }
  return false;
}

// A writer killed between making its temporary and renaming it leaves the temporary behind.
void removeLeftoverTemporaries(const fs::path& folder) {
  std::error_code ec;
  std::vector<fs::path> leftovers;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (isLeftoverTemporary(it->path().filename().string())) leftovers.push_back(it->path());
  }
  for (const auto& path : leftovers) {
    std::error_code removeError;
    fs::remove_all(path, removeError);
    if (removeError) {
      hedgeLog("Could not remove the temporary " + path.string() +
               " of an unfinished write: " + removeError.message());
    }
  }
}

// Copies a file or a folder with its contents to `to` when nothing exists there. The copy is made under a
// temporary name and renamed, so a crash never leaves a half-copied item that would later win over the
// source.
std::error_code copyIfAbsent(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (itemExists(to)) return ec;
  std::string pattern = temporarySibling(to, "migrating").string();
  fs::path temporary;
  if (isDirectory(from)) {
    if (::mkdtemp(pattern.data()) == nullptr) return lastError();
    temporary = pattern;
    fs::copy(from, temporary, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  } else {
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return lastError();
    ::close(fd);
    temporary = pattern;
    fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
  }
  if (!ec) renameNoReplace(temporary, to, ec);
  std::error_code ignored;
  if (itemExists(temporary)) fs::remove_all(temporary, ignored);
  return ec;
}

std::error_code writeFileAtomically(const fs::path& path, std::string_view bytes) {
  std::string pattern = temporarySibling(path, "writing").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return lastError();
  std::error_code ec = writeAll(fd, bytes);
  // Flushed before the rename, so that after a power loss the name never points at missing data.
  if (!ec && ::fsync(fd) != 0) ec = lastError();
  if (::close(fd) != 0 && !ec) ec = lastError();
  if (!ec && ::rename(pattern.c_str(), path.c_str()) != 0) ec = lastError();
  if (ec) ::unlink(pattern.c_str());
  return ec;
}

std::optional<std::int64_t> asInteger(const Value& value) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
    return value.get<std::int64_t>();
  }
  if (value.is_number_float()) {
    const double d = std::trunc(value.get<double>());
    // The range check keeps the conversion defined; 2^63 itself is out of range.
    if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

template <typename T>
bool holds(const Value& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return value.is_boolean();
  } else {
    return value.is_string();
  }
}

void migrateLegacyStorage(const DiziZozConfig& config, const DiziZozStorageLocation& location,
                          const fs::path& appFolder) {
  const fs::path legacyBase = appGroupContainerUrl(config, location).value_or(location.applicationSupport);
  if (!isDirectory(legacyBase)) return;
  for (StorageKey key : DiziZozStorage::allKeys()) {
    const std::string raw(DiziZozStorage::rawValue(key));
    const fs::path source = legacyBase / raw;
    // A project token spelled like a key names the project folder itself: moving it into itself would
    // delete the whole store.
    if (source == appFolder || !itemExists(source)) continue;
    const fs::path destination = appFolder / raw;
    if (auto ec = copyIfAbsent(source, destination)) {
      hedgeLog("Error during storage migration for file " + raw + " at path " + source.string() + ": " +
               ec.message());
      // Left in place for the next launch: it may be the only copy (a queued event, the identity).
      continue;
    }
    if (itemExists(source)) {
      std::error_code ec;
      fs::remove_all(source, ec);
      if (ec) {
        hedgeLog("Could not delete file " + raw + " at path " + source.string() + ": " + ec.message());
      }
    }
  }
}

}  // namespace

DiziZozStorageLocation DiziZozStorageLocation::standard(const std::optional<std::string>& bundleIdentifier) {
  fs::path dataHome;
  if (const char* xdg = ::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    dataHome = xdg;
  } else {
    const char* home = ::getenv("HOME");
    dataHome = fs::path(home ? home : ".") / ".local" / "share";
  }
  DiziZozStorageLocation location;
  location.bundleIdentifier = bundleIdentifier.value_or(unknownBundleIdentifier);
  location.applicationSupport = dataHome / location.bundleIdentifier;
  return location;
}

const std::array<StorageKey, DiziZozStorage::storageKeyCount>& DiziZozStorage::allKeys() {
  static const auto keys = [] {
    std::array<StorageKey, storageKeyCount> all{};
    for (std::size_t i = 0; i < storageKeyCount; ++i) all[i] = static_cast<StorageKey>(i);
    return all;
  }();
  return keys;
}

std::string_view DiziZozStorage::rawValue(StorageKey key) {
  return keyNames[static_cast<std::size_t>(key)].rawValue;
}

std::string_view DiziZozStorage::caseName(StorageKey key) {
  return keyNames[static_cast<std::size_t>(key)].caseName;
}

std::optional<StorageKey> DiziZozStorage::keyFromRawValue(std::string_view raw) {
  for (std::size_t i = 0; i < storageKeyCount; ++i) {
    if (keyNames[i].rawValue == raw) return static_cast<StorageKey>(i);
  }
  return std::nullopt;
}

bool DiziZozStorage::isUsableProjectToken(std::string_view projectToken) {
  const std::string token = trimmedWhitespace(projectToken);
  if (token.empty() || token == "." || token == "..") return false;
  for (char ch : projectToken) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::shared_ptr<DiziZozStorage> DiziZozStorage::open(const DiziZozConfig& config) {
  return open(config, DiziZozStorageLocation::standard(config.bundle().identifier));
}

std::shared_ptr<DiziZozStorage> DiziZozStorage::open(const DiziZozConfig& config,
                                                     const DiziZozStorageLocation& location) {
  if (!isUsableProjectToken(config.projectToken())) {
    hedgeLog(
        "projectToken cannot name a storage folder (empty, \"/\", \".\", \"..\" or control characters); "
        "nothing is stored.");
    return nullptr;
  }
  const fs::path base = appGroupContainerUrl(config, location).value_or(location.applicationSupport);
  fs::path appFolder = base / config.projectToken();
  createDirectoryAtURLIfNeeded(appFolder);
  migrateLegacyStorage(config, location, appFolder);
  removeLeftoverTemporaries(appFolder);
  return std::shared_ptr<DiziZozStorage>(new DiziZozStorage(std::move(appFolder)));
}

std::optional<std::size_t> DiziZozStorage::keptSlot(StorageKey key) {
  switch (key) {
    case StorageKey::registerProperties:
      return 0;
    case StorageKey::groups:
      return 1;
    default:
      return std::nullopt;
  }
}

DiziZozStorage::KeyFileState DiziZozStorage::readKeyFile(StorageKey key, std::string& contents) const {
  const std::error_code ec = readRegularFile(url(key), maxKeyFileBytes, contents);
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
    return KeyFileState::missing;
  }
  if (ec) {
    hedgeLog("Error reading data from key " + std::string(caseName(key)) + ": " + ec.message());
    return KeyFileState::unreadable;
  }
  return KeyFileState::readable;
}

const DiziZozStorage::KeptKey* DiziZozStorage::readKeptLocked(StorageKey key, std::size_t slot) const {
  auto& kept = kept_[slot];
  if (kept) return &*kept;
  KeptKey entry;
  entry.state = readKeyFile(key, entry.data);
  // Not kept: the next read tries the file again.
  if (entry.state == KeyFileState::unreadable) return nullptr;
  if (entry.state == KeyFileState::readable) entry.json = parseJson(key, entry.data);
  kept = std::move(entry);
  return &*kept;
}

std::optional<std::string> DiziZozStorage::getData(StorageKey key, KeyFileState* state) const {
  KeyFileState found;
  std::string contents;
  if (const auto slot = keptSlot(key)) {
    std::lock_guard lock(keptLock_);
    const KeptKey* kept = readKeptLocked(key, *slot);
    found = kept ? kept->state : KeyFileState::unreadable;
    if (found == KeyFileState::readable) contents = kept->data;
  } else {
    found = readKeyFile(key, contents);
  }
  if (state) *state = found;
  if (found != KeyFileState::readable) return std::nullopt;
  return contents;
}

void DiziZozStorage::setData(StorageKey key, const std::optional<std::string>& contents) {
  const auto slot = keptSlot(key);
  // The file is written outside the lock (a write waits for the disk), and what is kept follows it.
  if (!contents) {
    deleteSafely(url(key));
    // Read again at the next use: a removal that failed leaves the file.
    if (slot) forget(*slot);
    return;
  }
  if (contents->size() > maxKeyFileBytes) {
    hedgeLog("Failed to write data for key '" + std::string(caseName(key)) +
             "' error: " + std::to_string(contents->size()) + " bytes are more than a key file may hold (" +
             std::to_string(maxKeyFileBytes) + "); the stored value is kept");
    return;
  }
  if (auto ec = writeFileAtomically(url(key), *contents)) {
    hedgeLog("Failed to write data for key '" + std::string(caseName(key)) + "' error: " + ec.message());
    // The file holds what it held before: read it again at the next use.
    if (slot) forget(*slot);
    return;
  }
  if (slot) {
    KeptKey written{KeyFileState::readable, *contents, parseJson(key, *contents)};
    std::lock_guard lock(keptLock_);
    kept_[*slot] = std::move(written);
  }
}

void DiziZozStorage::forget(std::size_t slot) {
  std::lock_guard lock(keptLock_);
  kept_[slot].reset();
}

std::optional<Value> DiziZozStorage::getJson(StorageKey key, KeyFileState* state) const {
  if (const auto slot = keptSlot(key)) {
    std::lock_guard lock(keptLock_);
    const KeptKey* kept = readKeptLocked(key, *slot);
    if (state) *state = kept ? kept->state : KeyFileState::unreadable;
    if (!kept) return std::nullopt;
    return kept->json;
  }
  auto data = getData(key, state);
  if (!data) return std::nullopt;
  return parseJson(key, *data);
}

std::optional<Value> DiziZozStorage::parseJson(StorageKey key, const std::string& data) const {
  // Parsing is not recursive, but every later copy or walk of the value would be.
  if (platform::jsonTextNestsDeeperThan(data)) {
    hedgeLog("Failed to serialize key '" + std::string(caseName(key)) + "' error: nested deeper than " +
             std::to_string(platform::maxJsonDepth) + " levels");
    return std::nullopt;
  }
  try {
    return Value::parse(data);
  } catch (const Value::exception& error) {
    hedgeLog("Failed to serialize key '" + std::string(caseName(key)) + "' error: " + error.what());
    return std::nullopt;
  }
}

void DiziZozStorage::setJson(StorageKey key, const Value& json) {
  // Checked before anything copies the value: a copy recurses once per level. The last good value stays
  // on disk when the new one has no JSON form.
  if (!isValidObject(json)) {
    hedgeLog("Failed to serialize key '" + std::string(caseName(key)) +
             "' error: the value has no JSON form; the stored value is kept");
    return;
  }
  if (json.is_object() || json.is_array()) {
    setData(key, json.dump());
  } else {
    setData(key, Value{{std::string(rawValue(key)), json}}.dump());
  }
}

template <typename T>
std::optional<T> DiziZozStorage::getTypedValue(StorageKey key, KeyFileState* state) const {
  auto json = getJson(key, state);
  if (!json) return std::nullopt;
  if (holds<T>(*json)) return json->template get<T>();
  if (!json->is_object()) return std::nullopt;
  for (const auto& member : *json) {
    if (!holds<T>(member)) return std::nullopt;
  }
  auto it = json->find(std::string(rawValue(key)));
  if (it == json->end()) return std::nullopt;
  return it->template get<T>();
}

template std::optional<std::string> DiziZozStorage::getTypedValue<std::string>(StorageKey,
                                                                               KeyFileState*) const;
template std::optional<bool> DiziZozStorage::getTypedValue<bool>(StorageKey, KeyFileState*) const;

std::optional<std::int64_t> DiziZozStorage::getInt(StorageKey key) const {
  auto json = getJson(key);
  if (!json) return std::nullopt;
  if (auto value = asInteger(*json)) return value;
  if (!json->is_object()) return std::nullopt;
  auto it = json->find(std::string(rawValue(key)));
  if (it == json->end()) return std::nullopt;
  return asInteger(*it);
}

void DiziZozStorage::remove(StorageKey key) {
  setData(key, std::nullopt);
}

void DiziZozStorage::reset(bool keepAnonymousId) {
  for (StorageKey key : resetKeys) {
    if (key == StorageKey::anonymousId && keepAnonymousId) continue;
    setData(key, std::nullopt);
  }
}

std::optional<fs::path> appGroupContainerUrl(const DiziZozConfig& config,
                                             const DiziZozStorageLocation& location) {
  if (!config.appGroupIdentifier || !location.groupContainer) return std::nullopt;
  auto container = location.groupContainer(*config.appGroupIdentifier);
  if (!container) return std::nullopt;
  const fs::path groupSupport = *container / "Library" / "Application Support";
  const fs::path target = groupSupport / *config.appGroupIdentifier;
  createDirectoryAtURLIfNeeded(target);
  mergeLegacyContainerIfNeeded(groupSupport, target, location);
  if (!isDirectory(target)) return std::nullopt;
  return target;
}

void mergeLegacyContainerIfNeeded(const std::optional<fs::path>& within, const fs::path& to,
                                  const DiziZozStorageLocation& location) {
  if (!within) return;
  const fs::path legacy = *within / location.bundleIdentifier;
  // A group named like the bundle would merge the target into itself.
  if (legacy == to || !isDirectory(legacy)) return;
  std::vector<StorageKey> skipKeys;
  if (location.isAppExtension) {
    skipKeys = extensionSkipKeys;
    hedgeLog("Legacy folder found at " + legacy.string() + ", merging from extension... (skipping " +
             std::to_string(skipKeys.size()) + " identity keys)");
  } else {
    hedgeLog("Legacy folder found at " + legacy.string() + ", merging from main app... (migrating all keys)");
  }
  migrateDirectoryContents(legacy, to, skipKeys);
  if (removeIfEmpty(legacy))
    hedgeLog("Successfully migrated and removed legacy folder at " + legacy.string());
}

void migrateDirectoryContents(const fs::path& from, const fs::path& to,
                              const std::vector<StorageKey>& skipKeys) {
  createDirectoryAtURLIfNeeded(to);
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  if (ec) {
    hedgeLog("Error reading directory contents at " + from.string() + ": " + ec.message());
    return;
  }
  for (const fs::path& entry : entries) {
    const fs::path dest = to / entry.filename();
    if (!itemExists(entry)) continue;
    std::error_code statusError;
    if (fs::is_directory(fs::symlink_status(entry, statusError))) {
      migrateDirectoryContents(entry, dest, skipKeys);
      removeIfEmpty(entry);
      continue;
    }
    bool skipCopy = false;
    for (StorageKey key : skipKeys) {
      if (entry.filename() == DiziZozStorage::rawValue(key)) skipCopy = true;
    }
    if (auto failure = migrateFile(entry, dest, skipCopy)) {
      hedgeLog("Failed to migrate file from " + entry.string() + " to " + dest.string() + ": " +
               failure.message());
    }
  }
}

bool removeIfEmpty(const fs::path& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec || it != fs::directory_iterator()) return false;
  if (!fs::remove(folder, ec) || ec) {
    hedgeLog("Failed to remove empty directory at " + folder.string() + ": " +
             (ec ? ec.message() : std::string("not removed")));
    return false;
  }
  return true;
}

std::error_code migrateFile(const fs::path& from, const fs::path& to, bool skipCopy) {
  if (!skipCopy) {
    if (auto ec = copyIfAbsent(from, to)) return ec;
  }
  std::error_code ec;
  fs::remove(from, ec);
  return ec;
}

void deleteSafely(const fs::path& path) {
  if (!itemExists(path)) return;
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec) hedgeLog("Error trying to delete file " + path.string() + " " + ec.message());
}

std::error_code writeAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    written += static_cast<std::size_t>(n);
  }
  return {};
}

void createDirectoryAtURLIfNeeded(const fs::path& path) {
  if (itemExists(path)) return;
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) hedgeLog("Error creating storage directory: " + ec.message());
}

}  // namespace dizizoz
