// The settings store under threads: readers and writers on several threads while its own thread writes
// the file. ThreadSanitizer reports any unordered access to the values or the write bookkeeping.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/FileUserDefaults.h"
#include "tests/support/TestEnvironment.h"

namespace {

TEST(FileUserDefaultsStress, ChangesFromSeveralThreadsAllReachTheFile) {
  const quorvelle::test::TempDir dir;
  const auto file = dir / "settings.json";
  constexpr int kThreads = 4;
  constexpr int kChanges = 300;
  std::atomic<int> writes = 0;
  {
    platform::FileUserDefaults defaults(file);
    defaults.setWriteObserver([&] { ++writes; });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&defaults, t] {
        const std::string key = "key" + std::to_string(t);
        for (int i = 0; i < kChanges; ++i) {
          defaults.set(key, i);
          if (i % 7 == 0) defaults.remove("gone" + std::to_string(t));
          if (i % 50 == 0) defaults.synchronize();
          EXPECT_EQ(defaults.integerForKey(key), i);
          (void)defaults.dictionaryRepresentation();
        }
      });
    }
    for (auto& thread : threads) thread.join();
    defaults.flush();
  }
  EXPECT_GT(writes.load(), 0);
  const platform::FileUserDefaults restarted(file);
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(restarted.integerForKey("key" + std::to_string(t)), kChanges - 1);
}

}  // namespace
