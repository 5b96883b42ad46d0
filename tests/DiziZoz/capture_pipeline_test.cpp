#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "DiziZoz/core/ApplicationLifecyclePublisher.h"
#include "DiziZoz/core/ApplicationScreenViewPublisher.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozPropertiesSanitizer.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/ExceptionListMatching.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/FixedStepsBuffer.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::Date;
using dizizoz::DiziZozCaptureArguments;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozPersonProfiles;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using dizizoz::Value;
using dizizoz::test::CapturedLog;
using dizizoz::test::FixedStepsBuffer;
using dizizoz::test::TestServices;
using Key = dizizoz::DiziZozStorage::StorageKey;

class CapturePipelineTest : public ::testing::Test {
 protected:
  CapturePipelineTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozConfig> config() {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_capture_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    options->disableFlushOnBackgroundForTesting = true;
    return options;
  }

  std::shared_ptr<DiziZozSDK> setUp(std::shared_ptr<DiziZozConfig> options) {
    auto client = DiziZozSDK::create(options, services);
    client->setup(options);
    return client;
  }
  std::shared_ptr<DiziZozSDK> setUp() { return setUp(config()); }

  std::vector<DiziZozEvent> events() const { return ts.lastEventQueue()->records(); }
  std::vector<DiziZozEvent> snapshots() const { return ts.lastReplayQueue()->innerQueue().records(); }
  // The properties of the last event in the event queue.
  Properties lastProperties() const {
    auto queued = events();
    return queued.empty() ? Properties() : queued.back().properties;
  }

  TestServices ts;
  dizizoz::DiziZozServices services = ts.services();
};

