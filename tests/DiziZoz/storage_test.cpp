#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/HedgeLog.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/PeakMemory.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WithoutReadOverride.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozStorage;
using dizizoz::DiziZozStorageLocation;
using dizizoz::Value;
using Key = DiziZozStorage::StorageKey;

using dizizoz::test::CapturedLog;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

std::set<std::string> entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

class StorageTest : public ::testing::Test {
 protected:
  DiziZozStorageLocation location() const {
    DiziZozStorageLocation location;
    location.applicationSupport = dir / "support" / "com.quorvelle.app";
    location.bundleIdentifier = "com.quorvelle.app";
    return location;
  }
  std::shared_ptr<DiziZozStorage> open(const DiziZozStorageLocation& where) {
    auto storage = DiziZozStorage::open(config, where);
    EXPECT_TRUE(storage);
    return storage;
  }
  std::shared_ptr<DiziZozStorage> open() { return open(location()); }

  quorvelle::test::TempDir dir;
  DiziZozConfig config{"phc_token"};
};

TEST_F(StorageTest, KeysNameTheirFilesOneToOne) {
  const auto& keys = DiziZozStorage::allKeys();
  ASSERT_EQ(keys.size(), 31u);
  std::set<std::string_view> raws;
  for (Key key : keys) {
    raws.insert(DiziZozStorage::rawValue(key));
    EXPECT_EQ(DiziZozStorage::keyFromRawValue(DiziZozStorage::rawValue(key)), key);
  }
  EXPECT_EQ(raws.size(), 31u);
  EXPECT_EQ(DiziZozStorage::rawValue(Key::queue), "dizizoz.queueFolder.uuid");
  EXPECT_EQ(DiziZozStorage::rawValue(Key::replayQeueue), "dizizoz.replayFolder.uuid");
  EXPECT_EQ(DiziZozStorage::rawValue(Key::personProcessingEnabled), "dizizoz.enabledPersonProcessing");
  EXPECT_EQ(DiziZozStorage::caseName(Key::personProcessingEnabled), "personProcessingEnabled");
  EXPECT_EQ(DiziZozStorage::rawValue(Key::pushPendingUnregister), "dizizoz.pushPendingUnregister");
  EXPECT_FALSE(DiziZozStorage::keyFromRawValue("dizizoz.DistinctId"));
  EXPECT_FALSE(DiziZozStorage::keyFromRawValue("distinctId"));
}

TEST_F(StorageTest, FolderIsPerProjectUnderTheApplicationFolder) {
  auto storage = open();
  EXPECT_EQ(storage->appFolderUrl(), dir / "support" / "com.quorvelle.app" / "phc_token");
  EXPECT_TRUE(fs::is_directory(storage->appFolderUrl()));
  EXPECT_EQ(storage->url(Key::queue), storage->appFolderUrl() / "dizizoz.queueFolder.uuid");

  auto standard = DiziZozStorageLocation::standard(std::nullopt);
  EXPECT_EQ(standard.applicationSupport, fs::path(getenv("XDG_DATA_HOME")) / "com.dizizoz.unknown");
  EXPECT_EQ(DiziZozStorageLocation::standard("com.quorvelle.app").applicationSupport.filename(),
            "com.quorvelle.app");
}

