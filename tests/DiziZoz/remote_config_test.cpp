#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/delivery/DiziZozRemoteConfig.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozApi;
using dizizoz::DiziZozBootstrapConfig;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozRemoteConfig;
using dizizoz::DiziZozStorage;
using dizizoz::DiziZozStorageLocation;
using dizizoz::DiziZozStorageManager;
using dizizoz::Properties;
using dizizoz::Value;
using dizizoz::test::CapturedLog;
using dizizoz::test::loopbackApiEnvironment;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsServiceStandIn;
using quorvelle::test::TempDir;
using quorvelle::test::WaitingExecutor;
using Key = DiziZozStorage::StorageKey;
namespace reply = quorvelle::test::analytics_reply;

constexpr const char* kToken = "phc_flags";

// One client's store over the stand-in: its serial queue and the main executor run only when the test
// pumps them; answers of the stand-in arrive on the test's thread through `completions`.
class RemoteConfigTest : public testing::Test {
 protected:
  RemoteConfigTest() {
    config->storageManager = std::make_shared<DiziZozStorageManager>(*config, location());
    config->storageManager->getDeviceId();
  }
  // Work still queued holds the store, which holds its queues: run it out so that nothing is left behind.
  ~RemoteConfigTest() override { settle(); }

  DiziZozStorageLocation location() const {
    return DiziZozStorageLocation{.applicationSupport = dir.path(),
                                  .bundleIdentifier = "com.example.flags",
                                  .groupContainer = {},
                                  .isAppExtension = false};
  }
  std::shared_ptr<DiziZozStorage> storage() { return DiziZozStorage::open(*config, location()); }

  std::shared_ptr<DiziZozRemoteConfig> makeStore() {
    api = std::make_shared<DiziZozApi>(config, loopbackApiEnvironment(http, completions, retries, clock));
    auto store = DiziZozRemoteConfig::create(
        {.config = config,
         .storage = storage(),
         .api = api,
         .defaultPersonProperties = [this] { return defaultPersonProperties(); },
         .flagCalled =
             [this](const std::string& key, const std::optional<Value>& value) {
               flagCalls.push_back({key, value});
             }},
        {.dispatchQueue = dispatch, .mainExecutor = main, .notificationCenter = center});
    flagsLoaded = store->onFeatureFlagsLoaded.subscribe(
        [this](const std::optional<Properties>& flags) { loadedFlags.push_back(flags); });
    configLoaded = store->onRemoteConfigLoaded.subscribe(
        [this](const std::optional<Properties>& c) { loadedConfigs.push_back(c); });
    return store;
  }

  // Runs the store's queue, the main executor and arriving answers until `done` holds.
  bool pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
    return completions->runUntil(
        [&] {
          dispatch->drain();
          main->runUntilIdle();
          return done();
        },
        timeout);
  }
  // Lets everything that is under way finish.
  void settle() {
    pump([] { return false; }, 300ms);
  }

  std::size_t requests(AnalyticsEndpoint endpoint) const { return service.requests(endpoint).size(); }

  void writeCachedConfig(const Properties& remote) { storage()->setJson(Key::remoteConfig, remote); }

  static Properties detailedAnswer() {
    return Properties::parse(R"({
      "flags": {
        "A": {"key": "A", "enabled": true, "metadata": {"payload": "{\"color\":\"red\"}"}},
        "B": {"key": "B", "enabled": false, "metadata": {"payload": "\"no\""}},
        "C": {"key": "C", "enabled": true, "variant": "V"},
        "D": {"key": "D", "variant": null}
      },
      "requestId": "req-1",
      "evaluatedAt": 1700000000,
      "minimalFlagCalledEvents": true
    })");
  }

  CapturedLog log;
  TempDir dir;
  AnalyticsServiceStandIn service{{.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}};
  std::shared_ptr<DiziZozConfig> config = std::make_shared<DiziZozConfig>(kToken, service.baseURL());
  platform::fake::ManualClock clock{platform::fake::ManualClock::WallTime{std::chrono::seconds(1700000000)}};
  std::shared_ptr<WaitingExecutor> completions = std::make_shared<WaitingExecutor>();
  std::shared_ptr<platform::fake::ManualSerialQueue> retries =
      std::make_shared<platform::fake::ManualSerialQueue>();
  std::shared_ptr<platform::fake::ManualSerialQueue> dispatch =
      std::make_shared<platform::fake::ManualSerialQueue>();
  std::shared_ptr<platform::fake::ManualExecutor> main = std::make_shared<platform::fake::ManualExecutor>();
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<DiziZozApi> api;
  platform::CurlHttpClient http;

  // What the client gives as default person properties.
  std::function<Properties()> defaultPersonProperties = [] { return Properties{{"$os", "Linux"}}; };
  std::vector<std::pair<std::string, std::optional<Value>>> flagCalls;
  std::vector<std::optional<Properties>> loadedFlags;
  std::vector<std::optional<Properties>> loadedConfigs;
  dizizoz::RegistrationToken flagsLoaded;
  dizizoz::RegistrationToken configLoaded;
};

