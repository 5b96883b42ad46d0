#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozContext.h"
#include "DiziZoz/core/Versions.h"
#include "platform/AppNotifications.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/FixedHostFacts.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/StoredKeyWindowScreen.h"
#include "tests/support/dizizoz/FakeReachability.h"

namespace {

using dizizoz::DiziZozBundleInfo;
using dizizoz::DiziZozConnection;
using dizizoz::DiziZozContext;
using dizizoz::Properties;
using dizizoz::Value;
namespace names = platform::notifications;

template <typename T>
std::shared_ptr<T> unowned(T& object) {
  return std::shared_ptr<T>(std::shared_ptr<void>(), &object);
}

class EventContextTest : public ::testing::Test {
 protected:
  std::shared_ptr<DiziZozContext> context(
      DiziZozBundleInfo bundle = {},
      std::shared_ptr<dizizoz::DiziZozReachabilityMonitoring> reachability = {}, bool withScreen = true) {
    auto made = std::make_shared<DiziZozContext>(DiziZozContext::Sources{
        .bundle = std::move(bundle),
        .hostFacts = host,
        .keyWindowScreen = withScreen ? screen : nullptr,
        .reachability = std::move(reachability),
        .mainExecutor = unowned(executor),
        .notificationCenter = notifications,
    });
    made->registerNotifications();
    return made;
  }