TEST_F(StorageTest, ScalarsAreWrappedInAnObjectNamedAfterTheKey) {
  auto storage = open();
  storage->setJson(Key::distinctId, "user-1");
  storage->setJson(Key::optOut, true);
  storage->setJson(Key::evaluatedAt, 1700000000);
  storage->setJson(Key::groups, {{"company", "acme"}});
  storage->setJson(Key::pushSubscription, Value::array({1, "two"}));

  EXPECT_EQ(readFile(storage->url(Key::distinctId)), R"({"dizizoz.distinctId":"user-1"})");
  EXPECT_EQ(readFile(storage->url(Key::optOut)), R"({"dizizoz.optOut":true})");
  EXPECT_EQ(readFile(storage->url(Key::evaluatedAt)), R"({"dizizoz.evaluatedAt":1700000000})");
  EXPECT_EQ(readFile(storage->url(Key::groups)), R"({"company":"acme"})");
  EXPECT_EQ(readFile(storage->url(Key::pushSubscription)), R"([1,"two"])");

  EXPECT_EQ(storage->getTypedValue<std::string>(Key::distinctId), "user-1");
  EXPECT_EQ(storage->getTypedValue<bool>(Key::optOut), true);
  EXPECT_EQ(storage->getInt(Key::evaluatedAt), 1700000000);
  EXPECT_EQ(storage->getJson(Key::groups), (Value{{"company", "acme"}}));
  // No temporary file is left next to the keys.
  EXPECT_EQ(entries(storage->appFolderUrl()).size(), 5u);
}

TEST_F(StorageTest, TypedReadsOfStoredForms) {
  auto storage = open();
  struct Case {
    std::string file;
    std::optional<std::string> text;
    std::optional<bool> flag;
    std::optional<std::int64_t> integer;
  };
  const std::vector<Case> cases{
      {R"("bare")", "bare", {}, {}},
      {R"({"dizizoz.requestId":"wrapped"})", "wrapped", {}, {}},
      {R"({"dizizoz.requestId":true})", {}, true, {}},         // wrong type for text
      {R"({"dizizoz.requestId":"x","other":1})", {}, {}, {}},  // not all members text
      {R"({"other":"x"})", {}, {}, {}},                        // member missing
      {R"(false)", {}, false, {}},
      {R"(42)", {}, {}, 42},
      {R"(42.9)", {}, {}, 42},
      {R"({"dizizoz.requestId":-7})", {}, {}, -7},
      {R"({"dizizoz.requestId":1e300})", {}, {}, {}},
      {R"(not json)", {}, {}, {}},
      {R"([1,2])", {}, {}, {}},
  };
  for (const auto& c : cases) {
    writeFile(storage->url(Key::requestId), c.file);
    EXPECT_EQ(storage->getTypedValue<std::string>(Key::requestId), c.text) << c.file;
    EXPECT_EQ(storage->getTypedValue<bool>(Key::requestId), c.flag) << c.file;
    EXPECT_EQ(storage->getInt(Key::requestId), c.integer) << c.file;
  }
  // An unreadable file stays until the next write.
  EXPECT_TRUE(fs::exists(storage->url(Key::requestId)));
  EXPECT_FALSE(storage->getJson(Key::flags));
}

TEST_F(StorageTest, ValueWithoutJsonFormKeepsTheLastGoodFile) {
  auto storage = open();
  storage->setJson(Key::registerProperties, {{"plan", "pro"}});
  CapturedLog log;
  storage->setJson(Key::registerProperties, {{"when", dizizoz::value::date({})}});
  storage->setJson(Key::registerProperties, {{"ratio", std::nan("")}});
  EXPECT_EQ(storage->getJson(Key::registerProperties), (Value{{"plan", "pro"}}));
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_TRUE(log.lines[0].starts_with("[DiziZoz] Failed to serialize key 'registerProperties' error: "));

  storage->setData(Key::registerProperties, std::nullopt);
  EXPECT_FALSE(fs::exists(storage->url(Key::registerProperties)));
}

