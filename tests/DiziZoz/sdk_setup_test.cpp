#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/ApplicationLifecyclePublisher.h"
#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozContext.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/HedgeLog.h"
#include "platform/MainExecutor.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

namespace fs = std::filesystem;
using dizizoz::DiziZozBootstrapConfig;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozConnection;
using dizizoz::DiziZozPersonProfiles;
using dizizoz::DiziZozSDK;
using dizizoz::DiziZozStorage;
using dizizoz::DiziZozStorageManager;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using dizizoz::test::TestServices;
using Key = DiziZozStorage::StorageKey;

constexpr const char* notSetUp =
    "[DiziZoz] DiziZoz method was called without `setup` being complete. Call wil be ignored.";

class SdkSetupTest : public ::testing::Test {
 protected:
  SdkSetupTest() { dizizoz::test::registerFakeIntegrations(); }

  // Options with a project token of this test's own: the process remembers every token set up.
  std::shared_ptr<DiziZozConfig> config(const std::string& token = "phc_setup") {
    auto options = std::make_shared<DiziZozConfig>(token + "_" + testName());
    options->debug = true;
    return options;
  }
  static std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

  // The files of `config`'s project before any client opens them.
  std::shared_ptr<DiziZozStorage> files(const DiziZozConfig& config) {
    return DiziZozStorage::open(config, ts.location());
  }

  TestServices ts;
};

TEST_F(SdkSetupTest, BuildsItsPartsInOrderAndStartsTheQueues) {
  auto options = config();
  options->disableQueueTimerForTesting = true;
  auto client = ts.client(options);
  client->setup(options);

  ASSERT_TRUE(client->isEnabled());
  EXPECT_EQ(ts.factoryLog->entries(),
            (std::vector<std::string>{"api", "remoteConfig", "reachability", "pushHandler", "logsAttributes",
                                      "eventQueue", "replayQueue", "logsQueue", "events start",
                                      "replay start", "logs start", "logger", "stepsBuffer"}));
  EXPECT_EQ(ts.lastEventQueue()->starts().front().disableQueueTimerForTesting, true);
  EXPECT_EQ(client->queue(), ts.lastEventQueue());
  EXPECT_EQ(client->reachability(), ts.lastReachability());
  EXPECT_EQ(client->context()->dynamicContext().count("$network_wifi"), 1u)
      << "the context shares the monitor";
  ASSERT_TRUE(client->logger());
  EXPECT_EQ(client->logger()->sdk.lock(), client);

  // The identity exists from set-up on, the session has started and the push handler was asked to retry.
  EXPECT_FALSE(client->getDeviceId().empty());
  EXPECT_EQ(files(*options)->getTypedValue<std::string>(Key::deviceId), client->getDeviceId());
  EXPECT_TRUE(client->sessionManager().getSessionId(true));
  EXPECT_EQ(ts.lastPushHandler()->calls.entries(), (std::vector<std::string>{"context", "retryIfNeeded"}));
  EXPECT_EQ(client->config(), options);
  EXPECT_TRUE(options->storageManager);

  // The options switch on screen views, life-cycle events and push opening; error tracking stays off.
  std::vector<std::string> installed;
  for (const auto& integration : client->installedIntegrations()) {
    installed.push_back(dizizoz::integrationTypeName(*integration));
  }
  EXPECT_EQ(installed,
            (std::vector<std::string>{"DiziZozScreenViewIntegration", "DiziZozAppLifeCycleIntegration",
                                      "DiziZozPushNotificationOpenIntegration"}));
}

TEST_F(SdkSetupTest, StartNotificationArrivesOnceOnTheMainExecutorAfterSetupReturns) {
  int started = 0;
  bool onMain = false;
  auto observation = ts.notifications->addObserver("DiziZozDidStart", [&](const platform::Notification&) {
    ++started;
    onMain = ts.executor.isMainThread();
  });
  auto options = config();
  auto client = ts.client(options);
  client->setup(options);
  EXPECT_EQ(started, 0) << "posted asynchronously";
  client->setup(options);
  ts.executor.runUntilIdle();
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(onMain);
}

