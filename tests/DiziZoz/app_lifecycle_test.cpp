#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/integrations/DiziZozAppLifeCycleIntegration.h"
#include "DiziZoz/integrations/DiziZozIntegrationFactories.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeAppLifecycle.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozAppLifeCycleIntegration;
using dizizoz::DiziZozBundleInfo;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using dizizoz::test::FakeAppLifecycle;
using dizizoz::test::TestServices;
using platform::DefaultsValue;
using platform::fake::MemoryUserDefaults;

constexpr const char* kOpenedAgainLine =
    "[DiziZoz] Skipping Application Opened event - app already in foreground";
constexpr const char* kInstallOptionOffLine =
    "[DiziZoz] Skipping Application Installed/Application Updated event - captureApplicationLifecycleEvents "
    "is "
    "disabled in configuration";

// The life-cycle keys an event carries, for comparing without the properties every event gets.
Properties lifecycleProperties(const DiziZozEvent& event) {
  Properties picked = Properties::object();
  for (const char* key : {"previous_version", "previous_build", "version", "build", "from_background"}) {
    if (event.properties.contains(key)) picked[key] = event.properties[key];
  }
  return picked;
}

class AppLifecycleTest : public ::testing::Test {
 protected:
  AppLifecycleTest() {
    dizizoz::test::registerFakeIntegrations();
    DiziZozAppLifeCycleIntegration::resetInstallOrUpdateCheckForTesting();
    useDefaults(std::make_shared<MemoryUserDefaults>());
  }
  ~AppLifecycleTest() override { dizizoz::test::registerFakeIntegrations(); }

  // New integrations made by set-up keep their version keys in `defaults` and listen to `lifecycle`.
  void useDefaults(std::shared_ptr<MemoryUserDefaults> defaults) {
    this->defaults = defaults;
    DiziZozConfig::setIntegrationFactory(dizizoz::DiziZozIntegrationKind::appLifecycle, [this, defaults] {
      return std::make_shared<DiziZozAppLifeCycleIntegration>(defaults, lifecycle);
    });
  }

  std::shared_ptr<DiziZozConfig> config(DiziZozBundleInfo bundle = {.shortVersion = "1.1", .build = "42"}) {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_lifecycle_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            std::to_string(++clients),
        bundle);
    options->disableFlushOnBackgroundForTesting = true;
    return options;
  }
  std::shared_ptr<DiziZozSDK> setUp(std::shared_ptr<DiziZozConfig> options) {
    auto client = ts.client(options);
    client->setup(options);
    return client;
  }

  std::vector<std::string> eventNames() const {
    std::vector<std::string> names;
    for (const auto& e : ts.lastEventQueue()->records()) names.push_back(e.event);
    return names;
  }

  TestServices ts;
  FakeAppLifecycle lifecycle;
  std::shared_ptr<MemoryUserDefaults> defaults;
  int clients = 0;
};

