#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozBootstrapConfig;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozPushRecordSnapshot;
using dizizoz::DiziZozSDK;
using dizizoz::DiziZozStorage;
using dizizoz::DiziZozStorageManager;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using dizizoz::test::TestServices;
using Key = DiziZozStorage::StorageKey;

class IdentityTest : public ::testing::Test {
 protected:
  IdentityTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozConfig> config(const std::string& suffix = "") {
    auto options = std::make_shared<DiziZozConfig>(
        "phc_id_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + suffix);
    options->debug = true;
    options->disableFlushOnBackgroundForTesting = true;
    return options;
  }

  // A client set up over `options`; its notices of a new context are counted.
  std::shared_ptr<DiziZozSDK> setUp(const std::shared_ptr<DiziZozConfig>& options) {
    auto client = ts.client(options);
    notices_.push_back(client->onEventContextChanged.subscribe([this](const Properties&) { ++notices; }));
    client->setup(options);
    return client;
  }

  // An installation whose user was identified as `id` by an earlier launch.
  void identifiedBefore(const DiziZozConfig& options, const std::string& id) {
    DiziZozConfig previous(options.projectToken());
    DiziZozStorageManager identity(previous, ts.location());
    identity.getAnonymousId();
    identity.setDistinctId(id);
    identity.setIdentified(true);
  }

  std::shared_ptr<DiziZozStorage> files(const DiziZozConfig& options) {
    return DiziZozStorage::open(options, ts.location());
  }
  std::vector<DiziZozEvent> events() const { return ts.lastEventQueue()->records(); }

  TestServices ts;
  int notices = 0;

 private:
  std::vector<dizizoz::RegistrationToken> notices_;
};

TEST_F(IdentityTest, IdentifyCases) {
  struct Case {
    const char* name;
    std::optional<std::string> identifiedAs;  // nothing: an anonymous installation
    std::string id;                           // "anon": the anonymous id
    std::optional<Properties> userProperties;
    const char* expectedEvent;  // or nothing
    std::string expectedLine;   // "" for none
    std::string expectedDistinctId;
    int expectedReloads;
    int expectedNotices;
  };
  const Case cases[] = {
      {.name = "empty id",
       .identifiedAs = std::nullopt,
       .id = "",
       .userProperties = std::nullopt,
       .expectedEvent = nullptr,
       .expectedLine = "[DiziZoz] identify call not allowed, distinctId is invalid: ",
       .expectedDistinctId = "anon",
       .expectedReloads = 0,
       .expectedNotices = 0},
      {.name = "current id marked identified",
       .identifiedAs = std::nullopt,
       .id = "anon",
       .userProperties = Properties{{"plan", "pro"}},
       .expectedEvent = "$set",
       .expectedLine = "",
       .expectedDistinctId = "anon",
       .expectedReloads = 1,
       .expectedNotices = 1},
      {.name = "anonymous user becomes the new id",
       .identifiedAs = std::nullopt,
       .id = "user-d",
       .userProperties = std::nullopt,
       .expectedEvent = "$identify",
       .expectedLine = "",
       .expectedDistinctId = "user-d",
       .expectedReloads = 1,
       .expectedNotices = 1},
      {.name = "identified user keeps its id",
       .identifiedAs = "user-d",
       .id = "user-e",
       .userProperties = std::nullopt,
       .expectedEvent = nullptr,
       .expectedLine = "[DiziZoz] already identified with id: user-d",
       .expectedDistinctId = "user-d",
       .expectedReloads = 0,
       .expectedNotices = 0},
      {.name = "same identified id without properties",
       .identifiedAs = "user-d",
       .id = "user-d",
       .userProperties = std::nullopt,
       .expectedEvent = nullptr,
       .expectedLine = "[DiziZoz] already identified with id: user-d",
       .expectedDistinctId = "user-d",
       .expectedReloads = 0,
       .expectedNotices = 0},
      {.name = "same identified id with properties",
       .identifiedAs = "user-d",
       .id = "user-d",
       .userProperties = Properties{{"plan", "pro"}},
       .expectedEvent = "$set",
       .expectedLine = "",
       .expectedDistinctId = "user-d",
       .expectedReloads = 0,
       .expectedNotices = 0},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = config(std::to_string(n++));
    if (c.identifiedAs) identifiedBefore(*options, *c.identifiedAs);
    auto client = setUp(options);
    const std::string anon = client->getAnonymousId();
    const int reloads = ts.lastRemoteConfig()->reloads();
    notices = 0;

    CapturedLog log;
    client->identify(c.id == "anon" ? anon : c.id, c.userProperties);

    const auto queued = events();
    if (c.expectedEvent) {
      ASSERT_EQ(queued.size(), 1u);
      EXPECT_EQ(queued[0].event, c.expectedEvent);
      if (c.userProperties) {
        EXPECT_EQ(queued[0].properties["$set"], *c.userProperties);
      }
    } else {
      EXPECT_TRUE(queued.empty());
    }
    if (!c.expectedLine.empty()) {
      EXPECT_EQ(log.lines, std::vector<std::string>{c.expectedLine});
    } else {
      EXPECT_TRUE(log.lines.empty()) << log.lines.front();
    }
    const std::string expectedId = c.expectedDistinctId == "anon" ? anon : c.expectedDistinctId;
    EXPECT_EQ(client->getDistinctId(), expectedId);
    EXPECT_EQ(ts.lastRemoteConfig()->reloads() - reloads, c.expectedReloads);
    EXPECT_EQ(notices, c.expectedNotices);
    if (c.expectedEvent) {
      EXPECT_EQ(files(*options)->getTypedValue<bool>(Key::isIdentified), true);
      EXPECT_EQ(queued[0].distinctId, expectedId);
      EXPECT_EQ(queued[0].properties["$is_identified"], true);
    }
  }
}

TEST_F(IdentityTest, FirstLaunchIdentifiesAndTheNextLaunchIsAlreadyIdentified) {
  auto options = config();
  auto client = setUp(options);
  const std::string anon = client->getAnonymousId();
  ASSERT_EQ(client->getDistinctId(), anon);
  std::vector<std::string> captured;
  auto token = client->onEventCaptured.subscribe([&](const DiziZozEvent& e) { captured.push_back(e.event); });
  const int reloads = ts.lastRemoteConfig()->reloads();

  client->identify("user-d", Properties{{"plan", "pro"}}, Properties{{"first", 1}});

  const auto queued = events();
  ASSERT_EQ(queued.size(), 1u);
  const auto& identify = queued[0];
  EXPECT_EQ(identify.event, "$identify");
  EXPECT_EQ(identify.distinctId, "user-d");
  EXPECT_EQ(identify.properties["distinct_id"], "user-d");
  EXPECT_EQ(identify.properties["$anon_distinct_id"], anon);
  EXPECT_EQ(identify.properties["$set"], (Properties{{"plan", "pro"}}));
  EXPECT_EQ(identify.properties["$set_once"], (Properties{{"first", 1}}));
  EXPECT_EQ(captured, std::vector<std::string>{"$identify"});
  EXPECT_EQ(ts.lastRemoteConfig()->reloads() - reloads, 1);
  EXPECT_EQ(ts.lastRemoteConfig()->personProperties(), (Properties{{"plan", "pro"}, {"first", 1}}));
  EXPECT_EQ(client->getAnonymousId(), anon);
  EXPECT_EQ(files(*options)->getTypedValue<std::string>(Key::distinctId), "user-d");
  EXPECT_EQ(files(*options)->getTypedValue<std::string>(Key::anonymousId), anon);

  // The next launch: a new client over the same folder.
  auto next = config();
  auto again = setUp(next);
  CapturedLog log;
  again->identify("user-d");
  EXPECT_EQ(log.lines, std::vector<std::string>{"[DiziZoz] already identified with id: user-d"});
  EXPECT_TRUE(events().empty());
}

// An id that is not UTF-8 can be neither stored nor sent: identify refuses it and stores nothing, so the
// installation is not marked identified without an id and a later identify with a good id goes through.
TEST_F(IdentityTest, AnIdThatIsNotUtf8IsRefusedAndStoresNothing) {
  auto options = config();
  auto client = setUp(options);
  const std::string anon = client->getAnonymousId();
  CapturedLog log;
  client->identify("user-\xff\xfe");
  EXPECT_TRUE(log.mentions("identify call not allowed, distinctId is not UTF-8 text: user-"));
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(client->getDistinctId(), anon);
  EXPECT_FALSE(std::filesystem::exists(files(*options)->url(Key::isIdentified)));

  auto next = config();
  auto again = setUp(next);
  again->identify("user-d");
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].event, "$identify");
  EXPECT_EQ(again->getDistinctId(), "user-d");
}