TEST_F(RemoteConfigTest, FreshStartStoresTheConfigurationAndLoadsFlagsOnce) {
  const auto remote =
      Properties::parse(R"({"hasFeatureFlags": true, "errorTracking": {"autocaptureExceptions": true}})");
  service.setRemoteConfig(remote);
  service.setFlags(Properties::parse(R"({"featureFlags": {"x": true}, "featureFlagPayloads": {}})"));
  int notifications = 0;
  auto token = center->addObserver("DiziZozDidReceiveFeatureFlags", [&](const auto&) { ++notifications; });

  auto store = makeStore();
  EXPECT_FALSE(store->hasCachedRemoteConfig());
  EXPECT_FALSE(store->isAutocaptureExceptionsEnabled());
  ASSERT_TRUE(pump([&] { return !loadedFlags.empty(); }));
  settle();

  EXPECT_TRUE(store->hasFetchedRemoteConfig());
  EXPECT_EQ(store->getRemoteConfig(), remote);
  EXPECT_EQ(storage()->getJson(Key::remoteConfig), remote) << "written to disk";
  EXPECT_TRUE(store->isAutocaptureExceptionsEnabled());
  EXPECT_EQ(loadedConfigs, (std::vector<std::optional<Properties>>{remote}));
  EXPECT_EQ(requests(AnalyticsEndpoint::remoteConfig), 1u);
  EXPECT_EQ(requests(AnalyticsEndpoint::flags), 1u);
  EXPECT_EQ(loadedFlags, (std::vector<std::optional<Properties>>{Properties{{"x", true}}}));
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(store->getFeatureFlags(), (Properties{{"x", true}}));
}

TEST_F(RemoteConfigTest, CachedConfigurationWithoutNetworkLoadsNoFlags) {
  writeCachedConfig(Properties::parse(R"({"errorTracking": {"autocaptureExceptions": true}})"));
  service.script(AnalyticsEndpoint::remoteConfig, reply::status(500));

  auto store = makeStore();
  EXPECT_TRUE(store->hasCachedRemoteConfig());
  EXPECT_TRUE(store->isAutocaptureExceptionsEnabled()) << "on from construction";
  EXPECT_FALSE(store->hasFetchedRemoteConfig());
  ASSERT_TRUE(pump([&] { return !loadedFlags.empty(); }));
  settle();

  EXPECT_TRUE(store->hasFetchedRemoteConfig());
  EXPECT_EQ(loadedFlags, std::vector<std::optional<Properties>>{std::nullopt});
  EXPECT_TRUE(loadedConfigs.empty());
  EXPECT_EQ(requests(AnalyticsEndpoint::flags), 0u);
  EXPECT_TRUE(log.mentions("Remote config response is missing, skipping loading flags"));
}