// What the builder makes of the caller's properties against the context, super properties, registered
// groups, cached flags, the session and the last screen.
TEST_F(CapturePipelineTest, PropertyBuilderPrecedence) {
  auto client = setUp();
  ts.lastRemoteConfig()->setFlags({{"x", true}, {"v", "blue"}, {"off", false}});
  client->storage()->setJson(Key::registerProperties, {{"plan", "pro"}, {"$os_name", "Super"}});
  client->storage()->setJson(Key::groups, {{"company", "acme"}});
  client->screen("Home");
  const std::string session = *client->getSessionId();

  struct Case {
    const char* name;
    DiziZozCaptureArguments arguments;
    std::string key;
    std::optional<Value> expected;  // nothing: the key is absent
  };
  const Case cases[] = {
      {"caller $lib loses to the SDK's", {.properties = Properties{{"$lib", "mine"}}}, "$lib", "dizizoz-ios"},
      {"caller $set loses to the person properties",
       {.properties = Properties{{"$set", {{"a", 1}}}}, .userProperties = Properties{{"b", 2}}},
       "$set",
       Properties{{"b", 2}}},
      {"caller $feature wins", {.properties = Properties{{"$feature/x", "forced"}}}, "$feature/x", "forced"},
      {"caller active flag list wins",
       {.properties = Properties{{"$active_feature_flags", {"mine"}}}},
       "$active_feature_flags",
       Value::array({"mine"})},
      {"cached flag", {}, "$feature/v", "blue"},
      {"active flags leave out false", {}, "$active_feature_flags", Value::array({"v", "x"})},
      {"registered group beats the argument's",
       {.groups = dizizoz::DiziZozGroups{{"company", "other"}, {"team", "t1"}}},
       "$groups",
       Properties{{"company", "acme"}, {"team", "t1"}}},
      {"super property", {}, "plan", "pro"},
      {"super property keeps its value over the caller's",
       {.properties = Properties{{"plan", "free"}}},
       "plan",
       "pro"},
      {"context beats a super property", {}, "$os_name", "Linux"},
      {"caller session id kept", {.properties = Properties{{"$session_id", "mine"}}}, "$session_id", "mine"},
      {"empty session id replaced", {.properties = Properties{{"$session_id", ""}}}, "$session_id", session},
      {"session id of another type replaced",
       {.properties = Properties{{"$session_id", 42}}},
       "$session_id",
       session},
      {"last screen name", {}, "$screen_name", "Home"},
      {"caller screen name", {.properties = Properties{{"$screen_name", "Mine"}}}, "$screen_name", "Mine"},
      {"blank caller screen name",
       {.properties = Properties{{"$screen_name", " \n"}}},
       "$screen_name",
       "Home"},
      {"screen name of another type",
       {.properties = Properties{{"$screen_name", 5}}},
       "$screen_name",
       "Home"},
      {"no distinct id property with shared properties", {}, "distinct_id", std::nullopt},
      {"caller property", {.properties = Properties{{"step", "language"}}}, "step", "language"},
      {"unserialisable caller property dropped",
       {.properties = Properties{{"raw", dizizoz::value::opaque("handle")}}},
       "raw",
       std::nullopt},
      {"address caller property as text",
       {.properties = Properties{{"link", dizizoz::value::url("https://a.example/x")}}},
       "link",
       "https://a.example/x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    client->capture("onboarding_step_completed", c.arguments);
    const Properties properties = lastProperties();
    if (c.expected) {
      EXPECT_EQ(properties.value(c.key, Value()), *c.expected);
    } else {
      EXPECT_FALSE(properties.contains(c.key));
    }
  }
}

TEST_F(CapturePipelineTest, CallerSessionIdLeavesTheSessionAlone) {
  auto client = setUp();
  client->endSession();
  client->capture("e", {.properties = Properties{{"$session_id", "mine"}}});
  EXPECT_EQ(lastProperties()["$session_id"], "mine");
  EXPECT_FALSE(client->getSessionId()) << "the session manager was not asked for an id";
  client->capture("e");
  EXPECT_TRUE(client->getSessionId()) << "an event of its own starts a session in the foreground";
  EXPECT_EQ(lastProperties()["$session_id"], *client->getSessionId());
}

TEST_F(CapturePipelineTest, SnapshotsGoToTheReplayQueueWithoutSharedProperties) {
  auto client = setUp();
  client->storage()->setJson(Key::registerProperties, {{"plan", "pro"}});
  client->screen("Home");
  const std::size_t screens = events().size();
  std::vector<std::string> captured;
  auto token = client->onEventCaptured.subscribe([&](const DiziZozEvent& e) { captured.push_back(e.event); });

  client->capture("$snapshot", {.properties = Properties{{"$snapshot_data", {1, 2}}},
                                .userProperties = Properties{{"name", "A"}},
                                .groups = dizizoz::DiziZozGroups{{"company", "acme"}}});
  ASSERT_EQ(snapshots().size(), 1u);
  EXPECT_EQ(events().size(), screens) << "not in the event queue";
  const Properties p = snapshots()[0].properties;
  EXPECT_EQ(p["distinct_id"], client->getDistinctId());
  EXPECT_EQ(p["$session_id"], *client->getSessionId());
  EXPECT_EQ(p["$lib"], "dizizoz-ios");
  EXPECT_EQ(p["$snapshot_data"], Value::array({1, 2}));
  for (const char* key : {"$os_name", "$set", "$groups", "$is_identified", "$process_person_profile",
                          "$screen_name", "plan", "$timezone"}) {
    EXPECT_FALSE(p.contains(key)) << key;
  }
  EXPECT_EQ(captured, std::vector<std::string>{"$snapshot"});
  EXPECT_EQ(ts.lastRemoteConfig()->personProperties(), (Properties{{"name", "A"}}));

  // A caller's own distinct id stays.
  client->capture("$snapshot", {.properties = Properties{{"distinct_id", "someone"}}});
  EXPECT_EQ(snapshots().back().properties["distinct_id"], "someone");
}

TEST_F(CapturePipelineTest, SnapshotWithoutSessionIsDropped) {
  auto client = setUp();
  // In the background the builder may not start a session.
  dizizoz::ApplicationLifecyclePublisher::shared().appDidEnterBackground();
  client->endSession();
  int captured = 0;
  auto token = client->onEventCaptured.subscribe([&](const DiziZozEvent&) { ++captured; });
  client->capture("$snapshot", {.properties = Properties{{"$snapshot_data", {1}}}});
  dizizoz::ApplicationLifecyclePublisher::shared().appDidBecomeActive();

  EXPECT_TRUE(snapshots().empty());
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(captured, 0);
}

TEST_F(CapturePipelineTest, RoutingFollowsTheNameBeforeSendLeaves) {
  auto options = config();
  options->setBeforeSend([](DiziZozEvent e) -> std::optional<DiziZozEvent> {
    if (e.event == "to_snapshot")
      e.event = "$snapshot";
    else if (e.event == "$snapshot")
      e.event = "from_snapshot";
    return e;
  });
  auto client = setUp(options);
  client->capture("to_snapshot");
  client->capture("$snapshot");
  ASSERT_EQ(snapshots().size(), 1u);
  EXPECT_EQ(snapshots()[0].event, "$snapshot");
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].event, "from_snapshot");
}

