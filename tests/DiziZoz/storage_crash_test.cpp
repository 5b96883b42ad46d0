#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "tests/support/TestEnvironment.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozStorage;
using dizizoz::DiziZozStorageLocation;
using dizizoz::Value;
using Key = DiziZozStorage::StorageKey;

constexpr std::size_t valueSize = 64 * 1024;
// One key of each stored form: a wrapped scalar, an object, an array.
constexpr std::array<Key, 3> keys{Key::anonymousId, Key::registerProperties, Key::pushSubscription};

Value valueFor(Key key, int generation) {
  std::string text(valueSize, static_cast<char>('a' + generation % 26));
  if (key == Key::registerProperties) return Value{{"generation", generation}, {"text", text}};
  if (key == Key::pushSubscription) return Value::array({generation, text});
  return text;
}

// What getJson() reads back after setJson(key, valueFor(key, generation)).
Value storedFormOf(Key key, int generation) {
  Value value = valueFor(key, generation);
  if (value.is_structured()) return value;
  return Value{{std::string(DiziZozStorage::rawValue(key)), std::move(value)}};
}

std::size_t hiddenEntries(const std::filesystem::path& folder) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(".")) ++count;
  return count;
}

// The writer dies while a key file is half written, at a byte the test chooses, every time: a child
// process whose file-size limit is that byte is killed by SIGXFSZ when its write reaches it. Whatever the
// byte, the key must still read as the old value, whole.
TEST(StorageCrashTest, AWriterKilledInTheMiddleOfAKeyFileLeavesTheOldValueWhole) {
  quorvelle::test::TempDir dir;
  DiziZozStorageLocation location;
  location.applicationSupport = dir / "com.quorvelle.app";
  location.bundleIdentifier = "com.quorvelle.app";
  DiziZozConfig config("phc_token");
  auto storage = DiziZozStorage::open(config, location);
  ASSERT_TRUE(storage);
  for (Key key : keys) storage->setJson(key, valueFor(key, 0));

  const rlim_t killedAt[] = {0, 1, 4096, valueSize / 2, valueSize};
  for (Key key : keys) {
    for (rlim_t limit : killedAt) {
      SCOPED_TRACE(std::string(DiziZozStorage::caseName(key)) + " killed at byte " + std::to_string(limit));
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        signal(SIGXFSZ, SIG_DFL);
        const rlimit fileSize{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) _exit(2);
        storage->setJson(key, valueFor(key, 1));
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the writer must die mid-write";
      EXPECT_EQ(storage->getJson(key), storedFormOf(key, 0));
    }
  }
  // What the killed writers left behind does not stand in the way of the next write, and the next start
  // removes it.
  for (Key key : keys) {
    storage->setJson(key, valueFor(key, 2));
    EXPECT_EQ(storage->getJson(key), storedFormOf(key, 2)) << DiziZozStorage::caseName(key);
  }
  EXPECT_GT(hiddenEntries(storage->appFolderUrl()), 0u) << "the killed writers left no temporary";
  auto next = DiziZozStorage::open(config, location);
  ASSERT_TRUE(next);
  EXPECT_EQ(hiddenEntries(next->appFolderUrl()), 0u);
  for (Key key : keys) EXPECT_EQ(next->getJson(key), storedFormOf(key, 2)) << DiziZozStorage::caseName(key);
}

}  // namespace
