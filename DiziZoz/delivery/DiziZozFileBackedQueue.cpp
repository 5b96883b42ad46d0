#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/core/Uuid.h"
#include "DiziZoz/core/Value.h"
#include "platform/Clock.h"
#include "platform/JsonDepth.h"

namespace dizizoz {
namespace fs = std::filesystem;
namespace {

using Kind = DiziZozQueueFileAccess::Kind;

// A write in progress is ".<record name>.writing".
constexpr std::string_view temporaryPrefix = ".";
constexpr std::string_view temporarySuffix = ".writing";
// The old single-file queue holds every record of the stream at once.
constexpr std::size_t maxOldQueueBytes = 256 * 1024 * 1024;

std::string fileUrl(const fs::path& path) {
  return "file://" + path.string();
}

// Seconds since 1970 in the shortest form that reads back as the same double, always with a fraction
// ("1704164645.678", "1704164645.0").
std::string secondsName(Date date) {
  // Whole seconds and the fraction apart: dividing the nanoseconds at once would round 1704164645.678
  // to 1704164645.6780002.
  const auto since1970 = date.time_since_epoch();
  const auto whole = std::chrono::floor<std::chrono::seconds>(since1970);
  const double seconds =
      static_cast<double>(whole.count()) + std::chrono::duration<double>(since1970 - whole).count();
  std::array<char, 64> buffer{};
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds);
  std::string text = ec == std::errc() ? std::string(buffer.data(), end) : std::to_string(seconds);
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}

}  // namespace

DiziZozFileBackedQueue::DiziZozFileBackedQueue(fs::path queue, std::vector<fs::path> oldQueues,
                                               Environment environment)
    : queue_(std::move(queue)),
      files_(environment.files ? *environment.files : DiziZozQueueFileAccess::system()),
      clock_(environment.clock ? *environment.clock : platform::SystemClock::shared()),
      ids_(environment.ids ? *environment.ids : TimeBasedEpochGenerator::shared()) {
  setup(oldQueues);
}

bool DiziZozFileBackedQueue::isTemporarilyUnavailable(std::error_code error) {
  // Running out of descriptors or memory says nothing about the file: deleting it as corrupted would
  // lose a good record, maybe the whole queue.
  return error == std::errc::permission_denied || error == std::errc::operation_not_permitted ||
         error == std::errc::resource_unavailable_try_again || error == std::errc::too_many_files_open ||
         error == std::errc::too_many_files_open_in_system || error == std::errc::not_enough_memory;
}

bool DiziZozFileBackedQueue::isProcessShortOfResources(std::error_code error) {
  return error == std::errc::too_many_files_open || error == std::errc::too_many_files_open_in_system ||
         error == std::errc::not_enough_memory;
}

bool DiziZozFileBackedQueue::isTemporaryName(std::string_view name) {
  return name.size() > temporaryPrefix.size() + temporarySuffix.size() && name.starts_with(temporaryPrefix) &&
         name.ends_with(temporarySuffix);
}

std::size_t DiziZozFileBackedQueue::depth() const {
  std::lock_guard lock(itemsLock_);
  return items_.size();
}

std::vector<std::string> DiziZozFileBackedQueue::names() const {
  std::lock_guard lock(itemsLock_);
  return {items_.begin(), items_.end()};
}

void DiziZozFileBackedQueue::setup(const std::vector<fs::path>& oldQueues) {
  if (auto ec = files_.createDirectories(queue_)) {
    hedgeLog("Error trying to create caching folder " + ec.message());
  }
  for (const auto& oldQueue : oldQueues) {
    switch (files_.status(oldQueue).kind) {
      case Kind::missing:
        break;
      case Kind::directory:
        migrateOldQueueFolder(oldQueue);
        break;
      case Kind::regular:
      case Kind::other:
        migrateOldQueue(oldQueue);
        break;
    }
  }
  std::vector<std::string> names;
  std::error_code ec;
  if (!loadNames(names, ec)) {
    hedgeLog("Failed to load files for queue " + ec.message());
    return;
  }
  std::lock_guard lock(itemsLock_);
  items_.assign(std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
}

std::optional<std::chrono::nanoseconds> DiziZozFileBackedQueue::timeOfRecordName(std::string_view name) {
  // Only the form add() gives its names: another case or version (a record of an older layout, a foreign
  // file) has no time in its name that would order it against the others.
  const auto id = Uuid::fromString(name);
  if (!id || id->version() != 7 || (id->bytes[8] & 0xC0) != 0x80) return std::nullopt;
  // The canonical form in lower case only: the text form of `id` is `name` itself.
  if (std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'F'; })) return std::nullopt;
  std::uint64_t milliseconds = 0;
  for (std::size_t i = 0; i < 6; ++i) milliseconds = (milliseconds << 8) | id->bytes[i];
  return std::chrono::milliseconds(milliseconds);
}