TEST_F(RemoteConfigTest, ErrorTrackingSwitchFollowsTheShapeOfItsValue) {
  // A bare true in the cached file is only honoured once a flags answer re-reads the configuration.
  writeCachedConfig(Properties::parse(R"({"errorTracking": true})"));
  config->disableRemoteConfigForTesting = true;
  {
    auto store = makeStore();
    EXPECT_FALSE(store->isAutocaptureExceptionsEnabled());
    service.setFlags(Properties::parse(R"({"featureFlags": {}, "featureFlagPayloads": {}})"));
    bool done = false;
    store->reloadFeatureFlags([&](const auto&) { done = true; });
    ASSERT_TRUE(pump([&] { return done; }));
    EXPECT_TRUE(store->isAutocaptureExceptionsEnabled());
  }
  // A non-Bool "autocaptureExceptions" in a fresh configuration turns the switch off.
  writeCachedConfig(Properties::parse(R"({"errorTracking": {"autocaptureExceptions": true}})"));
  config->disableRemoteConfigForTesting = false;
  service.setRemoteConfig(Properties::parse(R"({"errorTracking": {"autocaptureExceptions": "yes"}})"));
  auto store = makeStore();
  EXPECT_TRUE(store->isAutocaptureExceptionsEnabled());
  ASSERT_TRUE(pump([&] { return store->hasFetchedRemoteConfig(); }));
  EXPECT_FALSE(store->isAutocaptureExceptionsEnabled());
}

TEST_F(RemoteConfigTest, HasFeatureFlagsFalseReseedsTheBootstrapFlagsWithoutARequest) {
  storage()->setJson(Key::enabledFeatureFlags, Properties{{"old", true}});
  storage()->setJson(Key::requestId, Value("old-request"));
  config->bootstrap = DiziZozBootstrapConfig(std::nullopt, false, Properties{{"boot", "on"}}, std::nullopt);
  service.setRemoteConfig(Properties{{"hasFeatureFlags", false}});

  auto store = makeStore();
  ASSERT_TRUE(pump([&] { return loadedFlags.size() == 2; }));
  settle();
  EXPECT_EQ(loadedFlags.back(), (Properties{{"boot", "on"}}));
  EXPECT_EQ(store->getFeatureFlags(), (Properties{{"boot", "on"}}));
  EXPECT_EQ(store->lastRequestId(), std::nullopt) << "stored flags cleared";
  EXPECT_EQ(requests(AnalyticsEndpoint::flags), 0u);
}

TEST_F(RemoteConfigTest, SessionRecordingEndpointComesFromTheCachedConfigurationOnly) {
  writeCachedConfig(Properties::parse(R"({"sessionRecording": {"endpoint": "/cached/"}})"));
  service.setRemoteConfig(Properties::parse(R"({"sessionRecording": {"endpoint": "/fresh/"}})"));
  auto store = makeStore();
  EXPECT_EQ(config->snapshotEndpoint, "/cached/");
  EXPECT_TRUE(store->isSessionReplayFlagActive()) << "no linked flag";
  ASSERT_TRUE(pump([&] { return store->hasFetchedRemoteConfig(); }));
  EXPECT_EQ(config->snapshotEndpoint, "/cached/");
}

TEST_F(RemoteConfigTest, LinkedFlagDecidesRecordingAndReportsTheFlagRead) {
  struct Case {
    const char* name;
    const char* linkedFlag;
    Properties flags;
    bool active;
    std::optional<Value> reported;  // none: no report
  };
  const std::vector<Case> cases = {
      {"variant string", R"("R")", {{"R", "V"}}, true, Value("V")},
      {"false", R"("R")", {{"R", false}}, false, Value(false)},
      {"absent", R"("R")", {{"S", true}}, false, std::nullopt},
      {"other variant", R"({"flag": "R", "variant": "A"})", {{"R", "B"}}, false, Value("B")},
      {"bool against variant", R"({"flag": "R", "variant": "A"})", {{"R", true}}, false, std::nullopt},
      {"same variant", R"({"flag": "R", "variant": "A"})", {{"R", "A"}}, true, Value("A")},
      {"object without variant", R"({"flag": "R"})", {{"R", "A"}}, false, std::nullopt},
      {"other type", "42", {{"R", false}}, true, std::nullopt},
  };
  config->disableRemoteConfigForTesting = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Properties recording = Properties::object();
    recording["linkedFlag"] = Properties::parse(c.linkedFlag);
    writeCachedConfig(Properties{{"sessionRecording", recording}});
    storage()->setJson(Key::enabledFeatureFlags, c.flags);
    flagCalls.clear();
    auto store = makeStore();
    EXPECT_EQ(store->isSessionReplayFlagActive(), c.active);
    if (c.reported) {
      ASSERT_EQ(flagCalls.size(), 1u);
      EXPECT_EQ(flagCalls[0].first, "R");
      EXPECT_EQ(flagCalls[0].second, c.reported);
    } else {
      EXPECT_TRUE(flagCalls.empty());
    }
  }
  config->sendFeatureFlagEvent = false;
  flagCalls.clear();
  auto store = makeStore();
  EXPECT_TRUE(flagCalls.empty()) << "reports follow sendFeatureFlagEvent";
}