TEST_F(IdentityTest, ReusedAnonymousIdIsNeitherSentNorReplaced) {
  auto options = config();
  options->reuseAnonymousId = true;
  auto client = setUp(options);
  const std::string anon = client->getAnonymousId();
  client->identify("user-d");
  ASSERT_EQ(events().size(), 1u);
  EXPECT_FALSE(events()[0].properties.contains("$anon_distinct_id"));
  EXPECT_EQ(client->getAnonymousId(), anon);
  EXPECT_EQ(client->getDistinctId(), "user-d");
}

TEST_F(IdentityTest, DroppedIdentifyEventStillStoresTheNewIdentity) {
  auto options = config();
  options->setBeforeSend([](DiziZozEvent e) -> std::optional<DiziZozEvent> {
    if (e.event == "$identify") return std::nullopt;
    return e;
  });
  auto client = setUp(options);
  const int reloads = ts.lastRemoteConfig()->reloads();
  notices = 0;
  client->identify("user-d");
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(client->getDistinctId(), "user-d");
  EXPECT_EQ(ts.lastRemoteConfig()->reloads(), reloads);
  EXPECT_EQ(notices, 0);
}

TEST_F(IdentityTest, PersonPropertiesRepeatedForTheSamePersonAreIgnored) {
  auto options = config();
  identifiedBefore(*options, "user-d");
  auto client = setUp(options);
  const Properties plan{{"plan", "pro"}};

  CapturedLog log;
  client->identify("user-d", plan);
  client->identify("user-d", plan);
  EXPECT_EQ(log.lines, std::vector<std::string>{"[DiziZoz] A duplicate identify call was made with the same "
                                                "properties. The $set event has been ignored."});
  EXPECT_EQ(events().size(), 1u);

  // The same payload through setPersonProperties is a repeat too; another set-once map is not.
  log.lines.clear();
  client->setPersonProperties(plan);
  EXPECT_EQ(log.lines, std::vector<std::string>{"[DiziZoz] A duplicate setPersonProperties call was made "
                                                "with the same properties. It has been ignored."});
  client->setPersonProperties(plan, Properties{{"signup", "2024"}});
  ASSERT_EQ(events().size(), 2u);
  EXPECT_EQ(events()[1].event, "$set");
  EXPECT_EQ(events()[1].properties["$set_once"], (Properties{{"signup", "2024"}}));
  // Only the last payload is remembered: the first one passes again.
  client->setPersonProperties(plan);
  EXPECT_EQ(events().size(), 3u);

  // Set wins over set-once in the flag properties; nothing for empty maps.
  client->setPersonProperties(Properties{{"k", "set"}}, Properties{{"k", "once"}, {"o", 1}});
  EXPECT_EQ(ts.lastRemoteConfig()->personProperties()["k"], "set");
  EXPECT_EQ(ts.lastRemoteConfig()->personProperties()["o"], 1);
  client->setPersonProperties(Properties::object(), std::nullopt);
  EXPECT_EQ(events().size(), 4u);
}

