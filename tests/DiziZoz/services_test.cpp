#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozContext.h"
#include "DiziZoz/core/DiziZozMemoryQueue.h"
#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozMemoryQueue;
using dizizoz::DiziZozSDK;
using dizizoz::DiziZozServices;

TEST(MemoryQueue, KeepsTheNewestRecordsWithinItsSize) {
  DiziZozMemoryQueue<int> queue(2);
  for (int i = 1; i <= 3; ++i) queue.add(i);
  EXPECT_EQ(queue.records(), (std::vector<int>{2, 3}));
  queue.flush();
  EXPECT_EQ(queue.depth(), 2u) << "nothing is sent";

  DiziZozMemoryQueue<int> tiny(0);
  tiny.add(1);
  tiny.add(2);
  EXPECT_EQ(tiny.records(), std::vector<int>{2}) << "a size below 1 keeps one record";
}

TEST(Services, InertRecordKeepsEventsInMemoryWithoutNetworkParts) {
  auto config = std::make_shared<DiziZozConfig>("phc_inert");
  config->maxQueueSize = 5;
  auto client = DiziZozSDK::create(config, DiziZozServices::inert());
  client->setup(config);

  ASSERT_TRUE(client->isEnabled());
  EXPECT_FALSE(client->reachability());
  EXPECT_FALSE(client->pushSubscriptionHandler());
  EXPECT_TRUE(client->remoteConfig()->getFeatureFlags().empty());
  auto* events = dynamic_cast<DiziZozMemoryQueue<dizizoz::DiziZozEvent>*>(client->queue().get());
  ASSERT_NE(events, nullptr);
  EXPECT_TRUE(client->logsQueue());
  EXPECT_TRUE(client->replayQueue());
  // Files go to the standard location: the data folder of an application without a bundle identifier.
  const std::filesystem::path data = std::getenv("XDG_DATA_HOME");
  EXPECT_EQ(client->storage()->appFolderUrl(), data / "com.dizizoz.unknown" / "phc_inert");
  EXPECT_EQ(client->context()->staticContext()["$os_name"], "Linux");
}

TEST(Services, SharedClientUsesTheRecordInstalledBeforeItsFirstUse) {
  dizizoz::test::TestServices ts;
  EXPECT_TRUE(DiziZozServices::install(ts.services()));

  const auto& shared = DiziZozSDK::shared();
  EXPECT_EQ(&DiziZozSDK::shared(), &shared);
  EXPECT_FALSE(shared->isEnabled());
  EXPECT_EQ(&dizizoz::DiziZozSessionManager::shared(), &shared->sessionManager());
  EXPECT_FALSE(DiziZozServices::install(DiziZozServices::inert())) << "too late once shared exists";

  auto config = std::make_shared<DiziZozConfig>("phc_shared");
  shared->setup(config);
  EXPECT_EQ(shared->queue(), ts.lastEventQueue());
  EXPECT_EQ(shared->services().clock.get(), &ts.clock);
}

}  // namespace