// Reads `key` on a thread of its own that may not read every file (as a user other than root). A reader
// still blocked after five seconds (on a FIFO) is released by opening the FIFO's other end, and reported.
struct KeyRead {
  std::optional<Value> value;
  DiziZozStorage::KeyFileState state = DiziZozStorage::KeyFileState::missing;
  bool blocked = false;
};
KeyRead readWithoutHanging(const DiziZozStorage& storage, Key key) {
  KeyRead read;
  std::promise<void> done;
  auto finished = done.get_future();
  std::thread reader([&] {
    const quorvelle::test::WithoutReadOverride unprivileged;
    read.value = storage.getJson(key, &read.state);
    done.set_value();
  });
  if (finished.wait_for(5s) != std::future_status::ready) {
    read.blocked = true;
    while (finished.wait_for(100ms) != std::future_status::ready) {
      const int fd = ::open(storage.url(key).c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
  }
  reader.join();
  return read;
}

// Only a regular key file of bounded size is read, opened without blocking and without following a link:
// a FIFO, a folder, a link, a 100 MB file or one the process may not read reads as absent at no cost in
// memory, is told apart from a missing file, and is left where it is.
TEST_F(StorageTest, KeyFilesThatAreNotSmallRegularFilesReadAsUnreadableAndStay) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& path, const fs::path& outside)> make;
  };
  const Case cases[] = {
      {"fifo", [](const fs::path& path, const fs::path&) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
      {"directory",
       [](const fs::path& path, const fs::path&) {
         fs::create_directory(path);
         writeFile(path / "inner", "{}");
       }},
      {"symbolic link",
       [](const fs::path& path, const fs::path& outside) { fs::create_symlink(outside, path); }},
      {"100 MB file",
       [](const fs::path& path, const fs::path&) {
         writeFile(path, "{}");
         fs::resize_file(path, 100u << 20);
       }},
      {"mode 000",
       [](const fs::path& path, const fs::path&) {
         writeFile(path, R"({"plan":"pro"})");
         fs::permissions(path, fs::perms::none);
       }},
  };
  const fs::path outside = dir / "outside";
  writeFile(outside, R"({"plan":"elsewhere"})");
  auto storage = open();
  const fs::path path = storage->url(Key::flags);
  EXPECT_EQ(readWithoutHanging(*storage, Key::flags).state, DiziZozStorage::KeyFileState::missing);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(path, outside);
    const auto type = fs::symlink_status(path).type();
    const quorvelle::test::PeakMemoryGrowth peak;
    const KeyRead read = readWithoutHanging(*storage, Key::flags);
    EXPECT_FALSE(read.blocked);
    EXPECT_FALSE(read.value.has_value());
    EXPECT_EQ(read.state, DiziZozStorage::KeyFileState::unreadable);
    if (const auto growth = peak.growthBytes()) {
      EXPECT_LT(*growth, 16u << 20);
    }
    EXPECT_EQ(fs::symlink_status(path).type(), type) << "left where it is";
    fs::remove_all(path);
  }
  EXPECT_EQ(readFile(outside), R"({"plan":"elsewhere"})");

  // What may be read may be written, and no more.
  storage->setJson(Key::flags, {{"plan", "pro"}});
  storage->setJson(Key::flags, {{"text", std::string(DiziZozStorage::maxKeyFileBytes, 'x')}});
  EXPECT_EQ(storage->getJson(Key::flags), (Value{{"plan", "pro"}}));
}

// A writer killed between making its temporary and renaming it leaves the temporary behind: opening the
// store removes those of writers that are gone, and never one of a writer still running.
TEST_F(StorageTest, OpeningRemovesTheTemporariesOfWritersThatAreGone) {
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const std::string running = std::to_string(::getpid());
  const std::string dead = std::to_string(gone);

  const fs::path folder = open()->appFolderUrl();
  for (const std::string& name : std::vector<std::string>{
           ".dizizoz.distinctId.writing-" + running + "-Ab12Cd",
           ".dizizoz.distinctId.writing-" + dead + "-Ab12Cd", ".dizizoz.flags.writing-Xy34Zw",
           ".notes.writing-" + dead + "-Ab12Cd", "dizizoz.flags"}) {
    writeFile(folder / name, "{}");
  }
  fs::create_directories(folder / (".dizizoz.queueFolder.uuid.migrating-" + dead + "-Qq11Rr") / "record");

  open();
  EXPECT_EQ(entries(folder), (std::set<std::string>{".dizizoz.distinctId.writing-" + running + "-Ab12Cd",
                                                    ".notes.writing-" + dead + "-Ab12Cd", "dizizoz.flags"}));
}