TEST_F(IdentityTest, SuperPropertiesAreMergedRemovedAndAnnounced) {
  auto options = config();
  auto client = setUp(options);
  notices = 0;
  client->registerProperties(Properties{{"tier", 1}, {"app", "q"}});
  client->registerProperties(Properties{{"tier", 2}});
  EXPECT_EQ(files(*options)->getJson(Key::registerProperties), (Properties{{"tier", 2}, {"app", "q"}}));
  client->unregister("app");
  client->unregister("missing");
  EXPECT_EQ(files(*options)->getJson(Key::registerProperties), (Properties{{"tier", 2}}));
  EXPECT_EQ(notices, 4);

  // Removing a key that is not there still writes the file. (The client keeps its super properties in
  // memory: the file goes through the client's own store.)
  client->storage()->remove(Key::registerProperties);
  client->unregister("missing");
  EXPECT_EQ(files(*options)->getJson(Key::registerProperties), Properties::object());

  client->registerProperties(Properties{{"tier", 3}});
  client->capture("e");
  EXPECT_EQ(events().back().properties["tier"], 3);
}

TEST_F(IdentityTest, AliasIsSentForTheCurrentIdWithoutChangingIt) {
  auto options = config();
  auto client = setUp(options);
  const std::string id = client->getDistinctId();
  client->alias("other");
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].event, "$create_alias");
  EXPECT_EQ(events()[0].distinctId, id);
  EXPECT_EQ(events()[0].properties["alias"], "other");
  EXPECT_EQ(client->getDistinctId(), id);
}