TEST_F(AppLifecycleTest, InstallOrUpdateIsDecidedByTheStoredBuildAlone) {
  struct Case {
    const char* name;
    DefaultsValue::Dictionary stored;
    DiziZozBundleInfo bundle;
    std::optional<std::string> event;  // nothing: no install/update event
    Properties properties;
    DefaultsValue::Dictionary storedAfter;
  };
  const Case cases[] = {
      {.name = "first run",
       .stored = {},
       .bundle = {.shortVersion = "1.1", .build = "42"},
       .event = "Application Installed",
       .properties = {{"version", "1.1"}, {"build", 42}},
       .storedAfter = {{"DZGVersionKey", "1.1"}, {"DZGBuildKeyV2", "42"}}},
      {.name = "same build: nothing, nothing rewritten",
       .stored = {{"DZGVersionKey", "0.9"}, {"DZGBuildKeyV2", "42"}},
       .bundle = {.shortVersion = "1.1", .build = "42"},
       .event = std::nullopt,
       .properties = {},
       .storedAfter = {{"DZGVersionKey", "0.9"}, {"DZGBuildKeyV2", "42"}}},
      {.name = "new build",
       .stored = {{"DZGVersionKey", "1.0"}, {"DZGBuildKeyV2", "41"}},
       .bundle = {.shortVersion = "1.1", .build = "42"},
       .event = "Application Updated",
       .properties = {{"previous_version", "1.0"}, {"previous_build", 41}, {"version", "1.1"}, {"build", 42}},
       .storedAfter = {{"DZGVersionKey", "1.1"}, {"DZGBuildKeyV2", "42"}}},
      {.name = "same version, new build",
       .stored = {{"DZGVersionKey", "1.1"}, {"DZGBuildKeyV2", "41"}},
       .bundle = {.shortVersion = "1.1", .build = "42"},
       .event = "Application Updated",
       .properties = {{"previous_version", "1.1"}, {"previous_build", 41}, {"version", "1.1"}, {"build", 42}},
       .storedAfter = {{"DZGVersionKey", "1.1"}, {"DZGBuildKeyV2", "42"}}},
      {.name = "dotted build stays text",
       .stored = {},
       .bundle = {.shortVersion = "1.2", .build = "1.2.3"},
       .event = "Application Installed",
       .properties = {{"version", "1.2"}, {"build", "1.2.3"}},
       .storedAfter = {{"DZGVersionKey", "1.2"}, {"DZGBuildKeyV2", "1.2.3"}}},
      {.name = "leading zeros: sent as a number, stored as written",
       .stored = {{"DZGBuildKeyV2", "0041"}},
       .bundle = {.shortVersion = std::nullopt, .build = "0042"},
       .event = "Application Updated",
       .properties = {{"previous_build", 41}, {"build", 42}},
       .storedAfter = {{"DZGBuildKeyV2", "0042"}}},
      {.name = "stored version alone counts as a first run",
       .stored = {{"DZGVersionKey", "0.9"}},
       .bundle = {.shortVersion = "1.1", .build = "42"},
       .event = "Application Installed",
       .properties = {{"version", "1.1"}, {"build", 42}},
       .storedAfter = {{"DZGVersionKey", "1.1"}, {"DZGBuildKeyV2", "42"}}},
      {.name = "no current build keeps the stored one",
       .stored = {{"DZGVersionKey", "1.0"}, {"DZGBuildKeyV2", "41"}},
       .bundle = {.shortVersion = "1.1", .build = std::nullopt},
       .event = "Application Updated",
       .properties = {{"previous_version", "1.0"}, {"previous_build", 41}, {"version", "1.1"}},
       .storedAfter = {{"DZGVersionKey", "1.1"}, {"DZGBuildKeyV2", "41"}}},
      {.name = "nothing current, nothing stored",
       .stored = {},
       .bundle = {},
       .event = "Application Installed",
       .properties = Properties::object(),
       .storedAfter = {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DiziZozAppLifeCycleIntegration::resetInstallOrUpdateCheckForTesting();
    useDefaults(std::make_shared<MemoryUserDefaults>(c.stored));
    auto client = setUp(config(c.bundle));
    const auto events = ts.lastEventQueue()->records();
    if (c.event) {
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0].event, *c.event);
      EXPECT_EQ(lifecycleProperties(events[0]), c.properties);
    } else {
      EXPECT_TRUE(events.empty());
    }
    EXPECT_EQ(defaults->dictionaryRepresentation(), c.storedAfter);
  }
}

TEST_F(AppLifecycleTest, TheRegisteredIntegrationKeepsItsKeysInTheGivenDefaults) {
  auto programDefaults = std::make_shared<MemoryUserDefaults>();
  dizizoz::registerIntegrationFactories(programDefaults);
  auto client = setUp(config());
  EXPECT_EQ(eventNames(), std::vector<std::string>{"Application Installed"});
  EXPECT_EQ(programDefaults->stringForKey("DZGBuildKeyV2"), "42");
}

TEST_F(AppLifecycleTest, TheCheckMadeWithTheOptionOffIsUsedUpForTheProcess) {
  // Set-up builds no life-cycle integration while the option is off; one added later makes the check.
  auto options = config();
  options->captureApplicationLifecycleEvents = false;
  auto client = setUp(options);
  CapturedLog log;
  auto integration = std::make_shared<DiziZozAppLifeCycleIntegration>(defaults, lifecycle);
  client->addIntegration(integration);
  ASSERT_EQ(client->installedIntegrations().back(), integration);
  EXPECT_TRUE(eventNames().empty());
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), kInstallOptionOffLine), log.lines.end());
  EXPECT_TRUE(defaults->dictionaryRepresentation().empty()) << "nothing was looked at";

  // Switched back on: neither launching nor a later client repeats the check.
  options->captureApplicationLifecycleEvents = true;
  lifecycle.finishedLaunching.invoke();
  EXPECT_TRUE(eventNames().empty());
  client->removeIntegration(integration);
  client.reset();
  auto next = setUp(config());
  EXPECT_TRUE(eventNames().empty());
  lifecycle.becomeActive();
  EXPECT_EQ(eventNames(), std::vector<std::string>{"Application Opened"}) << "the integration itself works";
}