TEST_F(SdkSetupTest, SecondSetupChangesOnlyTheDebugSwitch) {
  auto options = config();
  auto client = ts.client(options);
  client->setup(options);
  const auto built = ts.factoryLog->entries();

  CapturedLog log;
  auto other = config("phc_other");
  client->setup(other);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"[DiziZoz] Setup called despite already being setup!"}));
  EXPECT_EQ(client->config(), options);
  EXPECT_EQ(ts.factoryLog->entries(), built);

  other->debug = false;
  client->setup(other);
  EXPECT_FALSE(dizizoz::hedgeLogEnabled()) << "a refused set-up still sets the diagnostic switch";
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(SdkSetupTest, RefusesTokensThatCannotNameItsFolder) {
  struct Case {
    const char* name;
    std::string token;
    const char* line;
  };
  const std::string empty = "[DiziZoz] DiziZoz SDK will be disabled because projectToken or apiKey is empty.";
  const std::string unsafe =
      "[DiziZoz] DiziZoz SDK will be disabled because projectToken cannot name a storage folder.";
  const Case cases[] = {
      {"empty", "", empty.c_str()},
      {"blank", " \t\n", empty.c_str()},
      {"slash", "phc/../../elsewhere", unsafe.c_str()},
      {"dot dot", "..", unsafe.c_str()},
      {"control character", "phc\x01token", unsafe.c_str()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = std::make_shared<DiziZozConfig>(c.token);
    options->debug = true;
    auto client = ts.client(options);
    CapturedLog log;
    client->setup(options);
    EXPECT_FALSE(client->isEnabled());
    EXPECT_EQ(client->getDistinctId(), "");
    EXPECT_EQ(log.lines, (std::vector<std::string>{c.line, notSetUp}));
    EXPECT_TRUE(ts.factoryLog->entries().empty());
    EXPECT_FALSE(client->storage());
    EXPECT_FALSE(options->storageManager);
  }
  EXPECT_FALSE(fs::exists(ts.folder / "elsewhere"));
}

TEST_F(SdkSetupTest, SecondClientWithTheSameTokenWarnsAndIsSetUp) {
  auto first = config();
  auto second = config();
  ASSERT_EQ(first->projectToken(), second->projectToken());
  auto a = ts.client(first);
  auto b = ts.client(second);

  CapturedLog log;
  a->setup(first);
  EXPECT_FALSE(
      log.has("[DiziZoz] Project token: " + first->projectToken() + " already has a DiziZoz instance."));
  b->setup(second);
  EXPECT_TRUE(
      log.has("[DiziZoz] Project token: " + first->projectToken() + " already has a DiziZoz instance."));
  EXPECT_TRUE(b->isEnabled());
  EXPECT_EQ(a->getDeviceId(), b->getDeviceId()) << "both read the project's files";
}

TEST_F(SdkSetupTest, StoredOptOutOverridesTheOptionsAndSkipsIntegrationsAndTheContextNotice) {
  auto options = config();
  files(*options)->setJson(Key::optOut, true);
  ASSERT_FALSE(options->optOut);
  int started = 0;
  auto observation =
      ts.notifications->addObserver("DiziZozDidStart", [&](const platform::Notification&) { ++started; });
  auto client = ts.client(options);
  int contextNotices = 0;
  auto subscription = client->onEventContextChanged.subscribe([&](const Properties&) { ++contextNotices; });

  client->setup(options);
  ts.executor.runUntilIdle();

  EXPECT_TRUE(options->optOut);
  EXPECT_TRUE(client->installedIntegrations().empty());
  EXPECT_EQ(contextNotices, 0);
  const auto built = ts.factoryLog->entries();
  EXPECT_EQ(std::count(built.begin(), built.end(), "stepsBuffer"), 0) << "no exception-steps buffer";
  EXPECT_EQ(ts.lastPushHandler()->calls.entries(), std::vector<std::string>{"retryIfNeeded"});
  // Still set up: queues started, a session, the start notification.
  EXPECT_EQ(ts.lastEventQueue()->starts().size(), 1u);
  EXPECT_EQ(ts.lastLogsQueue()->starts().size(), 1u);
  EXPECT_TRUE(client->sessionManager().getSessionId(true));
  EXPECT_EQ(started, 1);

  // A stored "false" opts a client back in whatever the options say.
  auto other = config("phc_in");
  other->optOut = true;
  files(*other)->setJson(Key::optOut, false);
  auto second = ts.client(other);
  second->setup(other);
  EXPECT_FALSE(other->optOut);
}

TEST_F(SdkSetupTest, ContextNoticeAtSetupCarriesTheIdentityAndTheContext) {
  auto options = config();
  auto client = ts.client(options);
  std::vector<Properties> notices;
  auto subscription =
      client->onEventContextChanged.subscribe([&](const Properties& p) { notices.push_back(p); });
  client->setup(options);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0]["distinct_id"], client->getDistinctId());
  EXPECT_EQ(notices[0]["event_properties"]["$os_name"], "Linux");
  EXPECT_EQ(notices[0]["event_properties"]["$session_id"], *client->sessionManager().getSessionId(true));

  // Each new session id is announced.
  client->sessionManager().resetSession();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[1]["event_properties"]["$session_id"], *client->sessionManager().getSessionId(true));
}