TEST_F(IdentityTest, ResetKeepsQueuedEventsAndMovesThePushTokenToTheNewId) {
  auto options = config();
  auto client = setUp(options);
  const std::string deviceId = client->getDeviceId();
  const std::string firstAnon = client->getAnonymousId();
  client->identify("user-d");
  client->registerProperties(Properties{{"tier", 1}});
  client->group("company", "c1");
  client->screen("Home");
  client->capture("before");
  const auto session = client->getSessionId();
  auto push = ts.lastPushHandler();
  push->record = DiziZozPushRecordSnapshot{.deviceToken = "tok", .appId = "app"};
  push->calls.clear();
  auto& lifecycle = dizizoz::DI::main().appLifecyclePublisher();
  const auto activeSubscribers = lifecycle.onDidBecomeActive().subscriberCount();
  const int clears = ts.lastRemoteConfig()->clears();
  const int reloads = ts.lastRemoteConfig()->reloads();

  client->reset();

  EXPECT_EQ(events().size(), 4u) << "queued events stay";
  EXPECT_EQ(events().back().distinctId, "user-d");
  EXPECT_EQ(client->getDeviceId(), deviceId);
  const std::string newAnon = client->getAnonymousId();
  EXPECT_NE(newAnon, firstAnon);
  EXPECT_EQ(client->getDistinctId(), newAnon);
  EXPECT_NE(client->getSessionId(), session);
  EXPECT_EQ(lifecycle.onDidBecomeActive().subscriberCount(), activeSubscribers - 1)
      << "the session no longer follows the life cycle";
  EXPECT_EQ(ts.lastRemoteConfig()->clears() - clears, 1);
  EXPECT_EQ(ts.lastRemoteConfig()->reloads() - reloads, 1);
  const auto pushCalls = push->calls.entries();
  // The new session and the reset itself each announce the context.
  EXPECT_EQ(pushCalls,
            (std::vector<std::string>{"recordForReset", "context", "context", "unregister user-d tok app",
                                      "reregisterAfterReset tok app"}));

  client->capture("after");
  const auto after = events().back();
  EXPECT_EQ(after.distinctId, newAnon);
  EXPECT_EQ(after.properties["$is_identified"], false);
  EXPECT_FALSE(after.properties.contains("tier")) << "super properties deleted";
  EXPECT_FALSE(after.properties.contains("$groups"));
  EXPECT_FALSE(after.properties.contains("$screen_name")) << "the last screen is forgotten";

  // With the anonymous id kept and no new id, the token is registered again only.
  auto kept = config("kept");
  kept->reuseAnonymousId = true;
  auto second = setUp(kept);
  const std::string anon = second->getAnonymousId();
  ts.lastPushHandler()->record = DiziZozPushRecordSnapshot{.deviceToken = "t2", .appId = "a2"};
  ts.lastPushHandler()->calls.clear();
  second->reset();
  EXPECT_EQ(second->getAnonymousId(), anon);
  EXPECT_EQ(ts.lastPushHandler()->calls.entries(),
            (std::vector<std::string>{"recordForReset", "context", "context", "reregisterAfterReset t2 a2"}));
}

TEST_F(IdentityTest, BootstrapIdOfAnAnonymousInstallationIsIdentified) {
  auto options = config();
  {
    DiziZozConfig previous(options->projectToken());
    DiziZozStorageManager identity(previous, ts.location());
    identity.getAnonymousId();
  }
  const std::string anon = *files(*options)->getTypedValue<std::string>(Key::anonymousId);
  options->bootstrap = DiziZozBootstrapConfig("boot-user", true);
  auto client = setUp(options);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].event, "$identify");
  EXPECT_EQ(events()[0].properties["distinct_id"], "boot-user");
  EXPECT_EQ(events()[0].properties["$anon_distinct_id"], anon);
  EXPECT_EQ(client->getDistinctId(), "boot-user");
  EXPECT_EQ(files(*options)->getTypedValue<bool>(Key::isIdentified), true);
}