TEST_F(CapturePipelineTest, PersonProcessing) {
  const std::string line =
      "[DiziZoz] "
      "captureInternal(_:distinctId:properties:userProperties:userPropertiesSetOnce:groups:timestamp:"
      "skipBuildProperties:propertyAllowlist:) was called, but `personProfiles` is set to `never`. This call "
      "will be ignored.";
  {
    SCOPED_TRACE("never: the line, and the event is kept without a profile");
    auto options = config();
    options->personProfiles = DiziZozPersonProfiles::never;
    auto client = setUp(options);
    CapturedLog log;
    client->capture("e", {.userProperties = Properties{{"name", "A"}}});
    EXPECT_TRUE(log.has(line));
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(lastProperties()["$process_person_profile"], false);
    EXPECT_EQ(lastProperties()["$set"], (Properties{{"name", "A"}}));
    EXPECT_FALSE(options->storageManager->isPersonProcessing());
  }
  {
    SCOPED_TRACE("identified only: person properties switch processing on, for good");
    auto options = config();
    auto client = setUp(options);
    client->capture("plain");
    EXPECT_EQ(lastProperties()["$process_person_profile"], false);
    EXPECT_EQ(lastProperties()["$is_identified"], false);
    client->capture("e", {.userProperties = Properties{{"name", "A"}, {"plan", "pro"}},
                          .userPropertiesSetOnce = Properties{{"name", "B"}, {"first", true}}});
    EXPECT_EQ(lastProperties()["$process_person_profile"], true);
    EXPECT_EQ(lastProperties()["$set_once"], (Properties{{"name", "B"}, {"first", true}}));
    EXPECT_EQ(client->storage()->getTypedValue<bool>(Key::personProcessingEnabled), true);
    EXPECT_EQ(ts.lastRemoteConfig()->personProperties(),
              (Properties{{"name", "A"}, {"plan", "pro"}, {"first", true}}))
        << "set wins over set-once for flag requests";
    client->capture("plain");
    EXPECT_EQ(lastProperties()["$process_person_profile"], true);
  }
  {
    SCOPED_TRACE("always");
    auto options = config();
    options->personProfiles = DiziZozPersonProfiles::always;
    auto client = setUp(options);
    client->capture("plain");
    EXPECT_EQ(lastProperties()["$process_person_profile"], true);
  }
}