bool DiziZozFileBackedQueue::loadNames(std::vector<std::string>& names, std::error_code& error) {
  std::vector<std::string> entries;
  if ((error = files_.list(queue_, entries))) return false;
  using Entry = std::tuple<std::chrono::nanoseconds, std::string>;
  std::vector<Entry> sorted;
  sorted.reserve(entries.size());
  for (auto& name : entries) {
    if (isTemporaryName(name)) {
      deleteSafely(queue_ / name);
      continue;
    }
    // A record's name tells when it was made, to the millisecond, and orders the records of one
    // millisecond as they were made; the file is created right after. Asking the file system for each of
    // thousands of records would hold up the client's set-up for nothing: only other names need it.
    auto createdAt = timeOfRecordName(name);
    if (!createdAt) createdAt = files_.status(queue_ / name).createdAt;
    sorted.emplace_back(createdAt.value_or(std::chrono::nanoseconds::min()), std::move(name));
  }
  // Equal times by name: the records of one millisecond, and other files whose times the file system
  // keeps no finer than its clock (a few milliseconds), keep a stable order.
  std::sort(sorted.begin(), sorted.end());
  names.clear();
  names.reserve(sorted.size());
  for (auto& [createdAt, name] : sorted) names.push_back(std::move(name));
  return true;
}

void DiziZozFileBackedQueue::migrateOldQueueFolder(const fs::path& oldQueueFolder) {
  std::vector<std::string> names;
  if (auto ec = files_.list(oldQueueFolder, names)) {
    // Its records are still in there: try again at the next start.
    hedgeLog("Failed to read queue folder " + ec.message());
    return;
  }
  std::size_t failed = 0;
  for (const auto& name : names) {
    if (auto ec = files_.move(oldQueueFolder / name, queue_ / name)) {
      hedgeLog("Failed to migrate file " + name + ": " + ec.message());
      ++failed;
    }
  }
  if (failed > 0) {
    hedgeLog("Kept queue folder " + oldQueueFolder.string() +
             " for the next start: " + std::to_string(failed) + " files could not be moved");
    return;
  }
  deleteSafely(oldQueueFolder);
}

void DiziZozFileBackedQueue::migrateOldQueue(const fs::path& oldQueue) {
  std::string data;
  if (auto ec = files_.read(oldQueue, maxOldQueueBytes, data)) {
    if (ec == std::errc::no_such_file_or_directory) return;
    // Unread records may still be in it: try again at the next start.
    hedgeLog("Failed to migrate queue " + ec.message());
    return;
  }
  const Value json = platform::parseBoundedJson(data);
  if (json.is_discarded()) {
    hedgeLog("Failed to migrate queue the file is not JSON");
    deleteSafely(oldQueue);
    return;
  }
  if (!json.is_array()) {
    hedgeLog("[DiziZoz] Failed to migrate queue: invalid data format");
    deleteSafely(oldQueue);
    return;
  }
  // Records with one timestamp would share a name: the later ones get "-1", "-2"... The names depend only
  // on the file's content, so migrating it again after an interruption rewrites the same files.
  std::set<std::string> used;
  for (const auto& element : json) {
    if (!element.is_object()) continue;
    std::optional<Date> date;
    if (auto it = element.find("timestamp"); it != element.end() && it->is_string()) {
      date = toISO8601Date(it->get_ref<const std::string&>());
    }
    const std::string base = secondsName(date.value_or(clock_.now()));
    std::string name = base;
    for (int suffix = 1; !used.insert(name).second; ++suffix) name = base + "-" + std::to_string(suffix);
    if (auto ec = writeRecord(name, element.dump())) {
      // The records not yet written are only in the old file: keep it for the next start.
      hedgeLog("Failed to migrate queue " + ec.message());
      return;
    }
  }
  deleteSafely(oldQueue);
}