// A key file nested 100,000 levels deep reads as absent (no reader may overflow its stack on it), and such
// a value is never written.
TEST_F(StorageTest, ValuesNestedTooDeeplyAreNeitherReadNorWritten) {
  auto storage = open();
  storage->setJson(Key::registerProperties, {{"plan", "pro"}});
  const std::string deep = R"({"a":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}";
  CapturedLog log;
  writeFile(storage->url(Key::flags), deep);
  EXPECT_FALSE(storage->getJson(Key::flags).has_value());
  EXPECT_FALSE(storage->getTypedValue<std::string>(Key::flags).has_value());
  EXPECT_FALSE(storage->getInt(Key::flags).has_value());

  storage->setJson(Key::registerProperties, Value::parse(deep));
  EXPECT_EQ(storage->getJson(Key::registerProperties), (Value{{"plan", "pro"}}));
  EXPECT_FALSE(log.lines.empty());
}

// Every event reads the super properties and the groups: they are read from their files once, kept in
// memory and written through, so the files always hold the last value set and the next run reads it.
TEST_F(StorageTest, SuperPropertiesAndGroupsAreReadOnceAndWrittenThrough) {
  for (Key key : {Key::registerProperties, Key::groups}) {
    SCOPED_TRACE(DiziZozStorage::caseName(key));
    auto storage = open();
    const fs::path path = storage->url(key);
    writeFile(path, R"({"plan":"pro"})");
    EXPECT_EQ(storage->getJson(key), (Value{{"plan", "pro"}}));
    writeFile(path, R"({"plan":"changed behind the client"})");
    EXPECT_EQ(storage->getJson(key), (Value{{"plan", "pro"}})) << "kept since the first read";
    EXPECT_EQ(storage->getData(key), R"({"plan":"pro"})");

    storage->setJson(key, {{"plan", "team"}});
    EXPECT_EQ(readFile(path), R"({"plan":"team"})") << "written through";
    EXPECT_EQ(storage->getJson(key), (Value{{"plan", "team"}}));
    EXPECT_EQ(open()->getJson(key), (Value{{"plan", "team"}})) << "a new store reads the file";

    storage->reset(false);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(storage->getJson(key));
    storage->setJson(key, {{"plan", "solo"}});
    storage->remove(key);
    DiziZozStorage::KeyFileState state = DiziZozStorage::KeyFileState::readable;
    EXPECT_FALSE(storage->getJson(key, &state));
    EXPECT_EQ(state, DiziZozStorage::KeyFileState::missing);

    // A write that fails leaves the file as it was, and that is what reads give; a file that could not
    // be read is tried again at the next read.
    fs::create_directories(path / "inner");
    storage->setJson(key, {{"plan", "lost"}});
    EXPECT_FALSE(storage->getJson(key, &state));
    EXPECT_EQ(state, DiziZozStorage::KeyFileState::unreadable);
    fs::remove_all(path);
    writeFile(path, R"({"plan":"restored"})");
    EXPECT_EQ(storage->getJson(key), (Value{{"plan", "restored"}}));
    fs::remove(path);
  }
  auto storage = open();
  storage->setJson(Key::flags, {{"x", true}});
  writeFile(storage->url(Key::flags), R"({"x":false})");
  EXPECT_EQ(storage->getJson(Key::flags), (Value{{"x", false}})) << "other keys are read each time";
}