TEST_F(RemoteConfigTest, DisabledRemoteConfigSendsNothing) {
  config->disableRemoteConfigForTesting = true;
  auto store = makeStore();
  settle();
  EXPECT_EQ(service.requests().size(), 0u);
  EXPECT_FALSE(store->hasFetchedRemoteConfig());
  EXPECT_TRUE(loadedFlags.empty());
}

// A store whose remote configuration is off, so that flags load only when a test asks.
class FlagsTest : public RemoteConfigTest {
 protected:
  FlagsTest() { config->disableRemoteConfigForTesting = true; }

  std::optional<Properties> reload(DiziZozRemoteConfig& store) {
    std::optional<std::optional<Properties>> answer;
    store.reloadFeatureFlags([&](const std::optional<Properties>& flags) { answer = flags; });
    EXPECT_TRUE(pump([&] { return answer.has_value(); }));
    return answer.value_or(std::nullopt);
  }
};

TEST_F(FlagsTest, ThreeQuickReloadsSendTheFirstAndTheLast) {
  service.setFlags(Properties::parse(R"({"featureFlags": {"f": true}, "featureFlagPayloads": {}})"));
  storage()->setJson(Key::enabledFeatureFlags, Properties{{"cached", true}});
  auto store = makeStore();
  std::vector<std::string> answered;
  config->storageManager->setDistinctId("first");
  store->reloadFeatureFlags([&](const auto&) { answered.push_back("first"); });
  config->storageManager->setDistinctId("second");
  std::optional<Properties> secondGot;
  store->reloadFeatureFlags([&](const std::optional<Properties>& flags) {
    answered.push_back("second");
    secondGot = flags;
  });
  config->storageManager->setDistinctId("third");
  store->reloadFeatureFlags([&](const auto&) { answered.push_back("third"); });
  EXPECT_EQ(answered, std::vector<std::string>{"second"}) << "displaced at once";
  EXPECT_EQ(secondGot, (Properties{{"cached", true}}));
  config->storageManager->setDistinctId("later");

  ASSERT_TRUE(pump([&] { return answered.size() == 3; }));
  const auto sent = service.requests(AnalyticsEndpoint::flags);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].body["distinct_id"], "first");
  EXPECT_EQ(sent[1].body["distinct_id"], "third") << "identity captured when parked";
  EXPECT_EQ(answered, (std::vector<std::string>{"second", "first", "third"}));
}

TEST_F(FlagsTest, DetailedAnswerIsNormalisedAndStored) {
  service.setFlags(detailedAnswer());
  auto store = makeStore();
  const auto flags = reload(*store);
  const Properties expected{{"A", true}, {"B", false}, {"C", "V"}};
  EXPECT_EQ(flags, expected);
  EXPECT_EQ(storage()->getJson(Key::enabledFeatureFlags), expected);
  EXPECT_EQ(storage()->getJson(Key::enabledFeatureFlagPayloads), (Properties{{"A", "{\"color\":\"red\"}"}}));
  EXPECT_EQ(storage()->getJson(Key::flags), detailedAnswer()["flags"]) << "kept as received";
  EXPECT_EQ(store->lastRequestId(), "req-1");
  EXPECT_EQ(store->lastEvaluatedAt(), 1700000000);
  EXPECT_EQ(store->sendMinimalFlagCalledEvents(), true);
  EXPECT_EQ(store->getFeatureFlagDetails("C"), detailedAnswer()["flags"]["C"]);
}