TEST_F(CapturePipelineTest, ExceptionEvents) {
  services.makeExceptionStepsBuffer = [](int, dizizoz::DiziZozExceptionStepsBuffering::OnStepsChanged) {
    return std::make_shared<FixedStepsBuffer>(std::vector<Properties>{{{"$message", "buffered"}}});
  };
  auto options = config();
  auto client = setUp(options);
  const auto exceptionOf = [](const char* type) {
    return Properties{{"$exception_list", {{{"type", type}, {"value", "boom"}}}}};
  };

  CapturedLog log;
  client->capture("$exception", {.properties = exceptionOf("RCTFatalException")});
  EXPECT_TRUE(events().empty()) << "an ignored type by default";
  EXPECT_TRUE(
      log.has("[DiziZoz] $exception skipped: exception type is in "
              "errorTrackingConfig.ignoredExceptionTypes"));

  client->capture("$exception", {.properties = exceptionOf("MyError")});
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(lastProperties()["$exception_steps"], Value::array({{{"$message", "buffered"}}}));

  Properties own = exceptionOf("MyError");
  own["$exception_steps"] = Value::array({{{"$message", "mine"}}});
  client->capture("$exception", {.properties = own});
  EXPECT_EQ(lastProperties()["$exception_steps"], own["$exception_steps"]) << "the caller's steps are kept";

  client->capture("other");
  EXPECT_FALSE(lastProperties().contains("$exception_steps"));

  options->errorTrackingConfig->exceptionSteps->enabled = false;
  client->capture("$exception", {.properties = exceptionOf("MyError")});
  EXPECT_FALSE(lastProperties().contains("$exception_steps"));

  options->errorTrackingConfig->ignoredExceptionTypes.clear();
  client->capture("$exception", {.properties = exceptionOf("RCTFatalException")});
  EXPECT_EQ(events().size(), 5u) << "nothing is ignored with an empty list";
}

TEST(ExceptionListMatchingTest, MatchesAnEntryTypeExactly) {
  using dizizoz::exceptionListMatchesIgnoredTypes;
  const std::vector<std::string> ignored{"Ignored"};
  struct Case {
    const char* name;
    Properties properties;
    bool matches;
  };
  const Case cases[] = {
      {"second entry", {{"$exception_list", {{{"type", "Other"}}, {{"type", "Ignored"}}}}}, true},
      {"other case", {{"$exception_list", {{{"type", "ignored"}}}}}, false},
      {"type not text", {{"$exception_list", {{{"type", 1}}}}}, false},
      {"no list", Properties::object(), false},
      {"list not of objects", {{"$exception_list", {"Ignored", {{"type", "Ignored"}}}}}, false},
      {"not an object", Value::array({1}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(exceptionListMatchesIgnoredTypes(c.properties, ignored), c.matches);
  }
}

TEST_F(CapturePipelineTest, RefusalsQueueNothingAndReachNoSubscriber) {
  auto options = config();
  options->debug = true;
  auto client = DiziZozSDK::create(options, services);
  int captured = 0;
  auto token = client->onEventCaptured.subscribe([&](const DiziZozEvent&) { ++captured; });
  CapturedLog log;

  client->capture("before setup");
  EXPECT_EQ(log.lines, std::vector<std::string>{std::string(DiziZozSDK::notSetUpMessage)});

  client->setup(options);
  log.lines.clear();
  options->optOut = true;
  client->capture("opted out", {.userProperties = Properties{{"name", "A"}}});
  client->screen("Home");
  EXPECT_EQ(log.lines, std::vector<std::string>(2, std::string(DiziZozSDK::optOutMessage)));
  EXPECT_FALSE(options->storageManager->isPersonProcessing());
  options->optOut = false;

  log.lines.clear();
  client->capture("bad \xff name");
  client->capture("e", {.distinctId = std::string("\xC0\x80")});
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"[DiziZoz] capture refused: the event name is not valid UTF-8",
                                      "[DiziZoz] capture refused: the distinct id is not valid UTF-8"}));

  EXPECT_TRUE(events().empty());
  EXPECT_EQ(captured, 0);

  client->capture("e", {.distinctId = std::string("someone")});
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].distinctId, "someone");
  EXPECT_EQ(captured, 1);
}