TEST_F(StorageTest, ResetDeletesIdentityAndFlagsButKeepsQueuesDeviceAndConfiguration) {
  const std::set<Key> survivors{Key::queue,     Key::replayQeueue,     Key::replayBufferQueue,
                                Key::logsQueue, Key::remoteConfig,     Key::evaluatedAt,
                                Key::deviceId,  Key::pushSubscription, Key::pushPendingUnregister};
  for (bool keepAnonymousId : {false, true}) {
    auto storage = open();
    for (Key key : DiziZozStorage::allKeys()) {
      // Folder keys get a record inside, so that a whole folder has to survive or go.
      if (key == Key::queue || key == Key::oldQueueFolder || key == Key::replayQeueue ||
          key == Key::oldReplayQueue || key == Key::replayBufferQueue || key == Key::logsQueue) {
        writeFile(storage->url(key) / "record", "{}");
      } else {
        storage->setJson(key, "v");
      }
    }
    storage->reset(keepAnonymousId);
    for (Key key : DiziZozStorage::allKeys()) {
      const bool kept = survivors.count(key) || (keepAnonymousId && key == Key::anonymousId);
      EXPECT_EQ(fs::exists(storage->url(key)), kept)
          << DiziZozStorage::caseName(key) << " keep=" << keepAnonymousId;
    }
    EXPECT_TRUE(fs::exists(storage->url(Key::queue) / "record"));
    // A second reset finds nothing to delete and says nothing.
    CapturedLog log;
    storage->reset(keepAnonymousId);
    dizizoz::deleteSafely(dir / "missing");
    EXPECT_TRUE(log.lines.empty());
  }
}

TEST_F(StorageTest, KeyFilesOfTheOlderLocationMoveInWithoutOverwriting) {
  const fs::path legacy = location().applicationSupport;
  const fs::path project = legacy / "phc_token";
  writeFile(legacy / "dizizoz.anonymousId", R"({"dizizoz.anonymousId":"old-anon"})");
  writeFile(legacy / "dizizoz.distinctId", R"({"dizizoz.distinctId":"old-distinct"})");
  writeFile(project / "dizizoz.distinctId", R"({"dizizoz.distinctId":"new-distinct"})");
  writeFile(legacy / "dizizoz.queueFolder" / "a.json", "{\"event\":\"a\"}");
  writeFile(legacy / "unrelated.txt", "kept");

  auto storage = open();
  EXPECT_EQ(storage->getTypedValue<std::string>(Key::anonymousId), "old-anon");
  EXPECT_EQ(storage->getTypedValue<std::string>(Key::distinctId), "new-distinct");  // the existing file wins
  EXPECT_EQ(readFile(project / "dizizoz.queueFolder" / "a.json"), "{\"event\":\"a\"}");
  EXPECT_EQ(entries(legacy), (std::set<std::string>{"phc_token", "unrelated.txt"}));  // old copies removed
  EXPECT_EQ(entries(project),
            (std::set<std::string>{"dizizoz.anonymousId", "dizizoz.distinctId", "dizizoz.queueFolder"}));
}

TEST_F(StorageTest, AnOlderKeyThatCannotBeCopiedStaysWhereItIs) {
  const fs::path legacy = location().applicationSupport;
  const fs::path queue = legacy / "dizizoz.queueFolder";
  writeFile(queue / "a.json", "{\"event\":\"a\"}");
  // A named pipe cannot be copied, so copying the folder fails part-way.
  ASSERT_EQ(::mkfifo((queue / "pipe").c_str(), 0600), 0);

  CapturedLog log;
  open();
  EXPECT_EQ(readFile(queue / "a.json"), "{\"event\":\"a\"}") << "the only copy of a queued event was deleted";
  EXPECT_FALSE(fs::exists(legacy / "phc_token" / "dizizoz.queueFolder"));
  ASSERT_FALSE(log.lines.empty());
  EXPECT_TRUE(
      log.lines.front().starts_with("[DiziZoz] Error during storage migration for file dizizoz.queueFolder"))
      << log.lines.front();
}

TEST_F(StorageTest, ProjectTokenSpelledLikeAKeyDoesNotSwallowItsOwnFolder) {
  DiziZozConfig named("dizizoz.queueFolder");
  const fs::path folder = location().applicationSupport / "dizizoz.queueFolder";
  writeFile(folder / "dizizoz.distinctId", R"("kept")");
  auto storage = DiziZozStorage::open(named, location());
  ASSERT_TRUE(storage);
  EXPECT_EQ(storage->getTypedValue<std::string>(Key::distinctId), "kept");
}