  std::shared_ptr<platform::fake::FixedHostFacts> host = std::make_shared<platform::fake::FixedHostFacts>();
  std::shared_ptr<platform::fake::StoredKeyWindowScreen> screen =
      std::make_shared<platform::fake::StoredKeyWindowScreen>();
  platform::fake::ManualExecutor executor;
  std::shared_ptr<platform::NotificationCenter> notifications =
      std::make_shared<platform::NotificationCenter>();
};

TEST(MacModelNames, FirstMatchingRuleNamesTheModel) {
  struct Case {
    const char* model;
    const char* name;
  };
  const Case cases[] = {
      {"", "Mac"},
      {"MacBookAir10,1", "MacBook Air"},
      {"MacBookPro18,1", "MacBook Pro"},
      {"MacBook10,1", "MacBook"},
      {"Macmini9,1", "Mac mini"},
      {"MacPro7,1", "Mac Pro"},
      {"MacStudio1,1", "Mac Studio"},
      {"Mac13,2", "Mac Studio"},
      {"iMac21,1", "iMac"},
      {"Mac14,2", "MacBook Air"},
      {"Mac14,15", "MacBook Air"},
      {"Mac15,7", "MacBook Air"},
      {"Mac14,3", "MacBook Pro"},
      {"Mac15,10", "MacBook Pro"},
      {"Mac16,1", "Mac"},
      {"VirtualMac2,1", "Mac (Virtual)"},
      {"arm64", "Mac"},
      {"x86_64", "Mac"},
      {"macbookpro18,1", "Mac"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dizizoz::macModelToFriendlyName(c.model), c.name) << c.model;
  }
}

TEST_F(EventContextTest, StaticContextDescribesTheApplicationAndTheHost) {
  DiziZozBundleInfo bundle{.identifier = "com.quorvelle.app", .shortVersion = "1.4.2", .name = "Quorvelle"};
  bundle.build = "42";
  const Properties expected{
      {"$app_name", "Quorvelle"},
      {"$app_version", "1.4.2"},
      {"$app_build", 42},
      {"$app_namespace", "com.quorvelle.app"},
      {"$is_testflight", false},
      {"$is_sideloaded", false},
      {"$device_manufacturer", "Quorvelle Labs"},
      {"$device_model", "x86_64"},
      {"$device_type", "Desktop"},
      {"$is_emulator", false},
      {"$is_ios_running_on_mac", false},
      {"$is_mac_catalyst_app", false},
      {"$device_name", "Workstation 7"},
      {"$os_name", "Linux"},
      {"$os_version", dizizoz::osVersionString()},
  };
  auto made = context(bundle);
  EXPECT_EQ(made->staticContext(), expected);
  EXPECT_EQ(made->sdkInfo(), (Properties{{"$lib", "dizizoz-ios"}, {"$lib_version", "3.69.5"}}));
  EXPECT_EQ(made->personPropertiesContext(), (Properties{{"$app_version", "1.4.2"},
                                                         {"$app_build", 42},
                                                         {"$app_namespace", "com.quorvelle.app"},
                                                         {"$os_name", "Linux"},
                                                         {"$os_version", dizizoz::osVersionString()},
                                                         {"$device_type", "Desktop"},
                                                         {"$lib", "dizizoz-ios"},
                                                         {"$lib_version", "3.69.5"}}));

  // Cached: later changes of the host do not reach an existing context.
  host->maker = "Someone Else";
  EXPECT_EQ(made->staticContext()["$device_manufacturer"], "Quorvelle Labs");
}

TEST_F(EventContextTest, ApplicationKeysFollowTheBundle) {
  struct Case {
    const char* name;
    std::optional<std::string> build;
    std::optional<Value> expectedBuild;
  };
  const Case cases[] = {
      {"integer", "42", Value(42)},
      {"dotted", "1.2.3", Value("1.2.3")},
      {"plus sign", "+7", Value(7)},
      {"none", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DiziZozBundleInfo bundle;
    bundle.build = c.build;
    auto made = context(bundle);
    const auto& keys = made->staticContext();
    if (c.expectedBuild) {
      EXPECT_EQ(keys["$app_build"], *c.expectedBuild);
    } else {
      EXPECT_EQ(keys.count("$app_build"), 0u);
    }
    EXPECT_EQ(keys["$app_namespace"], "com.dizizoz.unknown") << "no bundle identifier";
    EXPECT_EQ(keys.count("$app_name"), 0u);
    EXPECT_EQ(keys.count("$app_version"), 0u);
  }
}

TEST_F(EventContextTest, UnreadableFirmwareFactsAreLeftOut) {
  host->maker.reset();
  host->product.reset();
  host->machineName = "";
  const Properties keys = context()->staticContext();
  EXPECT_EQ(keys.count("$device_manufacturer"), 0u);
  EXPECT_EQ(keys.count("$device_name"), 0u);
  EXPECT_EQ(keys["$device_model"], "");
}

TEST_F(EventContextTest, ScreenKeysFollowTheKeyWindowNotifications) {
  auto made = context();
  screen->size = platform::Size{2560, 1440};
  EXPECT_EQ(made->dynamicContext().count("$screen_width"), 0u) << "unknown before the first notification";

  for (auto name :
       {names::windowDidBecomeKey, names::windowDidChangeScreen, names::applicationDidBecomeActive}) {
    SCOPED_TRACE(name);
    screen->size = platform::Size{1920.5, 1080};
    notifications->post(std::string(name));
    auto keys = made->dynamicContext();
    EXPECT_EQ(keys["$screen_width"], 1920.5);
    EXPECT_EQ(keys["$screen_height"], 1080.0);

    // A refresh while no window is key forgets the size.
    screen->size.reset();
    notifications->post(std::string(name));
    keys = made->dynamicContext();
    EXPECT_EQ(keys.count("$screen_width"), 0u);
    EXPECT_EQ(keys.count("$screen_height"), 0u);
  }

  // Without a key-window source there are never screen keys.
  auto blind = context({}, nullptr, false);
  notifications->post(std::string(names::windowDidBecomeKey));
  EXPECT_EQ(blind->dynamicContext().count("$screen_width"), 0u);

  // Once released, the context observes nothing.
  made.reset();
  notifications->post(std::string(names::windowDidBecomeKey));
}

TEST_F(EventContextTest, ScreenIsMeasuredOnTheMainExecutor) {
  auto made = context();
  screen->size = platform::Size{800, 600};
  std::thread([&] { notifications->post(std::string(names::windowDidBecomeKey)); }).join();
  EXPECT_EQ(made->dynamicContext().count("$screen_width"), 0u) << "not measured off the main thread";
  executor.runUntilIdle();
  EXPECT_EQ(made->dynamicContext()["$screen_width"], 800.0);
}

TEST_F(EventContextTest, DynamicContextHasLocaleTimeZoneAndNetworkOnlyWithAMonitor) {
  auto without = context();
  EXPECT_EQ(without->dynamicContext(), (Properties{{"$locale", "en"}, {"$timezone", "Europe/Berlin"}}));

  host->language.reset();
  auto reachability = std::make_shared<dizizoz::test::FakeReachability>(DiziZozConnection::wifi);
  auto with = context({}, reachability);
  EXPECT_EQ(
      with->dynamicContext(),
      (Properties{{"$timezone", "Europe/Berlin"}, {"$network_wifi", true}, {"$network_cellular", false}}));
  reachability->setConnection(DiziZozConnection::unavailable);
  EXPECT_EQ(with->dynamicContext()["$network_wifi"], false);
}

TEST_F(EventContextTest, TimeZoneIsReadOnceUntilRefreshed) {
  auto made = context();
  EXPECT_EQ(made->dynamicContext()["$timezone"], "Europe/Berlin");
  host->zone = "Asia/Tokyo";
  EXPECT_EQ(made->dynamicContext()["$timezone"], "Europe/Berlin") << "kept, not read per event";
  made->refreshTimeZone();
  EXPECT_EQ(made->dynamicContext()["$timezone"], "Asia/Tokyo");
  EXPECT_EQ(context()->dynamicContext()["$timezone"], "Asia/Tokyo") << "a new context reads it afresh";
}

}  // namespace
