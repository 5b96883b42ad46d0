#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "DiziZoz/delivery/DiziZozQueueFileAccess.h"

namespace platform {
class Clock;
}

namespace dizizoz {

class TimeBasedEpochGenerator;

// The on-disk record store of one upload stream: one file per record in a folder of its own, and the
// list of the file names in sending order. It stores opaque bytes; what they mean is the endpoint's.
//
// Files. A record is named by a new lower-case UUID version 7 and holds exactly the bytes given to add().
// It is written to a temporary name in the folder and renamed into place, so a crash never leaves a torn
// record; leftovers of an interrupted write are removed at start and never listed. Every other entry of
// the folder, hidden ones included, counts as a record; only a regular file of at most `maxRecordBytes`
// can be read as one (anything else counts as corrupted).
//
// Order. At start the list is the folder's entries by creation time, oldest first: for a record named
// as add() names them, the time in its name (no file system call per record); for any other entry, its
// birth time, else its modification time, and an unreadable time sorts first. Equal times by name. Added
// names go to the end. Nothing rescans the folder later.
//
// Start also moves the records of older layouts into the folder: an old folder's files (the old folder is
// removed once all of them moved, else kept for the next start), or an old single file holding a JSON
// array of records (each written under its "timestamp" as seconds since 1970; the old file is removed once
// every record is written, or when it holds no array).
//
// Thread-safe: the list is guarded by one lock that is never held during file input or output. add()
// writes first and then appends the name; pop() and deleteAt() take names out first and then
// delete the files; peek() works on a copy of the list. No operation fails its caller: failures are
// logged (debug logging) as the operations below describe.
class DiziZozFileBackedQueue {
 public:
  // Records larger than this are refused by add() and count as corrupted when read.
  static constexpr std::size_t maxRecordBytes = 16 * 1024 * 1024;

  // What the store runs on; the defaults are the system's files, clock and id generator. All three must
  // outlive the store.
  struct Environment {
    DiziZozQueueFileAccess* files = &DiziZozQueueFileAccess::system();
    const platform::Clock* clock = nullptr;  // the system clock when null
    TimeBasedEpochGenerator* ids = nullptr;  // the shared generator when null
  };

  // Creates `queue` (with its parents), migrates each older location in `oldQueues` that exists, in
  // order, and lists the folder.
  DiziZozFileBackedQueue(std::filesystem::path queue, std::vector<std::filesystem::path> oldQueues,
                         Environment environment);
  DiziZozFileBackedQueue(std::filesystem::path queue, std::vector<std::filesystem::path> oldQueues)
      : DiziZozFileBackedQueue(std::move(queue), std::move(oldQueues), Environment{}) {}
  DiziZozFileBackedQueue(const DiziZozFileBackedQueue&) = delete;
  DiziZozFileBackedQueue& operator=(const DiziZozFileBackedQueue&) = delete;

  const std::filesystem::path& queue() const { return queue_; }
  // The number of listed records.
  std::size_t depth() const;
  // The names of the listed records, oldest first.
  std::vector<std::string> names() const;

  // The contents of up to `count` records from the head of the list, in list order; names stay listed.
  // On the way: a name whose file is gone is dropped; a file that cannot be read for now stays listed for
  // a later attempt and is passed over (no permission, a lock), or ends the walk with what was read so far
  // (the process out of descriptors or memory); a file that cannot be read for any other reason is
  // deleted and its name dropped.
  std::vector<std::string> peek(std::size_t count);
  // peek() with each record's name, for removing exactly those records later.
  struct NamedRecord {
    std::string name;
    std::string contents;
  };
  // What a read deleted as no record, by cause.
  struct Discarded {
    std::size_t oversized = 0;       // a file over maxRecordBytes
    std::size_t notRegularFile = 0;  // a folder, a link, a device...
    std::size_t unreadable = 0;      // a file that could not be read for any other reason (EIO...)
  };
  // `discarded`, when given, counts what the read deleted.
  std::vector<NamedRecord> peekNamed(std::size_t count, Discarded* discarded = nullptr);

  // Takes up to `count` names from the head of the list and deletes their files.
  void pop(std::size_t count);
  // Takes each of `names` that is still listed out of the list and deletes its file; names no longer
  // listed (removed meanwhile, or gone with a clear()) are left alone. Returns how many it took.
  std::size_t remove(const std::vector<std::string>& names);
  // Takes the name at `index` out of the list and deletes its file; an index past the end does nothing.
  // True when it took one.
  bool deleteAt(std::size_t index);
  // Writes one record and lists it last. A failed write is logged ("Could not write file ...") and the
  // record is lost; the list does not change. True when the record was stored.
  bool add(std::string_view contents);
  // Deletes the folder with every record in it and starts over with an empty one.
  void clear();

  // Whether a read error means the file is fine but cannot be read for now: permission refused (EACCES,
  // EPERM), a lock (EAGAIN) or the process out of descriptors or memory (EMFILE, ENFILE, ENOMEM).
  static bool isTemporarilyUnavailable(std::error_code error);
  // Whether it is the process, not the file, that cannot go on reading: out of descriptors or memory.
  static bool isProcessShortOfResources(std::error_code error);
  // The time a record name made by add() (a lower-case UUID version 7) carries, since 1970; nothing for
  // any other name.
  static std::optional<std::chrono::nanoseconds> timeOfRecordName(std::string_view name);
  // Whether `name` is a write in progress (or left by one that never finished), not a record.
  static bool isTemporaryName(std::string_view name);

 private:
  void setup(const std::vector<std::filesystem::path>& oldQueues);
  void migrateOldQueueFolder(const std::filesystem::path& oldQueueFolder);
  void migrateOldQueue(const std::filesystem::path& oldQueue);
  // Removes leftovers of interrupted writes and orders the rest; false when the folder cannot be listed.
  bool loadNames(std::vector<std::string>& names, std::error_code& error);
  // Writes `bytes` as `name` in the folder through a temporary name.
  std::error_code writeRecord(const std::string& name, std::string_view bytes);
  // Removes a file or folder, logging a failure.
  void deleteSafely(const std::filesystem::path& path);

  const std::filesystem::path queue_;
  DiziZozQueueFileAccess& files_;
  const platform::Clock& clock_;
  TimeBasedEpochGenerator& ids_;

  mutable std::mutex itemsLock_;
  std::deque<std::string> items_;  // itemsLock_
};

}  // namespace dizizoz