TEST_F(FlagsTest, ErrorsWhileComputingMergeWithTheCachedFlags) {
  storage()->setJson(Key::enabledFeatureFlags, Properties{{"A", false}, {"Z", true}});
  storage()->setJson(Key::enabledFeatureFlagPayloads, Properties{{"Z", "1"}});
  storage()->setJson(Key::flags, Properties{{"Z", {{"key", "Z"}}}});
  auto answer = detailedAnswer();
  answer["errorsWhileComputingFlags"] = true;
  service.setFlags(answer);
  auto store = makeStore();
  EXPECT_EQ(reload(*store), (Properties{{"A", true}, {"B", false}, {"C", "V"}, {"Z", true}}));
  EXPECT_EQ(storage()->getJson(Key::enabledFeatureFlagPayloads),
            (Properties{{"A", "{\"color\":\"red\"}"}, {"Z", "1"}}));
  EXPECT_TRUE(storage()->getJson(Key::flags)->contains("Z"));
  EXPECT_TRUE(storage()->getJson(Key::flags)->contains("A"));
}

TEST_F(FlagsTest, MissingRequestIdIsKeptAndMissingMinimalSwitchDeleted) {
  service.setFlags(detailedAnswer());
  auto store = makeStore();
  reload(*store);
  service.setFlags(Properties::parse(R"({"featureFlags": {"x": true}, "featureFlagPayloads": {}})"));
  reload(*store);
  EXPECT_EQ(store->lastRequestId(), "req-1");
  EXPECT_EQ(store->sendMinimalFlagCalledEvents(), false);
  EXPECT_FALSE(std::filesystem::exists(storage()->url(Key::minimalFlagCalledEvents)));
  EXPECT_EQ(storage()->getJson(Key::flags), detailedAnswer()["flags"]) << "no detail object: unchanged";

  // The next run finds what this one stored.
  auto next = makeStore();
  EXPECT_EQ(next->lastRequestId(), "req-1");
  EXPECT_EQ(next->lastEvaluatedAt(), 1700000000);
}

TEST_F(FlagsTest, UnusableAnswersLeaveTheStoredFlags) {
  storage()->setJson(Key::enabledFeatureFlags, Properties{{"cached", true}});
  struct Case {
    const char* name;
    Properties answer;
    std::optional<Properties> expected;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"quota", Properties::parse(R"({"quotaLimited": ["feature_flags"], "featureFlags": {"new": true},
                              "featureFlagPayloads": {}})"),
       Properties{{"cached", true}}, "Feature flags quota limit reached - flags could not be updated."},
      {"no payloads", Properties::parse(R"({"featureFlags": {"new": true}})"), std::nullopt,
       "Flags response missing correct featureFlags format"},
  };
  auto store = makeStore();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service.setFlags(c.answer);
    loadedFlags.clear();
    EXPECT_EQ(reload(*store), c.expected);
    settle();
    EXPECT_EQ(loadedFlags, std::vector<std::optional<Properties>>{c.expected});
    EXPECT_EQ(store->getFeatureFlags(), (Properties{{"cached", true}}));
    EXPECT_TRUE(log.mentions(c.line));
  }
  service.script(AnalyticsEndpoint::flags, reply::status(500));
  EXPECT_EQ(reload(*store), std::nullopt);
  EXPECT_TRUE(log.mentions("Flags response data is nil"));
  // Every ending releases the in-flight state: a later reload is sent.
  service.setFlags(Properties::parse(R"({"featureFlags": {"n": "v"}, "featureFlagPayloads": {}})"));
  EXPECT_EQ(reload(*store), (Properties{{"n", "v"}}));
}