TEST_F(IdentityTest, GroupsAreStoredSentAndReloadFlagsOnlyWhenChanged) {
  auto options = config();
  auto client = setUp(options);
  auto flags = ts.lastRemoteConfig();
  const int reloads = flags->reloads();
  notices = 0;

  client->group("company", "c1");
  client->group("company", "c1");
  ASSERT_EQ(events().size(), 2u);
  EXPECT_EQ(flags->reloads() - reloads, 1);
  EXPECT_EQ(notices, 2);
  EXPECT_EQ(events()[0].event, "$groupidentify");
  EXPECT_EQ(events()[0].properties["$group_type"], "company");
  EXPECT_EQ(events()[0].properties["$group_key"], "c1");
  EXPECT_FALSE(events()[0].properties.contains("$group_set"));

  client->group("company", "c2", Properties{{"name", "Acme"}});
  client->group("team", "t1");
  EXPECT_EQ(flags->reloads() - reloads, 3);
  EXPECT_EQ(files(*options)->getJson(Key::groups), (Properties{{"company", "c2"}, {"team", "t1"}}));
  EXPECT_EQ(events()[2].properties["$group_set"], (Properties{{"name", "Acme"}}));
  EXPECT_EQ(flags->groupProperties(), (Properties{{"company", {{"name", "Acme"}}}}));
  client->capture("e");
  EXPECT_EQ(events().back().properties["$groups"], (Properties{{"company", "c2"}, {"team", "t1"}}));
}

TEST_F(IdentityTest, FlagPropertiesOfPersonsAndGroups) {
  auto options = config();
  auto client = setUp(options);
  auto flags = ts.lastRemoteConfig();
  const int reloads = flags->reloads();

  client->setPersonPropertiesForFlags(Properties::object());
  EXPECT_EQ(flags->reloads(), reloads) << "empty properties neither stored nor reloaded";
  EXPECT_EQ(flags->personProperties(), Properties::object());
  client->setPersonPropertiesForFlags(Properties{{"plan", "pro"}});
  client->setPersonPropertiesForFlags(Properties{{"seats", 3}}, false);
  EXPECT_EQ(flags->personProperties(), (Properties{{"plan", "pro"}, {"seats", 3}}));
  EXPECT_EQ(flags->reloads() - reloads, 1);
  client->resetPersonPropertiesForFlags();
  EXPECT_EQ(flags->personProperties(), Properties::object());

  client->setGroupPropertiesForFlags("company", Properties{{"size", 10}});
  client->setGroupPropertiesForFlags("team", Properties{{"kind", "eng"}}, false);
  client->resetGroupPropertiesForFlags("company");
  EXPECT_EQ(flags->groupProperties(), (Properties{{"team", {{"kind", "eng"}}}}));
  client->resetGroupPropertiesForFlags(std::nullopt, false);
  EXPECT_EQ(flags->groupProperties(), Properties::object());
  EXPECT_EQ(flags->reloads() - reloads, 4);
  EXPECT_TRUE(events().empty()) << "never captured";
}

TEST_F(IdentityTest, RefusedBeforeSetupWhileOptedOutAndWithoutPersonProfiles) {
  auto options = config();
  auto client = ts.client(options);
  CapturedLog log;
  client->identify("user-d");
  client->group("company", "c1");
  client->registerProperties(Properties{{"a", 1}});
  EXPECT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0], DiziZozSDK::notSetUpMessage);

  client->setup(options);
  client->optOut();
  log.lines.clear();
  client->identify("user-d");
  client->group("company", "c1");
  client->alias("x");
  EXPECT_EQ(log.lines, std::vector<std::string>(3, std::string(DiziZozSDK::optOutMessage)));

  auto never = config("never");
  never->personProfiles = dizizoz::DiziZozPersonProfiles::never;
  auto other = setUp(never);
  log.lines.clear();
  other->identify("user-d");
  other->group("company", "c1");
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{
                "[DiziZoz] identify(_:userProperties:userPropertiesSetOnce:) was called, but "
                "`personProfiles` is set to `never`. This call will be ignored.",
                "[DiziZoz] group(type:key:groupProperties:) was called, but `personProfiles` is set "
                "to `never`. This call will be ignored."}));
  EXPECT_TRUE(ts.lastEventQueue()->records().empty());
  EXPECT_EQ(other->getDistinctId(), other->getAnonymousId());
}

}  // namespace