TEST_F(CapturePipelineTest, DroppedEventsAreNamedWithAWarningForTheClientsOwn) {
  auto options = config();
  options->setBeforeSend([](DiziZozEvent) -> std::optional<DiziZozEvent> { return std::nullopt; });
  auto client = setUp(options);
  int captured = 0;
  auto token = client->onEventCaptured.subscribe([&](const DiziZozEvent&) { ++captured; });
  int published = 0;
  auto screens = dizizoz::ApplicationScreenViewPublisher::shared().onScreenView().subscribe(
      [&](const std::string&) { ++published; });

  CapturedLog log;
  client->capture("$identify");
  client->capture("onboarding_started");
  client->screen("Home");
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{
                "[DiziZoz] DiziZoz event $identify was dropped. This can cause unexpected behavior.",
                "[DiziZoz] DiziZoz event onboarding_started was dropped",
                "[DiziZoz] DiziZoz event $screen was dropped. This can cause unexpected behavior.",
            }));
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(captured, 0);
  EXPECT_EQ(published, 0);
}

class ThrowingSanitizer final : public dizizoz::DiziZozPropertiesSanitizer {
 public:
  Properties sanitize(Properties) override { throw std::runtime_error("sanitizer broke"); }
};

class ReplacingSanitizer final : public dizizoz::DiziZozPropertiesSanitizer {
 public:
  explicit ReplacingSanitizer(Properties result) : result_(std::move(result)) {}
  Properties sanitize(Properties) override { return result_; }

 private:
  Properties result_;
};

