#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/Uuid.h"
#include "DiziZoz/core/Value.h"
#include "DiziZoz/delivery/DiziZozFileBackedQueue.h"
#include "DiziZoz/delivery/QueueEndpoint.h"
#include "platform/fake/ManualClock.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/CaseName.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/dizizoz/FaultyQueueFileAccess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozFileBackedQueue;
using dizizoz::DiziZozStorage;
using dizizoz::QueueEndpoint;
using dizizoz::Value;
using dizizoz::test::CapturedLog;
using dizizoz::test::FaultyQueueFileAccess;
using Operation = FaultyQueueFileAccess::Operation;
using Names = std::vector<std::string>;

void writeFile(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The folder's entries, sorted by name.
Names entries(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

long countLines(const CapturedLog& log, const std::string& prefix) {
  return std::count_if(log.lines.begin(), log.lines.end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
}

std::string url(const fs::path& path) {
  return "file://" + path.string();
}

class FileBackedQueueTest : public testing::Test {
 protected:
  // A store over `folder` on the faulty files; its names are made by the store unless written here.
  DiziZozFileBackedQueue store(std::vector<fs::path> oldQueues = {}) {
    return DiziZozFileBackedQueue(folder, std::move(oldQueues), {.files = &files, .clock = &clock});
  }

  // Files A, B and C written by a first store, in that order; their names as the store made them.
  Names threeRecords() {
    auto first = store();
    for (const char* contents : {"A", "B", "C"}) first.add(contents);
    return first.names();
  }

  quorvelle::test::TempDir dir;
  fs::path folder = dir / "project" / "dizizoz.queueFolder.uuid";
  FaultyQueueFileAccess files;
  platform::fake::ManualClock clock;
  CapturedLog log;
};

TEST_F(FileBackedQueueTest, AddsReadsAndKeepsRecordsAcrossStores) {
  auto queue = store();
  EXPECT_TRUE(fs::is_directory(folder)) << "the folder and its parents are created";
  EXPECT_EQ(queue.depth(), 0u);

  for (const char* contents : {"{\"n\":1}", "{\"n\":2}", "{\"n\":3}"}) queue.add(contents);
  const Names names = queue.names();
  ASSERT_EQ(names.size(), 3u);
  for (const auto& name : names) {
    EXPECT_EQ(name.size(), 36u);
    EXPECT_EQ(name, dizizoz::Uuid::fromString(name)->toString()) << "a lower-case UUID";
    EXPECT_EQ(dizizoz::Uuid::fromString(name)->version(), 7);
  }
  EXPECT_EQ(readFile(folder / names[1]), "{\"n\":2}") << "exactly the bytes given";
  EXPECT_EQ(entries(folder).size(), 3u) << "no temporary file stays behind";

  EXPECT_EQ(queue.peek(0), Names{});
  EXPECT_EQ(queue.peek(2), (Names{"{\"n\":1}", "{\"n\":2}"}));
  EXPECT_EQ(queue.peek(3), (Names{"{\"n\":1}", "{\"n\":2}", "{\"n\":3}"}));
  EXPECT_EQ(queue.peek(10).size(), 3u);
  EXPECT_EQ(queue.depth(), 3u) << "peeking removes nothing";

  auto next = store();
  EXPECT_EQ(next.names(), names)
      << "a new store lists the previous run's records in the order they were made";
}

TEST_F(FileBackedQueueTest, PreviousRunFilesAreListedByCreationTimeWhateverTheirNames) {
  fs::create_directories(folder);
  struct File {
    const char* name;
    std::optional<std::chrono::nanoseconds> createdAt;
  };
  const File previousRun[] = {
      {"zz", 1s}, {"aa", 3s}, {"mm", 2s}, {"b2", 5s}, {"b1", 5s}, {"undated", std::nullopt}, {".hidden", 4s},
  };
  for (const auto& file : previousRun) {
    writeFile(folder / file.name, file.name);
    files.setCreatedAt(file.name, file.createdAt);
  }
  // Left by a write that was interrupted: never a record.
  writeFile(folder / ".0190c2a4-0000-7000-8000-000000000000.writing", "{\"half\":");

  auto queue = store();
  const Names expected{"undated", "zz", "mm", "aa", ".hidden", "b1", "b2"};
  EXPECT_EQ(queue.names(), expected) << "an unreadable time sorts first, equal times by name";
  EXPECT_EQ(queue.peek(10), expected);
  EXPECT_FALSE(fs::exists(folder / ".0190c2a4-0000-7000-8000-000000000000.writing"));

  queue.add("new");
  EXPECT_EQ(queue.peek(10).back(), "new") << "added records go last";
}

// The name of a record made at `milliseconds` since 1970, `step` ids into its millisecond, in the form
// add() gives (`upper` for the same id in capitals, `version` for another kind of UUID).
std::string recordName(std::uint64_t milliseconds, std::uint8_t step, bool upper = false, int version = 7) {
  dizizoz::Uuid id;
  for (int i = 0; i < 6; ++i) id.bytes[i] = static_cast<std::uint8_t>(milliseconds >> (8 * (5 - i)));
  id.bytes[6] = static_cast<std::uint8_t>(version << 4);
  id.bytes[8] = 0x80;
  id.bytes[15] = step;
  std::string name = id.toString();
  if (upper) std::transform(name.begin(), name.end(), name.begin(), [](char c) { return std::toupper(c); });
  return name;
}

// Records are ordered by the time in their names without asking the file system about them (a full queue
// holds thousands); every other entry of the folder still goes by its creation time among them.
TEST_F(FileBackedQueueTest, RecordNamesOrderThemselvesAndOtherEntriesGoByCreationTime) {
  fs::create_directories(folder);
  const std::string first = recordName(1'000, 0);
  const std::string sameMillisecondEarlier = recordName(2'000, 1);
  const std::string sameMillisecondLater = recordName(2'000, 2);
  const std::string last = recordName(5'000, 0);
  const std::string capitals = recordName(500, 0, true);
  const std::string version4 = recordName(100, 0, false, 4);
  for (const std::string& name : {last, sameMillisecondLater, first, sameMillisecondEarlier}) {
    writeFile(folder / name, name);
    // Whatever the file system would say, it is not asked.
    files.fail(Operation::status, name, std::errc::io_error);
  }
  const std::pair<std::string, std::optional<std::chrono::nanoseconds>> others[] = {
      {"undated", std::nullopt}, {"zz", 1500ms}, {".hidden", 3s}, {capitals, 4s}, {version4, 200ms},
  };
  for (const auto& [name, createdAt] : others) {
    writeFile(folder / name, name);
    files.setCreatedAt(name, createdAt);
  }

  auto queue = store();
  const Names expected{"undated", version4, first, "zz", sameMillisecondEarlier, sameMillisecondLater,
                       ".hidden", capitals, last};
  EXPECT_EQ(queue.names(), expected);
  EXPECT_EQ(files.failures(), Names{}) << "no record name was looked up";
  EXPECT_EQ(queue.peek(20), expected) << "and they are read in that order";

  EXPECT_EQ(DiziZozFileBackedQueue::timeOfRecordName(first), std::chrono::milliseconds(1'000));
  for (const std::string& other : {capitals, version4, std::string("undated"), first + "x"}) {
    EXPECT_FALSE(DiziZozFileBackedQueue::timeOfRecordName(other)) << other;
  }
}

TEST_F(FileBackedQueueTest, AFileDeletedBehindTheStoreIsLoggedOnceAndSkipped) {
  const Names names = threeRecords();
  auto queue = store();
  fs::remove(folder / names[1]);

  EXPECT_EQ(queue.peek(2), (Names{"A", "C"})) << "the next file takes its place";
  EXPECT_EQ(queue.names(), (Names{names[0], names[2]}));
  EXPECT_EQ(queue.peek(2), (Names{"A", "C"}));
  EXPECT_EQ(countLines(log, "[DiziZoz] File " + url(folder / names[1]) + " does not exist"), 1);
}

struct UnreadableCase {
  const char* name;
  std::errc error;
  Names returned;
  bool keptInList;  // the file stays listed and on disk for a later attempt
  const char* line;
};
void PrintTo(const UnreadableCase& c, std::ostream* os) {
  *os << c.name;
}

class UnreadableFileTest : public FileBackedQueueTest, public testing::WithParamInterface<UnreadableCase> {};

// With A, B and C listed and B failing to read: a file that cannot be read for now is passed over and
// kept (or, when the process is out of descriptors or memory, ends the walk); any other failure deletes
// it as corrupted.
TEST_P(UnreadableFileTest, IsPassedOverStopsTheWalkOrIsDeleted) {
  const auto& c = GetParam();
  const Names names = threeRecords();
  auto queue = store();
  files.fail(Operation::read, names[1], c.error);

  EXPECT_EQ(queue.peek(3), c.returned);
  const Names listed = c.keptInList ? names : Names{names[0], names[2]};
  EXPECT_EQ(queue.names(), listed);
  EXPECT_EQ(fs::exists(folder / names[1]), c.keptInList);
  const std::string message = std::make_error_code(c.error).message();
  EXPECT_TRUE(log.has("[DiziZoz] File " + url(folder / names[1]) + c.line + message)) << log.lines.back();

  files.heal();
  const Names afterHealing = c.keptInList ? Names{"A", "B", "C"} : Names{"A", "C"};
  EXPECT_EQ(queue.peek(3), afterHealing);
}

const UnreadableCase unreadableCases[] = {
    {"EACCES", std::errc::permission_denied, {"A", "C"}, true, " is temporarily unavailable, will retry "},
    {"EPERM",
     std::errc::operation_not_permitted,
     {"A", "C"},
     true,
     " is temporarily unavailable, will retry "},
    {"EMFILE", std::errc::too_many_files_open, {"A"}, true, " is temporarily unavailable, will retry "},
    {"ENOMEM", std::errc::not_enough_memory, {"A"}, true, " is temporarily unavailable, will retry "},
    {"EIO", std::errc::io_error, {"A", "C"}, false, " is corrupted "},
    {"EISDIR", std::errc::is_a_directory, {"A", "C"}, false, " is corrupted "},
};
INSTANTIATE_TEST_SUITE_P(Errors, UnreadableFileTest, testing::ValuesIn(unreadableCases),
                         quorvelle::test::NamedCase());

struct StrayEntryCase {
  const char* name;
  std::function<void(const fs::path& path, const fs::path& outside)> make;
  // The cause a read counts it under.
  std::size_t DiziZozFileBackedQueue::Discarded::*cause;
};
void PrintTo(const StrayEntryCase& c, std::ostream* os) {
  *os << c.name;
}

class StrayEntryTest : public FileBackedQueueTest, public testing::WithParamInterface<StrayEntryCase> {};

// Only a regular file of bounded size is a record: anything else in the folder is read without hanging,
// logged as corrupted, removed (a link, not what it points at) and counted under its cause.
TEST_P(StrayEntryTest, IsDeletedAsCorruptedWithoutBlocking) {
  fs::create_directories(folder);
  writeFile(folder / "a", "A");
  const fs::path outside = dir / "outside";
  writeFile(outside, "not ours");
  GetParam().make(folder / "b", outside);
  writeFile(folder / "c", "C");
  files.setCreatedAt("a", 1s);
  files.setCreatedAt("b", 2s);
  files.setCreatedAt("c", 3s);

  auto queue = store();
  ASSERT_EQ(queue.names(), (Names{"a", "b", "c"}));
  DiziZozFileBackedQueue::Discarded discarded;
  Names contents;
  for (auto& record : queue.peekNamed(3, &discarded)) contents.push_back(record.contents);
  EXPECT_EQ(contents, (Names{"A", "C"}));
  EXPECT_EQ(discarded.*GetParam().cause, 1u);
  EXPECT_EQ(discarded.oversized + discarded.notRegularFile + discarded.unreadable, 1u);
  EXPECT_EQ(queue.names(), (Names{"a", "c"}));
  std::error_code ec;
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "b", ec)));
  EXPECT_EQ(readFile(outside), "not ours");
  EXPECT_EQ(countLines(log, "[DiziZoz] File " + url(folder / "b") + " is corrupted "), 1);
}

const StrayEntryCase strayEntryCases[] = {
    {"fifo", [](const fs::path& path, const fs::path&) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
     &DiziZozFileBackedQueue::Discarded::notRegularFile},
    {"directory",
     [](const fs::path& path, const fs::path&) {
       fs::create_directory(path);
       writeFile(path / "inner", "x");
     },
     &DiziZozFileBackedQueue::Discarded::notRegularFile},
    {"symbolic link to a file",
     [](const fs::path& path, const fs::path& outside) { fs::create_symlink(outside, path); },
     &DiziZozFileBackedQueue::Discarded::notRegularFile},
    {"file over the size cap",
     [](const fs::path& path, const fs::path&) {
       writeFile(path, "{}");
       fs::resize_file(path, DiziZozFileBackedQueue::maxRecordBytes + 1);
     },
     &DiziZozFileBackedQueue::Discarded::oversized},
};
INSTANTIATE_TEST_SUITE_P(Entries, StrayEntryTest, testing::ValuesIn(strayEntryCases),
                         quorvelle::test::NamedCase());

TEST_F(FileBackedQueueTest, PopAndDeleteAtTakeNamesAndFiles) {
  auto two = store();
  two.add("A");
  two.add("B");
  two.pop(5);
  EXPECT_EQ(two.depth(), 0u);
  EXPECT_EQ(entries(folder), Names{}) << "pop past the end deletes what there is";

  two.deleteAt(0);
  EXPECT_EQ(two.depth(), 0u) << "deleting from an empty list does nothing";

  for (const char* contents : {"A", "B", "C", "D"}) two.add(contents);
  const Names names = two.names();
  two.deleteAt(1);
  two.deleteAt(3);
  EXPECT_EQ(two.names(), (Names{names[0], names[2], names[3]}));
  two.pop(1);
  two.deleteAt(1);
  EXPECT_EQ(two.names(), Names{names[2]});
  EXPECT_EQ(entries(folder), Names{names[2]});

  // The name leaves the list even when its file cannot be deleted.
  files.fail(Operation::remove, names[2], std::errc::io_error);
  two.pop(1);
  EXPECT_EQ(two.depth(), 0u);
  EXPECT_TRUE(log.has("[DiziZoz] Error trying to delete file " + (folder / names[2]).string() + " " +
                      std::make_error_code(std::errc::io_error).message()));
}

TEST_F(FileBackedQueueTest, AFailedWriteLosesOnlyThatRecord) {
  struct Case {
    const char* name;
    std::optional<std::errc> injected;
    std::size_t size;
    std::string line;
  };
  const Case cases[] = {
      {"disk full", std::errc::no_space_on_device, 2, "No space left on device"},
      {"input/output error", std::errc::io_error, 2, "Input/output error"},
      {"record over the size cap", std::nullopt, DiziZozFileBackedQueue::maxRecordBytes + 1,
       "over the size cap"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto queue = store();
    queue.clear();
    queue.add("before");
    if (c.injected) files.fail(Operation::write, "*", *c.injected);
    queue.add(std::string(c.size, 'x'));
    EXPECT_EQ(queue.depth(), 1u);
    EXPECT_EQ(entries(folder).size(), 1u);
    EXPECT_TRUE(log.has("[DiziZoz] Could not write file " + c.line)) << log.lines.back();
    files.heal();
    queue.add("after");
    EXPECT_EQ(queue.peek(5), (Names{"before", "after"}));
  }
}

TEST_F(FileBackedQueueTest, AFolderThatCannotBeMadeOrListedIsLogged) {
  files.fail(Operation::createDirectories, "dizizoz.queueFolder.uuid", std::errc::read_only_file_system);
  files.fail(Operation::list, "dizizoz.queueFolder.uuid", std::errc::read_only_file_system);
  auto queue = store();
  EXPECT_EQ(queue.depth(), 0u);
  EXPECT_TRUE(log.has("[DiziZoz] Error trying to create caching folder Read-only file system"));
  EXPECT_TRUE(log.has("[DiziZoz] Failed to load files for queue Read-only file system"));
}

TEST_F(FileBackedQueueTest, ClearLeavesAnExistingEmptyFolder) {
  auto queue = store();
  queue.add("A");
  queue.add("B");
  queue.clear();
  EXPECT_EQ(queue.depth(), 0u);
  ASSERT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(entries(folder), Names{});
}

TEST_F(FileBackedQueueTest, AnOldQueueFolderIsMovedInAndRemovedOnceEveryFileMoved) {
  const fs::path old = dir / "project" / "dizizoz.queueFolder";
  fs::create_directories(old);
  writeFile(old / "f1", "one");
  writeFile(old / "f2", "two");
  files.fail(Operation::move, "f2", std::errc::io_error);

  auto first = store({old});
  EXPECT_EQ(first.names(), Names{"f1"});
  EXPECT_TRUE(log.has("[DiziZoz] Failed to migrate file f2: Input/output error"));
  ASSERT_TRUE(fs::is_directory(old)) << "a file that could not move keeps its folder for the next start";
  EXPECT_EQ(entries(old), Names{"f2"});

  files.heal();
  auto second = store({old});
  EXPECT_EQ(entries(folder), (Names{"f1", "f2"}));
  EXPECT_EQ(readFile(folder / "f2"), "two");
  EXPECT_FALSE(fs::exists(old));
  EXPECT_EQ(second.depth(), 2u);

  // A folder that cannot be listed is kept as well.
  fs::create_directories(old);
  writeFile(old / "f3", "three");
  files.fail(Operation::list, "dizizoz.queueFolder", std::errc::permission_denied);
  store({old});
  EXPECT_TRUE(log.has("[DiziZoz] Failed to read queue folder Permission denied"));
  EXPECT_EQ(entries(old), Names{"f3"});
}

struct PlistCase {
  const char* name;
  std::string contents;
  std::vector<std::pair<std::string, Value>> files;  // name, content
  const char* line = nullptr;
};
void PrintTo(const PlistCase& c, std::ostream* os) {
  *os << c.name;
}

class OldPlistTest : public FileBackedQueueTest, public testing::WithParamInterface<PlistCase> {};

// The old single-file queue holds JSON despite its name: each object becomes one file named by its
// timestamp in seconds, and the old file goes.
TEST_P(OldPlistTest, IsMigratedAndRemoved) {
  const auto& c = GetParam();
  const fs::path old = dir / "project" / "dizizoz.queue.plist";
  fs::create_directories(old.parent_path());
  writeFile(old, c.contents);

  auto queue = store({old});
  Names expectedNames;
  for (const auto& [name, content] : c.files) {
    expectedNames.push_back(name);
    EXPECT_EQ(readFile(folder / name), content.dump()) << name;
  }
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(entries(folder), expectedNames);
  EXPECT_EQ(queue.depth(), expectedNames.size());
  EXPECT_FALSE(fs::exists(old));
  if (c.line) {
    EXPECT_TRUE(log.has(c.line));
  }
}

const Value eventA{{"event", "a"}, {"timestamp", "2024-01-02T03:04:05.678Z"}};
const Value eventB{{"event", "b"}, {"timestamp", "2024-01-02T03:04:06Z"}};
const Value eventC{{"event", "c"}, {"timestamp", "2024-01-02T03:04:05.678Z"}};
const Value untimed{{"event", "d"}, {"timestamp", 17}};
const Value unparsable{{"event", "e"}, {"timestamp", "yesterday"}};

const PlistCase plistCases[] = {
    {"two timestamps",
     Value::array({eventA, 5, "text", eventB}).dump(),
     {{"1704164645.678", eventA}, {"1704164646.0", eventB}}},
    {"one timestamp twice",
     Value::array({eventA, eventC}).dump(),
     {{"1704164645.678", eventA}, {"1704164645.678-1", eventC}}},
    // The manual clock's time, 2024-01-01T00:00:00Z, for a timestamp that is not text or not a date.
    {"no usable timestamp",
     Value::array({untimed, unparsable}).dump(),
     {{"1704067200.0", untimed}, {"1704067200.0-1", unparsable}}},
    {"an object instead of an array",
     Value{{"event", "a"}}.dump(),
     {},
     "[DiziZoz] Failed to migrate queue: invalid data format"},
    {"not JSON", "{\"half\":", {}, nullptr},
};
INSTANTIATE_TEST_SUITE_P(Contents, OldPlistTest, testing::ValuesIn(plistCases), quorvelle::test::NamedCase());

TEST_F(FileBackedQueueTest, AnOldPlistThatCannotBeFullyWrittenIsKeptAndMigratedAgainWithoutDuplicates) {
  const fs::path old = dir / "project" / "dizizoz.queue.plist";
  fs::create_directories(old.parent_path());
  writeFile(old, Value::array({eventA, eventB}).dump());
  files.fail(Operation::write, "1704164646.0", std::errc::no_space_on_device);

  store({old});
  EXPECT_EQ(entries(folder), Names{"1704164645.678"});
  EXPECT_TRUE(log.has("[DiziZoz] Failed to migrate queue No space left on device"));
  ASSERT_TRUE(fs::exists(old)) << "the unwritten record is only in the old file";

  files.heal();
  auto queue = store({old});
  EXPECT_EQ(entries(folder), (Names{"1704164645.678", "1704164646.0"}));
  EXPECT_FALSE(fs::exists(old));
}

// The events stream names both older layouts, folder first; the store takes in both.
TEST_F(FileBackedQueueTest, TheEventsStreamMigratesBothOlderLayouts) {
  const auto endpoint = QueueEndpoint<DiziZozEvent>::batch(nullptr);
  const fs::path project = dir / "project";
  fs::create_directories(project / DiziZozStorage::rawValue(DiziZozStorage::StorageKey::oldQueueFolder));
  writeFile(project / "dizizoz.queueFolder" / "old-file", "{}");
  writeFile(project / "dizizoz.queue.plist", Value::array({eventA}).dump());

  std::vector<fs::path> oldQueues;
  for (auto key : endpoint.oldStorageKeys) oldQueues.push_back(project / DiziZozStorage::rawValue(key));
  DiziZozFileBackedQueue queue(project / DiziZozStorage::rawValue(endpoint.storageKey), oldQueues);

  EXPECT_EQ(entries(folder), (Names{"1704164645.678", "old-file"}));
  EXPECT_EQ(queue.depth(), 2u);
  EXPECT_EQ(entries(project), Names{"dizizoz.queueFolder.uuid"});
}

}  // namespace