TEST_F(FlagsTest, BootstrapKeepsOnlyUsableFlagsAndTheirPayloads) {
  config->bootstrap = DiziZozBootstrapConfig(
      std::nullopt, false, Properties{{"A", true}, {"B", false}, {"C", ""}, {"D", "variant"}, {"E", 3}},
      Properties{{"A", "a"}, {"B", "b"}, {"E", "e"}});
  auto store = makeStore();
  EXPECT_EQ(store->getFeatureFlags(), (Properties{{"A", true}, {"D", "variant"}}));
  EXPECT_EQ(storage()->getJson(Key::enabledFeatureFlagPayloads), (Properties{{"A", "a"}}));
  EXPECT_TRUE(log.mentions(
      "[DiziZoz] Bootstrap featureFlags values for [E] are not a Bool or String and were ignored."));
  main->runUntilIdle();
  EXPECT_EQ(loadedFlags.size(), 1u) << "seeded flags notified";

  const auto before = store->getBootstrapCallMetadata("A");
  ASSERT_TRUE(before);
  EXPECT_EQ(before->response, true);
  EXPECT_EQ(before->payload, Value("a"));
  EXPECT_TRUE(before->usedBootstrapValue);
  EXPECT_FALSE(store->getBootstrapCallMetadata("B"));
  service.setFlags(Properties::parse(R"({"featureFlags": {"A": false}, "featureFlagPayloads": {}})"));
  reload(*store);
  EXPECT_FALSE(store->getBootstrapCallMetadata("A")->usedBootstrapValue);
}

TEST_F(FlagsTest, ResultsParsePayloadsAndNameVariants) {
  storage()->setJson(
      Key::enabledFeatureFlags,
      Properties{{"obj", true}, {"text", true}, {"num", 5}, {"multi", "blue"}, {"off", false}});
  storage()->setJson(
      Key::enabledFeatureFlagPayloads,
      Properties{{"obj", R"({"size": 3, "name": "x"})"}, {"text", "plain words"}, {"multi", "12"}});
  auto store = makeStore();

  const auto obj = store->getFeatureFlagResult("obj");
  ASSERT_TRUE(obj);
  EXPECT_TRUE(obj->enabled);
  EXPECT_EQ(obj->payload, Properties::parse(R"({"size": 3, "name": "x"})"));
  const auto text = store->getFeatureFlagResult("text");
  EXPECT_EQ(text->payload, Value("plain words"));
  EXPECT_EQ(std::count_if(
                log.lines.begin(), log.lines.end(),
                [](const std::string& l) { return l.find("Error parsing the object") != std::string::npos; }),
            1);
  const auto num = store->getFeatureFlagResult("num");
  EXPECT_FALSE(num->enabled);
  EXPECT_FALSE(num->variant);
  const auto multi = store->getFeatureFlagResult("multi");
  EXPECT_TRUE(multi->enabled);
  EXPECT_EQ(multi->variant, "blue");
  EXPECT_EQ(multi->payload, Value(12));
  EXPECT_FALSE(store->getFeatureFlagResult("missing"));
  EXPECT_EQ(store->getAllFeatureFlagResults()->size(), 5u);

  const auto shape = obj->payloadAs<Properties>();
  EXPECT_EQ(shape->at("size"), 3);
  using Fields = std::map<std::string, Value>;
  EXPECT_EQ(obj->payloadAs<Fields>()->at("name"), "x");
  EXPECT_EQ(multi->payloadAs<std::string>(), std::nullopt) << "a number is no String";
  EXPECT_EQ(text->payloadAs<std::string>(), "plain words");
  EXPECT_EQ(obj->payloadAs<std::vector<int>>(), std::nullopt) << "does not fit: nothing, no throw";
  EXPECT_EQ(store->getFeatureFlagResult("off")->payloadAs<std::string>(), std::nullopt);
}

TEST_F(FlagsTest, AllResultsAreNothingBeforeAnyFlagsAndEmptyAfterAnEmptyAnswer) {
  auto store = makeStore();
  EXPECT_EQ(store->getAllFeatureFlagResults(), std::nullopt);
  service.setFlags(Properties::parse(R"({"featureFlags": {}, "featureFlagPayloads": {}})"));
  reload(*store);
  ASSERT_TRUE(store->getAllFeatureFlagResults());
  EXPECT_TRUE(store->getAllFeatureFlagResults()->empty());
}