TEST_F(CapturePipelineTest, HooksThatThrowDropTheEvent) {
  struct Case {
    const char* name;
    std::shared_ptr<dizizoz::DiziZozPropertiesSanitizer> sanitizer;
    bool beforeSendThrows;
    const char* failure;
  };
  const Case cases[] = {
      {"sanitizer", std::make_shared<ThrowingSanitizer>(), false,
       "[DiziZoz] A before-send hook or the properties sanitizer failed: sanitizer broke"},
      {"before-send", nullptr, true,
       "[DiziZoz] A before-send hook or the properties sanitizer failed: scrubber broke"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestServices local;
    auto options = std::make_shared<DiziZozConfig>(std::string("phc_throw_") + c.name);
    options->propertiesSanitizer = c.sanitizer;
    bool laterHookRan = false;
    if (c.beforeSendThrows) {
      options->setBeforeSend(
          [](DiziZozEvent) -> std::optional<DiziZozEvent> { throw std::runtime_error("scrubber broke"); },
          [&](DiziZozEvent e) -> std::optional<DiziZozEvent> {
            laterHookRan = true;
            return e;
          });
    }
    auto client = local.client(options);
    client->setup(options);
    CapturedLog log;
    client->capture("secret", {.properties = Properties{{"password", "hunter2"}}});
    EXPECT_TRUE(local.lastEventQueue()->records().empty());
    EXPECT_FALSE(laterHookRan);
    EXPECT_EQ(log.lines, (std::vector<std::string>{c.failure, "[DiziZoz] DiziZoz event secret was dropped"}));
  }
}

TEST_F(CapturePipelineTest, PropertiesSanitizerRunsBeforeTheChain) {
  auto options = config();
  auto sanitizer = std::make_shared<ReplacingSanitizer>(Properties{{"clean", true}});
  options->propertiesSanitizer = sanitizer;
  Properties seen;
  options->setBeforeSend([&](DiziZozEvent e) -> std::optional<DiziZozEvent> {
    seen = e.properties;
    return e;
  });
  auto client = setUp(options);
  client->capture("e", {.properties = Properties{{"dirty", true}}});
  EXPECT_EQ(seen, (Properties{{"clean", true}}));

  // A result that is not an object leaves the properties as they were.
  options->propertiesSanitizer = std::make_shared<ReplacingSanitizer>(Value::array({1}));
  client->capture("e", {.properties = Properties{{"dirty", true}}});
  EXPECT_EQ(seen["dirty"], true);
  EXPECT_EQ(lastProperties()["dirty"], true);
}

TEST_F(CapturePipelineTest, WithoutHooksPropertiesPassUnchangedAndEachEventGetsItsOwnId) {
  auto options = config();
  Properties seen;
  options->setBeforeSend([&](DiziZozEvent e) -> std::optional<DiziZozEvent> {
    seen = e.properties;
    return e;
  });
  auto client = setUp(options);
  const Date at = ts.clock.now() - std::chrono::hours(1);
  const Properties built =
      client->buildProperties("d", Properties{{"k", 1}}, std::nullopt, std::nullopt, std::nullopt, true, at);
  auto first = client->buildEvent("e", "d", built, at);
  auto second = client->buildEvent("e", "d", built, at);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(seen, built);
  EXPECT_EQ(first->properties, built);
  EXPECT_EQ(first->timestamp, at);
  EXPECT_EQ(first->uuid.version(), 7);
  EXPECT_EQ(second->uuid.version(), 7);
  EXPECT_NE(first->uuid, second->uuid);
}

TEST_F(CapturePipelineTest, TextHooksLeaveThatJsonCannotCarryNeverReachesTheQueue) {
  auto options = config();
  options->setBeforeSend([](DiziZozEvent e) -> std::optional<DiziZozEvent> {
    if (e.event == "rename") e.event = "bad\xff";
    e.properties["broken"] = "\xff";
    e.properties["link"] = dizizoz::value::url("https://a.example/");
    return e;
  });
  auto client = setUp(options);
  CapturedLog log;
  client->capture("rename");
  EXPECT_TRUE(events().empty());
  EXPECT_TRUE(log.has("[DiziZoz] An event was dropped: its name or distinct id is not valid UTF-8"));

  client->capture("kept", {.properties = Properties{{"step", 1}}});
  ASSERT_EQ(events().size(), 1u);
  EXPECT_FALSE(lastProperties().contains("broken"));
  EXPECT_EQ(lastProperties()["link"], "https://a.example/");
  EXPECT_EQ(lastProperties()["step"], 1);
  EXPECT_TRUE(log.has("[DiziZoz] property: broken isn't serializable, dropping the item"));
  EXPECT_NO_THROW((void)events()[0].toJSON().dump());
}

TEST_F(CapturePipelineTest, SessionOperations) {
  auto options = config();
  auto client = DiziZozSDK::create(options, services);
  {
    CapturedLog log;
    EXPECT_FALSE(client->getSessionId());
    client->startSession();
    client->endSession();
    EXPECT_EQ(log.lines, std::vector<std::string>(3, std::string(DiziZozSDK::notSetUpMessage)));
    EXPECT_FALSE(client->sessionManager().getSessionId(true)) << "no session was created";
  }
  client->setup(options);
  const auto first = client->getSessionId();
  ASSERT_TRUE(first);
  EXPECT_EQ(client->getSessionId(), first);
  client->endSession();
  EXPECT_FALSE(client->getSessionId()) << "reading does not start a session";
  client->startSession();
  ASSERT_TRUE(client->getSessionId());
  EXPECT_NE(client->getSessionId(), first);
}

// The zone is read from the host once per session: a move mid-session shows from the next session on.
TEST_F(CapturePipelineTest, EventsCarryTheTimeZoneTheSessionStartedIn) {
  auto client = setUp();
  const auto zoneOfNextEvent = [&] {
    client->capture("tick");
    return events().back().properties["$timezone"];
  };
  EXPECT_EQ(zoneOfNextEvent(), "Europe/Berlin");
  ts.hostFacts->zone = "Asia/Tokyo";
  EXPECT_EQ(zoneOfNextEvent(), "Europe/Berlin") << "the same session keeps its zone";
  client->endSession();
  client->startSession();
  EXPECT_EQ(zoneOfNextEvent(), "Asia/Tokyo") << "a new session reads the zone again";
}

}  // namespace