TEST_F(AppLifecycleTest, ASecondClientAfterTheFirstIsClosedGetsTheEventsButNoSecondCheck) {
  auto first = setUp(config());
  EXPECT_EQ(eventNames(), std::vector<std::string>{"Application Installed"});
  EXPECT_EQ(lifecycle.becameActive.subscriberCount(), 1u);

  // While the first holds the integration, another client's install is skipped and hears nothing.
  auto other = setUp(config());
  lifecycle.becomeActive();
  EXPECT_TRUE(eventNames().empty());
  EXPECT_EQ(lifecycle.becameActive.subscriberCount(), 1u);
  other.reset();

  first.reset();
  EXPECT_EQ(lifecycle.becameActive.subscriberCount(), 0u);
  EXPECT_EQ(lifecycle.enteredBackground.subscriberCount(), 0u);
  EXPECT_EQ(lifecycle.finishedLaunching.subscriberCount(), 0u);

  useDefaults(std::make_shared<MemoryUserDefaults>());  // would be a first run again
  auto second = setUp(config());
  EXPECT_TRUE(eventNames().empty()) << "one install/update check per process";
  const auto installed = second->installedIntegrations();
  EXPECT_TRUE(std::any_of(installed.begin(), installed.end(), [](const auto& integration) {
    return dizizoz::integrationTypeName(*integration) == "DiziZozAppLifeCycleIntegration";
  }));
  lifecycle.becomeActive();
  lifecycle.enterBackground();
  EXPECT_EQ(eventNames(), (std::vector<std::string>{"Application Opened", "Application Backgrounded"}));
}

TEST_F(AppLifecycleTest, OpenedCarriesVersionAndBuildOnlyTheFirstTime) {
  useDefaults(std::make_shared<MemoryUserDefaults>(DefaultsValue::Dictionary{{"DZGBuildKeyV2", "0042"}}));
  auto client = setUp(config({.shortVersion = "1.1", .build = "0042"}));
  ASSERT_TRUE(eventNames().empty());

  lifecycle.becomeActive();
  lifecycle.enterBackground();
  lifecycle.becomeActive();
  const auto events = ts.lastEventQueue()->records();
  ASSERT_EQ(eventNames(), (std::vector<std::string>{"Application Opened", "Application Backgrounded",
                                                    "Application Opened"}));
  EXPECT_EQ(lifecycleProperties(events[0]),
            (Properties{{"from_background", false}, {"version", "1.1"}, {"build", 42}}));
  EXPECT_EQ(lifecycleProperties(events[1]), Properties::object());
  EXPECT_EQ(lifecycleProperties(events[2]), (Properties{{"from_background", true}}));
}

TEST_F(AppLifecycleTest, RepeatedNotificationsAndTheOptionSwitchedOffCaptureNothing) {
  useDefaults(std::make_shared<MemoryUserDefaults>(DefaultsValue::Dictionary{{"DZGBuildKeyV2", "42"}}));
  auto options = config();
  auto client = setUp(options);
  CapturedLog log;

  lifecycle.enterBackground();  // already inactive
  lifecycle.becomeActive();
  lifecycle.becomeActive();
  EXPECT_EQ(eventNames(), std::vector<std::string>{"Application Opened"});
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), kOpenedAgainLine), log.lines.end());

  // Read at each event: off silences the events, but the state still follows the application.
  options->captureApplicationLifecycleEvents = false;
  lifecycle.enterBackground();
  options->captureApplicationLifecycleEvents = true;
  lifecycle.enterBackground();
  lifecycle.becomeActive();
  const auto events = ts.lastEventQueue()->records();
  ASSERT_EQ(eventNames(), (std::vector<std::string>{"Application Opened", "Application Opened"}));
  EXPECT_EQ(lifecycleProperties(events[1]), (Properties{{"from_background", true}}));
}

TEST_F(AppLifecycleTest, AFreshLaunchOpenedWhileTheOptionIsOffKeepsVersionAndBuildForLater) {
  useDefaults(std::make_shared<MemoryUserDefaults>(DefaultsValue::Dictionary{{"DZGBuildKeyV2", "42"}}));
  auto options = config();
  auto client = setUp(options);
  options->captureApplicationLifecycleEvents = false;
  lifecycle.becomeActive();
  lifecycle.enterBackground();
  options->captureApplicationLifecycleEvents = true;
  lifecycle.becomeActive();
  const auto events = ts.lastEventQueue()->records();
  ASSERT_EQ(eventNames(), std::vector<std::string>{"Application Opened"});
  EXPECT_EQ(lifecycleProperties(events[0]),
            (Properties{{"from_background", false}, {"version", "1.1"}, {"build", 42}}));
}

}  // namespace
