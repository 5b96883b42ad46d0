#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/errortracking/DiziZozExceptionStepsBuffer.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::Properties;

// Eight threads read the same flags while a ninth changes their values: each (flag, value) pair is
// reported exactly once, however the reads interleave.
TEST(FeatureFlagStress, EachValueIsReportedOnceAcrossThreads) {
  dizizoz::test::registerFakeIntegrations();
  dizizoz::test::TestServices ts;
  auto options = std::make_shared<dizizoz::DiziZozConfig>("phc_flags_stress");
  options->disableFlushOnBackgroundForTesting = true;
  auto client = ts.client(options);
  client->setup(options);
  auto remote = ts.lastRemoteConfig();
  remote->setFlags({{"a", "v0"}, {"b", true}});

  std::atomic<bool> done = false;
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      while (!done) {
        client->getFeatureFlag("a");
        client->isFeatureEnabled("b");
      }
    });
  }
  for (int i = 1; i <= 300; ++i) {
    remote->setFlags({{"a", "v" + std::to_string(i % 3)}, {"b", i % 2 == 0}});
    std::this_thread::yield();
  }
  done = true;
  for (auto& reader : readers) reader.join();

  std::vector<std::pair<std::string, std::string>> reported;
  for (const auto& e : ts.lastEventQueue()->records()) {
    if (e.event != "$feature_flag_called") continue;
    reported.emplace_back(e.properties["$feature_flag"].get<std::string>(),
                          e.properties["$feature_flag_response"].dump());
  }
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(std::adjacent_find(reported.begin(), reported.end()), reported.end()) << "a pair reported twice";
  EXPECT_LE(reported.size(), 5u) << "a: v0, v1, v2; b: true, false";
}

// Steps added from several threads reach the subscriber in the order the buffer took them: the last list
// published is the buffer's final content.
TEST(ExceptionStepsStress, TheLastPublishedListIsTheFinalOne) {
  std::mutex lock;
  std::vector<Properties> lastPublished;
  dizizoz::DiziZozExceptionStepsBuffer buffer(1024, [&](const std::vector<Properties>& steps) {
    std::lock_guard guard(lock);
    lastPublished = steps;
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 8; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        buffer.add(Properties{{"$message", "step"}, {"$timestamp", "t"}, {"t", t}, {"i", i}});
    });
  }
  for (auto& writer : writers) writer.join();
  std::lock_guard guard(lock);
  EXPECT_EQ(lastPublished, buffer.getAttachable());
  EXPECT_FALSE(lastPublished.empty());
}

}  // namespace
