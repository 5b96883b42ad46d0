#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
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

// Big enough that a write is not over in an instant, small enough that many writes (and so many kill
// points between opening and finishing a file) happen in each round.
constexpr std::size_t valueSize = 64 * 1024;
constexpr std::array<Key, 3> keys{Key::anonymousId, Key::registerProperties, Key::pushSubscription};

Value valueFor(Key key, int generation) {
  std::string text(valueSize, static_cast<char>('a' + generation % 26));
  if (key == Key::registerProperties) return Value{{"generation", generation}, {"text", text}};
  if (key == Key::pushSubscription) return Value::array({generation, text});
  return text;
}

// A value some generation wrote whole: the text matches the generation everywhere and has its full length.
bool isWholeValue(Key key, const std::optional<Value>& stored) {
  if (!stored) return false;
  std::string text;
  int generation = -1;
  if (key == Key::registerProperties) {
    if (!stored->is_object() || !stored->contains("text") || !stored->contains("generation")) return false;
    text = (*stored)["text"];
    generation = (*stored)["generation"];
  } else if (key == Key::pushSubscription) {
    if (!stored->is_array() || stored->size() != 2) return false;
    generation = (*stored)[0];
    text = (*stored)[1];
  } else {
    if (!stored->is_object() || !stored->contains("dizizoz.anonymousId")) return false;
    text = (*stored)["dizizoz.anonymousId"];
    generation = text.empty() ? 0 : text[0] - 'a';
  }
  return generation >= 0 && text == std::string(valueSize, static_cast<char>('a' + generation % 26));
}

TEST(StorageCrashTest, KilledWriterLeavesEveryKeyFileOldOrNewNeverTorn) {
  quorvelle::test::TempDir dir;
  DiziZozStorageLocation location;
  location.applicationSupport = dir / "com.quorvelle.app";
  location.bundleIdentifier = "com.quorvelle.app";
  DiziZozConfig config("phc_token");
  auto storage = DiziZozStorage::open(config, location);
  ASSERT_TRUE(storage);
  for (Key key : keys) storage->setJson(key, valueFor(key, 0));

  for (int round = 0; round < 40; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      for (int generation = 1;; ++generation) {
        for (Key key : keys) storage->setJson(key, valueFor(key, generation));
        if (generation == 1) {
          const char byte = 1;
          if (write(ready[1], &byte, 1) != 1) _exit(2);
        }
      }
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    // Vary the moment of the kill from round to round so it lands at different points of a write.
    const timespec pause{0, (round % 10) * 300'000L};
    nanosleep(&pause, nullptr);
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer must die mid-run";

    for (Key key : keys) {
      EXPECT_TRUE(isWholeValue(key, storage->getJson(key)))
          << "round " << round << ": " << DiziZozStorage::caseName(key) << " is torn";
    }
  }
}

}  // namespace
