#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/HedgeLog.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozSDK;
using dizizoz::DiziZozStorage;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using dizizoz::test::TestServices;
using Key = DiziZozStorage::StorageKey;

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int count(const std::vector<std::string>& entries, const std::string& entry) {
  return static_cast<int>(std::count(entries.begin(), entries.end(), entry));
}

class OptOutAndCloseTest : public ::testing::Test {
 protected:
  OptOutAndCloseTest() { dizizoz::test::registerFakeIntegrations(); }
  ~OptOutAndCloseTest() override { dizizoz::setHedgeLogEnabled(false); }

  std::shared_ptr<DiziZozConfig> config(const std::string& suffix = "") {
    auto options = std::make_shared<DiziZozConfig>(
        "phc_oo_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + suffix);
    options->debug = true;
    options->disableFlushOnBackgroundForTesting = true;
    return options;
  }
  std::shared_ptr<DiziZozSDK> setUp(const std::shared_ptr<DiziZozConfig>& options) {
    auto client = ts.client(options);
    client->setup(options);
    return client;
  }
  std::shared_ptr<DiziZozStorage> files(const DiziZozConfig& options) {
    return DiziZozStorage::open(options, ts.location());
  }
  std::vector<std::string> eventNames() const {
    std::vector<std::string> names;
    for (const auto& e : ts.lastEventQueue()->records()) names.push_back(e.event);
    return names;
  }

  TestServices ts;
};

TEST_F(OptOutAndCloseTest, OptOutIsPersistedAndSurvivesANewClient) {
  auto options = config();
  auto client = setUp(options);
  auto push = ts.lastPushHandler();
  ASSERT_FALSE(client->isOptOut());
  ASSERT_EQ(client->installedIntegrations().size(), 3u);

  client->optOut();
  client->optOut();
  EXPECT_TRUE(client->isOptOut());
  EXPECT_EQ(files(*options)->getTypedValue<bool>(Key::optOut), true);
  EXPECT_EQ(count(push->calls.entries(), "optOut"), 1) << "the second call changes nothing";
  EXPECT_TRUE(client->installedIntegrations().empty());
  client->capture("refused");
  EXPECT_TRUE(eventNames().empty());

  // The next launch starts opted out although its options say otherwise.
  auto next = config();
  ASSERT_FALSE(next->optOut);
  auto again = setUp(next);
  EXPECT_TRUE(again->isOptOut());
  EXPECT_TRUE(again->installedIntegrations().empty());

  int notices = 0;
  auto subscription = again->onEventContextChanged.subscribe([&](const Properties&) { ++notices; });
  again->optIn();
  EXPECT_FALSE(again->isOptOut());
  EXPECT_EQ(files(*next)->getTypedValue<bool>(Key::optOut), false);
  EXPECT_EQ(again->installedIntegrations().size(), 3u);
  EXPECT_EQ(notices, 1);
  again->capture("allowed");
  EXPECT_EQ(eventNames(), std::vector<std::string>{"allowed"});
}

TEST_F(OptOutAndCloseTest, OptInOnAFreshClientChangesNothing) {
  auto options = config();
  auto client = setUp(options);
  int notices = 0;
  auto subscription = client->onEventContextChanged.subscribe([&](const Properties&) { ++notices; });
  const auto built = ts.factoryLog->entries();
  client->optIn();
  EXPECT_EQ(notices, 0);
  EXPECT_FALSE(files(*options)->getData(Key::optOut)) << "nothing stored";
  EXPECT_EQ(ts.factoryLog->entries(), built);
  EXPECT_EQ(client->installedIntegrations().size(), 3u);

  // Before set-up a client counts as opted out and refuses both switches.
  auto other = ts.client(config("unset"));
  CapturedLog log;
  EXPECT_TRUE(other->isOptOut());
  other->optOut();
  other->optIn();
  EXPECT_EQ(log.lines, std::vector<std::string>(3, std::string(DiziZozSDK::notSetUpMessage)));
}

TEST_F(OptOutAndCloseTest, FlushIgnoresTheOptOut) {
  auto options = config();
  auto client = setUp(options);
  client->capture("queued");
  client->optOut();
  ts.lastPushHandler()->calls.clear();
  client->flush();
  EXPECT_EQ(ts.lastEventQueue()->flushes(), 1);
  EXPECT_EQ(ts.lastReplayQueue()->innerQueue().flushes(), 1);
  EXPECT_EQ(ts.lastLogsQueue()->flushes(), 1);
  EXPECT_EQ(ts.lastPushHandler()->calls.entries(), std::vector<std::string>{"retryIfNeeded"});
}

TEST_F(OptOutAndCloseTest, FlagReadWhileOptedOutIsNotReportedAgainUntilReset) {
  auto options = config();
  auto client = setUp(options);
  ts.lastRemoteConfig()->setFlags({{"beta", true}});
  client->optOut();
  EXPECT_EQ(client->getFeatureFlag("beta"), true);
  client->optIn();
  EXPECT_EQ(client->getFeatureFlag("beta"), true);
  EXPECT_EQ(count(eventNames(), "$feature_flag_called"), 0);

  client->reset();
  ts.lastRemoteConfig()->setFlags({{"beta", true}});
  EXPECT_EQ(client->getFeatureFlag("beta"), true);
  EXPECT_EQ(count(eventNames(), "$feature_flag_called"), 1);
}

TEST_F(OptOutAndCloseTest, ResetKeepsTheInMemoryOptOut) {
  auto options = config();
  auto client = setUp(options);
  client->optOut();
  client->reset();
  EXPECT_TRUE(client->isOptOut());
  EXPECT_FALSE(files(*options)->getData(Key::optOut)) << "the next launch falls back to the options";
}

TEST_F(OptOutAndCloseTest, CloseDropsThePartsKeepsTheFilesAndSetupStartsAgain) {
  auto options = config();
  auto client = setUp(options);
  client->identify("user-d");
  client->registerProperties(Properties{{"tier", 1}});
  client->screen("Home");
  auto queue = ts.lastEventQueue();
  auto replay = ts.lastReplayQueue();
  auto logs = ts.lastLogsQueue();
  auto reachability = ts.lastReachability();
  const auto stepsBuffer = client->installedIntegrations();
  ASSERT_EQ(stepsBuffer.size(), 3u);

  client->close();

  EXPECT_FALSE(client->isEnabled());
  EXPECT_EQ(queue->stops(), 1);
  EXPECT_EQ(replay->innerQueue().stops(), 1);
  EXPECT_EQ(logs->stops(), 1);
  EXPECT_EQ(reachability->stops, 1);
  EXPECT_FALSE(client->queue());
  EXPECT_FALSE(client->replayQueue());
  EXPECT_FALSE(client->logsQueue());
  EXPECT_FALSE(client->storage());
  EXPECT_FALSE(client->remoteConfig());
  EXPECT_FALSE(client->reachability());
  EXPECT_FALSE(client->context());
  EXPECT_FALSE(client->pushSubscriptionHandler());
  EXPECT_FALSE(client->logger());
  EXPECT_TRUE(client->installedIntegrations().empty());
  EXPECT_FALSE(options->storageManager);
  EXPECT_EQ(client->config()->projectToken(), "");
  EXPECT_FALSE(client->sessionManager().getSessionId(true));
  EXPECT_FALSE(dizizoz::hedgeLogEnabled()) << "diagnostics of every client stop";
  EXPECT_EQ(files(*options)->getTypedValue<std::string>(Key::distinctId), "user-d") << "files stay";

  // A set-up with the same token runs fully and resumes the project's files.
  auto next = config();
  CapturedLog log;
  client->setup(next);
  ASSERT_TRUE(client->isEnabled());
  EXPECT_FALSE(contains(
      log.lines, "[DiziZoz] Project token: " + next->projectToken() + " already has a DiziZoz instance."));
  EXPECT_NE(ts.lastEventQueue(), queue);
  EXPECT_EQ(client->storage()->appFolderUrl(), files(*options)->appFolderUrl());
  EXPECT_EQ(client->getDistinctId(), "user-d");
  client->capture("again");
  const auto again = ts.lastEventQueue()->records().back();
  EXPECT_EQ(again.properties["tier"], 1);
  EXPECT_FALSE(again.properties.contains("$screen_name")) << "the last screen was forgotten";
}

TEST_F(OptOutAndCloseTest, SilenceAfterCloseUntilASetupWithDebug) {
  auto first = setUp(config("a"));
  auto second = setUp(config("b"));
  first->close();
  std::vector<std::string> lines;
  auto previous = dizizoz::setHedgeLogSink([&](std::string_view line) { lines.emplace_back(line); });
  first->capture("refused");
  second->identify("");
  first->close();
  EXPECT_TRUE(lines.empty());

  auto options = config("c");
  options->debug = true;
  auto third = setUp(options);
  first->capture("refused");
  EXPECT_EQ(lines.back(), DiziZozSDK::notSetUpMessage);
  dizizoz::setHedgeLogSink(previous);
}

TEST_F(OptOutAndCloseTest, WithMakesAFurtherIndependentClient) {
  auto options = config();
  auto client = DiziZozSDK::with(options, ts.services());
  ASSERT_TRUE(client->isEnabled());
  EXPECT_NE(client, DiziZozSDK::shared());

  CapturedLog log;
  auto twin = DiziZozSDK::with(config(), ts.services());
  EXPECT_TRUE(twin->isEnabled());
  EXPECT_TRUE(contains(
      log.lines, "[DiziZoz] Project token: " + options->projectToken() + " already has a DiziZoz instance."));
  twin->close();
  EXPECT_TRUE(client->isEnabled()) << "closing one client leaves the other";
}

}  // namespace