std::error_code DiziZozFileBackedQueue::writeRecord(const std::string& name, std::string_view bytes) {
  if (bytes.size() > maxRecordBytes) return DiziZozFileError::tooLarge;
  const fs::path temporary = queue_ / (std::string(temporaryPrefix) + name + std::string(temporarySuffix));
  auto ec = files_.write(queue_ / name, temporary, bytes);
  if (ec == std::errc::file_exists) {
    // A leftover of a write that never finished under this very name (only migrations reuse names).
    deleteSafely(temporary);
    ec = files_.write(queue_ / name, temporary, bytes);
  }
  return ec;
}

bool DiziZozFileBackedQueue::add(std::string_view contents) {
  const std::string name = ids_.v7().toString();
  if (auto ec = writeRecord(name, contents)) {
    hedgeLog("Could not write file " + ec.message());
    return false;
  }
  std::lock_guard lock(itemsLock_);
  items_.push_back(name);
  return true;
}

std::vector<std::string> DiziZozFileBackedQueue::peek(std::size_t count) {
  std::vector<std::string> contents;
  for (auto& record : peekNamed(count)) contents.push_back(std::move(record.contents));
  return contents;
}

std::vector<DiziZozFileBackedQueue::NamedRecord> DiziZozFileBackedQueue::peekNamed(std::size_t count,
                                                                                   Discarded* discarded) {
  std::vector<NamedRecord> records;
  if (count == 0) return records;
  const std::vector<std::string> listed = names();
  std::set<std::string> dropped;
  for (const auto& name : listed) {
    const fs::path path = queue_ / name;
    std::string data;
    if (auto ec = files_.read(path, maxRecordBytes, data)) {
      if (ec == std::errc::no_such_file_or_directory) {
        hedgeLog("File " + fileUrl(path) + " does not exist");
        dropped.insert(name);
        continue;
      }
      if (isTemporarilyUnavailable(ec)) {
        hedgeLog("File " + fileUrl(path) + " is temporarily unavailable, will retry " + ec.message());
        // One file the process may not read must not hold back the records behind it; a process out of
        // descriptors or memory would fail on every one of them.
        if (isProcessShortOfResources(ec)) break;
        continue;
      }
      hedgeLog("File " + fileUrl(path) + " is corrupted " + ec.message());
      deleteSafely(path);
      dropped.insert(name);
      if (discarded) {
        ++(ec == DiziZozFileError::tooLarge          ? discarded->oversized
           : ec == DiziZozFileError::notARegularFile ? discarded->notRegularFile
                                                     : discarded->unreadable);
      }
      continue;
    }
    records.push_back({name, std::move(data)});
    if (records.size() == count) break;
  }
  if (!dropped.empty()) {
    std::lock_guard lock(itemsLock_);
    std::erase_if(items_, [&](const std::string& name) { return dropped.contains(name); });
  }
  return records;
}

void DiziZozFileBackedQueue::pop(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::string name;
    {
      std::lock_guard lock(itemsLock_);
      if (items_.empty()) return;
      name = std::move(items_.front());
      items_.pop_front();
    }
    deleteSafely(queue_ / name);
  }
}

std::size_t DiziZozFileBackedQueue::remove(const std::vector<std::string>& names) {
  const std::set<std::string> wanted(names.begin(), names.end());
  std::vector<std::string> listed;
  {
    std::lock_guard lock(itemsLock_);
    std::erase_if(items_, [&](const std::string& name) {
      if (!wanted.contains(name)) return false;
      listed.push_back(name);
      return true;
    });
  }
  for (const auto& name : listed) deleteSafely(queue_ / name);
  return listed.size();
}

bool DiziZozFileBackedQueue::deleteAt(std::size_t index) {
  std::string name;
  {
    std::lock_guard lock(itemsLock_);
    if (index >= items_.size()) return false;
    const auto position = items_.begin() + static_cast<std::ptrdiff_t>(index);
    name = std::move(*position);
    items_.erase(position);
  }
  deleteSafely(queue_ / name);
  return true;
}

void DiziZozFileBackedQueue::clear() {
  deleteSafely(queue_);
  setup({});
}

void DiziZozFileBackedQueue::deleteSafely(const fs::path& path) {
  if (auto ec = files_.remove(path))
    hedgeLog("Error trying to delete file " + path.string() + " " + ec.message());
}

}  // namespace dizizoz