TEST_F(StorageTest, UnusableProjectTokensAreRefused) {
  for (const char* token : {"", "   ", "..", ".", "a/b", "/abs", "tab\there", "nul\x01"}) {
    CapturedLog log;
    DiziZozConfig bad(token);
    EXPECT_FALSE(DiziZozStorage::open(bad, location())) << token;
    EXPECT_EQ(log.lines.size(), 1u) << token;
  }
  EXPECT_TRUE(DiziZozStorage::isUsableProjectToken("phc_a.b-c"));
  EXPECT_TRUE(DiziZozStorage::isUsableProjectToken("..."));
  EXPECT_FALSE(fs::exists(dir / "support" / "com.quorvelle.app" / "b"));
  EXPECT_FALSE(fs::exists(dir / "support" / "abs"));
}

TEST_F(StorageTest, GroupContainerMergesTheLegacyBundleFolder) {
  const fs::path container = dir / "group";
  const fs::path groupSupport = container / "Library" / "Application Support";
  const fs::path legacy = groupSupport / "com.quorvelle.app";
  config.appGroupIdentifier = "group.quorvelle";
  auto where = location();
  where.groupContainer = [&](const std::string& id) -> std::optional<fs::path> {
    if (id != "group.quorvelle") return std::nullopt;
    return container;
  };

  for (bool extension : {false, true}) {
    fs::remove_all(container);
    writeFile(legacy / "phc_token" / "dizizoz.anonymousId", R"("legacy-anon")");
    writeFile(legacy / "phc_token" / "dizizoz.remoteConfig", R"({"a":1})");
    writeFile(groupSupport / "group.quorvelle" / "phc_token" / "dizizoz.remoteConfig", R"({"a":2})");
    where.isAppExtension = extension;
    CapturedLog log;
    auto storage = open(where);
    EXPECT_EQ(storage->appFolderUrl(), groupSupport / "group.quorvelle" / "phc_token");
    // An extension never takes over the application's identity; the remote configuration already there wins.
    EXPECT_EQ(storage->getTypedValue<std::string>(Key::anonymousId),
              extension ? std::nullopt : std::optional<std::string>("legacy-anon"));
    EXPECT_EQ(storage->getJson(Key::remoteConfig), (Value{{"a", 2}}));
    EXPECT_FALSE(fs::exists(legacy)) << "the emptied legacy folder is removed";
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.front(), "[DiziZoz] Legacy folder found at " + legacy.string() +
                                     (extension ? ", merging from extension... (skipping 7 identity keys)"
                                                : ", merging from main app... (migrating all keys)"));
  }
}

TEST_F(StorageTest, MigrateFileKeepsAnExistingDestination) {
  writeFile(dir / "from", "source");
  writeFile(dir / "to", "destination");
  EXPECT_FALSE(dizizoz::migrateFile(dir / "from", dir / "to", false));
  EXPECT_EQ(readFile(dir / "to"), "destination");
  EXPECT_FALSE(fs::exists(dir / "from"));

  writeFile(dir / "from", "source");
  EXPECT_FALSE(dizizoz::migrateFile(dir / "from", dir / "fresh", false));
  EXPECT_EQ(readFile(dir / "fresh"), "source");
  EXPECT_TRUE(dizizoz::migrateFile(dir / "gone", dir / "other", false)) << "a missing source is reported";

  fs::create_directories(dir / "empty");
  EXPECT_TRUE(dizizoz::removeIfEmpty(dir / "empty"));
  EXPECT_FALSE(dizizoz::removeIfEmpty(dir.path()));
  EXPECT_FALSE(dizizoz::removeIfEmpty(dir / "never-existed"));
}

}  // namespace