TEST_F(SdkSetupTest, BootstrapIdentityIsReconciledWithTheStoredOne) {
  struct Case {
    const char* name;
    std::optional<std::string> storedDistinctId;  // nothing: a fresh installation
    std::optional<bool> storedIdentified;
    std::optional<DiziZozBootstrapConfig> bootstrap;
    bool optOut;
    DiziZozPersonProfiles personProfiles;
    std::string expectedDistinctId;  // "anon": the anonymous id
    bool expectedIdentified;
    const char* expectedLine;  // or nothing
  };
  const std::string differs =
      "[DiziZoz] Bootstrap distinctId differs from an already-identified user. The existing identity is "
      "preserved. Call reset() before reinitializing to switch users.";
  const std::string optedOut = "[DiziZoz] DiziZoz is in OptOut state.";
  const auto identified = [](std::string id) { return DiziZozBootstrapConfig(std::move(id), true); };
  const Case cases[] = {
      {.name = "same id marks identified",
       .storedDistinctId = "user-1",
       .storedIdentified = false,
       .bootstrap = identified("user-1"),
       .optOut = false,
       .personProfiles = DiziZozPersonProfiles::identifiedOnly,
       .expectedDistinctId = "user-1",
       .expectedIdentified = true,
       .expectedLine = nullptr},
      {.name = "identified user keeps its id",
       .storedDistinctId = "user-1",
       .storedIdentified = true,
       .bootstrap = identified("user-2"),
       .optOut = false,
       .personProfiles = DiziZozPersonProfiles::identifiedOnly,
       .expectedDistinctId = "user-1",
       .expectedIdentified = true,
       .expectedLine = differs.c_str()},
      {.name = "opted out stores the id without an event",
       .storedDistinctId = std::nullopt,
       .storedIdentified = std::nullopt,
       .bootstrap = identified("user-3"),
       .optOut = true,
       .personProfiles = DiziZozPersonProfiles::identifiedOnly,
       .expectedDistinctId = "user-3",
       .expectedIdentified = true,
       .expectedLine = optedOut.c_str()},
      {.name = "opted out with person profiles never keeps the anonymous id",
       .storedDistinctId = std::nullopt,
       .storedIdentified = std::nullopt,
       .bootstrap = identified("user-4"),
       .optOut = true,
       .personProfiles = DiziZozPersonProfiles::never,
       .expectedDistinctId = "anon",
       .expectedIdentified = false,
       .expectedLine = optedOut.c_str()},
      {.name = "anonymous bootstrap changes nothing",
       .storedDistinctId = std::nullopt,
       .storedIdentified = std::nullopt,
       .bootstrap = DiziZozBootstrapConfig::anonymous("anon-5"),
       .optOut = false,
       .personProfiles = DiziZozPersonProfiles::identifiedOnly,
       .expectedDistinctId = "anon",
       .expectedIdentified = false,
       .expectedLine = nullptr},
      {.name = "blank id changes nothing",
       .storedDistinctId = std::nullopt,
       .storedIdentified = std::nullopt,
       .bootstrap = identified(" \n"),
       .optOut = false,
       .personProfiles = DiziZozPersonProfiles::identifiedOnly,
       .expectedDistinctId = "anon",
       .expectedIdentified = false,
       .expectedLine = nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = config("phc_boot" + std::to_string(n++));
    {
      // An existing installation, so that the identity cache does not apply the bootstrap itself.
      DiziZozConfig previous(options->projectToken());
      DiziZozStorageManager identity(previous, ts.location());
      identity.getAnonymousId();
      if (c.storedDistinctId) identity.setDistinctId(*c.storedDistinctId);
      if (c.storedIdentified) identity.setIdentified(*c.storedIdentified);
    }
    options->bootstrap = c.bootstrap;
    options->optOut = c.optOut;
    options->personProfiles = c.personProfiles;
    auto client = ts.client(options);
    CapturedLog log;
    client->setup(options);

    const auto identityCache = options->storageManager.load();
    auto& identity = *identityCache;
    const std::string expected =
        c.expectedDistinctId == "anon" ? identity.getAnonymousId() : c.expectedDistinctId;
    EXPECT_EQ(identity.getDistinctId(), expected);
    EXPECT_EQ(identity.isIdentified(), c.expectedIdentified);
    if (c.expectedIdentified) {
      EXPECT_EQ(files(*options)->getTypedValue<bool>(Key::isIdentified), true) << "persisted";
    }
    if (c.expectedLine) {
      EXPECT_TRUE(log.has(c.expectedLine));
    } else {
      EXPECT_FALSE(log.has(differs));
      EXPECT_FALSE(log.has(optedOut));
    }
    EXPECT_TRUE(ts.lastEventQueue()->records().empty()) << "no event without identify";
  }
}

TEST_F(SdkSetupTest, GettersAndDebugBeforeSetupRefuseWithTheSetupLine) {
  auto options = config();
  auto client = ts.client(options);
  CapturedLog log;
  EXPECT_EQ(client->getDistinctId(), "");
  EXPECT_EQ(client->getAnonymousId(), "");
  EXPECT_EQ(client->getDeviceId(), "");
  client->debug(false);
  EXPECT_TRUE(dizizoz::hedgeLogEnabled()) << "debug() before set-up changes nothing";
  EXPECT_EQ(log.lines, std::vector<std::string>(4, notSetUp));

  client->setup(options);
  EXPECT_EQ(client->getDistinctId(), client->getAnonymousId());
  client->debug(false);
  EXPECT_FALSE(dizizoz::hedgeLogEnabled());
}

TEST_F(SdkSetupTest, PushProvidersAnswerForTheClient) {
  auto options = config();
  auto client = ts.client(options);
  client->setup(options);
  const auto providers = ts.lastPushHandler()->parts.providers;
  auto reachability = ts.lastReachability();

  EXPECT_EQ(providers.distinctId(), client->getDistinctId());
  EXPECT_TRUE(providers.isEnabled());
  EXPECT_TRUE(providers.isAllowed());
  EXPECT_TRUE(providers.isConnected());
  reachability->setConnection(DiziZozConnection::unavailable);
  EXPECT_FALSE(providers.isConnected());
  options->disableReachabilityForTesting = true;
  EXPECT_TRUE(providers.isConnected()) << "the option keeps the monitor out of the answer";
  options->disableReachabilityForTesting = false;

  CapturedLog log;
  options->optOut = true;
  EXPECT_FALSE(providers.isAllowed());
  EXPECT_EQ(log.lines, std::vector<std::string>{"[DiziZoz] DiziZoz is in OptOut state."});

  client.reset();
  EXPECT_EQ(providers.distinctId(), "");
  EXPECT_FALSE(providers.isEnabled());
  EXPECT_FALSE(providers.isAllowed());
  EXPECT_TRUE(providers.isConnected()) << "a gone client counts as connected";
}

TEST_F(SdkSetupTest, ReachabilityExistsWhateverTheTestingOptionSays) {
  auto options = config();
  options->disableReachabilityForTesting = true;
  auto client = ts.client(options);
  client->setup(options);
  EXPECT_EQ(client->reachability(), ts.lastReachability());
  EXPECT_EQ(ts.lastEventQueue()->starts().front().disableReachabilityForTesting, true);
  EXPECT_EQ(client->context()->dynamicContext()["$network_wifi"], true);

  // Without a monitor the client runs on: no network keys, connected.
  ts.withReachability = false;
  auto other = config("phc_none");
  auto second = ts.client(other);
  second->setup(other);
  EXPECT_FALSE(second->reachability());
  EXPECT_EQ(second->context()->dynamicContext().count("$network_wifi"), 0u);
  EXPECT_TRUE(ts.lastPushHandler()->parts.providers.isConnected());
}

TEST_F(SdkSetupTest, EndOfLifeStopsTheMonitorAndReleasesIntegrationsAndSubscriptions) {
  auto options = config();
  auto client = ts.client(options);
  client->setup(options);
  auto reachability = ts.lastReachability();
  const int subscribers =
      static_cast<int>(dizizoz::DI::main().appLifecyclePublisher().onDidEnterBackground().subscriberCount());
  ASSERT_EQ(client->installedIntegrations().size(), 3u);

  client.reset();
  EXPECT_EQ(reachability->stops, 1);
  EXPECT_EQ(
      static_cast<int>(dizizoz::DI::main().appLifecyclePublisher().onDidEnterBackground().subscriberCount()),
      subscribers - 2)
      << "the session manager and the background flush let go";

  // The install guards were released with the client: another one installs them again.
  auto again = config("phc_again");
  auto next = ts.client(again);
  next->setup(again);
  EXPECT_EQ(next->installedIntegrations().size(), 3u);
}

TEST_F(SdkSetupTest, EnteringTheBackgroundFlushesTheQueues) {
  auto options = config();
  auto client = ts.client(options);
  client->setup(options);
  dizizoz::ApplicationLifecyclePublisher::shared().appDidEnterBackground();
  EXPECT_EQ(ts.lastEventQueue()->flushes(), 1);
  EXPECT_EQ(ts.lastReplayQueue()->innerQueue().flushes(), 1);
  EXPECT_EQ(ts.lastLogsQueue()->flushes(), 1);

  auto quiet = config("phc_quiet");
  quiet->disableFlushOnBackgroundForTesting = true;
  auto other = ts.client(quiet);
  other->setup(quiet);
  dizizoz::ApplicationLifecyclePublisher::shared().appDidEnterBackground();
  EXPECT_EQ(ts.lastEventQueue()->flushes(), 0);
}

}  // namespace