TEST_F(FlagsTest, FlagPropertiesTravelWithRequestsAndSurviveRestarts) {
  auto store = makeStore();
  int changes = 0;
  auto token = store->onPersonPropertiesForFlagsChanged.subscribe([&] { ++changes; });
  store->resetPersonPropertiesForFlags();
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(std::filesystem::exists(storage()->url(Key::personPropertiesForFlags)));
  store->setPersonPropertiesForFlags({{"plan", "pro"}, {"$os", "Mine"}});
  store->setPersonPropertiesForFlags({{"plan", "pro"}});
  EXPECT_EQ(changes, 1) << "unchanged properties raise nothing";
  store->setGroupPropertiesForFlags("company", {{"size", 10}});
  store->setGroupPropertiesForFlags("team", {{"name", "t"}});
  store->resetGroupPropertiesForFlags(std::string("team"));
  storage()->setJson(Key::groups, Properties{{"company", "acme"}});
  reload(*store);
  const auto body = service.requests(AnalyticsEndpoint::flags).back().body;
  EXPECT_EQ(body["person_properties"], (Properties{{"$os", "Mine"}, {"plan", "pro"}})) << "stored value wins";
  EXPECT_EQ(body["group_properties"], (Properties{{"company", {{"size", 10}}}}));
  EXPECT_EQ(body["groups"], (Properties{{"company", "acme"}}));

  auto next = makeStore();
  EXPECT_EQ(next->getPersonPropertiesForFlags(), (Properties{{"$os", "Mine"}, {"plan", "pro"}}));
  next->clear();
  EXPECT_EQ(next->getPersonPropertiesForFlags(), (Properties{{"$os", "Linux"}}));
  EXPECT_EQ(storage()->getJson(Key::groupPropertiesForFlags), Properties::object());
}

// The defaults come from the client, which calls into the store while it holds locks of its own (set-up
// identifies a bootstrap user under its set-up lock, and identifying sets flag properties): asked for them
// under its own lock, the store and the client could each wait for the other.
TEST_F(FlagsTest, TheClientIsAskedForDefaultPersonPropertiesWithoutTheStoresLockHeld) {
  std::shared_ptr<DiziZozRemoteConfig> store;
  std::future<void> meanwhile;  // ends after the ask has returned, whatever happened
  bool otherThreadGotThrough = false;
  defaultPersonProperties = [&] {
    if (store && !meanwhile.valid()) {
      // Another thread of the client sets flag properties while the defaults are being built.
      meanwhile = std::async(std::launch::async, [&] {
        store->setPersonPropertiesForFlags({{"plan", "pro"}});
      });
      otherThreadGotThrough = meanwhile.wait_for(10s) == std::future_status::ready;
    }
    return Properties{{"$os", "Linux"}};
  };
  store = makeStore();
  store->getPersonPropertiesForFlags();
  EXPECT_TRUE(otherThreadGotThrough);
  if (meanwhile.valid()) meanwhile.wait();
  EXPECT_EQ(store->getPersonPropertiesForFlags(), (Properties{{"$os", "Linux"}, {"plan", "pro"}}));
}

TEST_F(FlagsTest, ClearForgetsFlagsButNotTheRemoteConfiguration) {
  writeCachedConfig(Properties::parse(R"({"errorTracking": {"autocaptureExceptions": true}})"));
  config->bootstrap = DiziZozBootstrapConfig(std::nullopt, false, Properties{{"boot", true}}, std::nullopt);
  service.setFlags(detailedAnswer());
  auto store = makeStore();
  reload(*store);
  store->clear();
  EXPECT_EQ(store->getFeatureFlags(), Properties::object());
  EXPECT_EQ(store->lastRequestId(), std::nullopt);
  EXPECT_FALSE(store->getBootstrapCallMetadata("boot"));
  EXPECT_FALSE(store->isAutocaptureExceptionsEnabled());
  EXPECT_TRUE(store->getRemoteConfig());
  EXPECT_TRUE(std::filesystem::exists(storage()->url(Key::remoteConfig)));
}

}  // namespace
