#include <gtest/gtest.h>

#include <regex>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "app/Analytics.h"
#include "app/DeviceIdentity.h"
#include "app/DiziZozAnalyticsClient.h"
#include "platform/fake/FixedMachineIdentity.h"
#include "platform/fake/MapBundleInfo.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/SeededRandom.h"
#include "tests/support/RecordingAnalyticsClient.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using platform::fake::FixedMachineIdentity;
using platform::fake::MapBundleInfo;
using platform::fake::MemoryUserDefaults;
using platform::fake::SeededRandom;
using quorvelle::Analytics;
using quorvelle::DeviceIdentity;
using quorvelle::test::RecordingAnalyticsClient;

constexpr const char* kMachineUuid = "07AB11F2-1430-4BF0-B53E-4B1E29995688";

TEST(DeviceIdentity, PrefersTheMachineUuidAndStoresNothing) {
  FixedMachineIdentity machine(kMachineUuid);
  MemoryUserDefaults defaults;
  SeededRandom random(1);
  EXPECT_EQ(DeviceIdentity(machine, defaults, random).deviceID(), kMachineUuid);
  EXPECT_EQ(defaults.objectForKey("fallbackDeviceID"), std::nullopt);
}

TEST(DeviceIdentity, WithoutAMachineUuidGeneratesOneFallbackAndKeepsIt) {
  for (std::optional<std::string> machineValue :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    FixedMachineIdentity machine(machineValue);
    MemoryUserDefaults defaults;
    SeededRandom random(7);
    const std::string first = DeviceIdentity(machine, defaults, random).deviceID();
    EXPECT_TRUE(std::regex_match(
        first, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << first;
    EXPECT_EQ(defaults.stringForKey("fallbackDeviceID"), first);

    // A later run (new objects, another random sequence) over the same settings gets the same id.
    SeededRandom otherRandom(99);
    EXPECT_EQ(DeviceIdentity(machine, defaults, otherRandom).deviceID(), first);
  }
}

TEST(DeviceIdentity, AnEmptyStoredFallbackIsReplaced) {
  FixedMachineIdentity machine;
  MemoryUserDefaults defaults(platform::DefaultsValue::Dictionary{{"fallbackDeviceID", ""}});
  SeededRandom random(3);
  const std::string id = DeviceIdentity(machine, defaults, random).deviceID();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(defaults.stringForKey("fallbackDeviceID"), id);
}

struct AnalyticsFixture : ::testing::Test {
  FixedMachineIdentity machine{kMachineUuid};
  MemoryUserDefaults defaults;
  SeededRandom random{1};
  DeviceIdentity device{machine, defaults, random};
  RecordingAnalyticsClient client;
};

TEST_F(AnalyticsFixture, StaysOffWithoutAUsableKeyOrHost) {
  const std::pair<const char*, std::map<std::string, std::string, std::less<>>> cases[] = {
      {"no keys", {}},
      {"no api key", {{"DiziZozHost", "https://eu.example.com"}}},
      {"empty api key", {{"DiziZozAPIKey", ""}, {"DiziZozHost", "https://eu.example.com"}}},
      {"no host", {{"DiziZozAPIKey", "phc_key"}}},
  };
  for (const auto& [name, values] : cases) {
    RecordingAnalyticsClient recording;
    MapBundleInfo bundle(values);
    Analytics analytics(recording, bundle, device);
    analytics.setUp();
    analytics.capture("onboarding_completed", {{"step", 1}});
    EXPECT_FALSE(analytics.enabled()) << name;
    EXPECT_TRUE(recording.calls.empty()) << name;
  }
}

TEST_F(AnalyticsFixture, SetsUpThenIdentifiesByDeviceIdAndCaptures) {
  MapBundleInfo bundle({{"DiziZozAPIKey", "phc_key"}, {"DiziZozHost", "https://eu.example.com"}});
  Analytics analytics(client, bundle, device);
  EXPECT_FALSE(analytics.enabled());
  analytics.setUp();
  EXPECT_TRUE(analytics.enabled());
  ASSERT_EQ(client.setups.size(), 1u);
  EXPECT_EQ(client.setups[0].apiKey, "phc_key");
  EXPECT_EQ(client.setups[0].host, "https://eu.example.com");
  EXPECT_EQ(client.identified, std::vector<std::string>{kMachineUuid});

  analytics.capture("tutorial_step", {{"step", "translate"}}, {{"native_language", "de"}});
  analytics.capture("onboarding_completed");
  analytics.capture("tutorial_skipped", {}, {{"plan", "free"}});
  EXPECT_EQ(client.calls, (std::vector<std::string>{"setup", "identify", "capture", "capture", "capture"}));

  ASSERT_EQ(client.captures.size(), 3u);
  EXPECT_EQ(client.captures[0].event, "tutorial_step");
  EXPECT_EQ(client.captures[0].properties, (dizizoz::Properties{{"step", "translate"}}));
  EXPECT_EQ(client.captures[0].userProperties, (dizizoz::Properties{{"native_language", "de"}}));
  // Empty dictionaries are sent as none at all.
  EXPECT_EQ(client.captures[1].properties, std::nullopt);
  EXPECT_EQ(client.captures[1].userProperties, std::nullopt);
  EXPECT_EQ(client.captures[2].properties, std::nullopt);
  EXPECT_EQ(client.captures[2].userProperties, (dizizoz::Properties{{"plan", "free"}}));
}

TEST_F(AnalyticsFixture, AnEmptyHostIsPassedOnForTheClientToJudge) {
  MapBundleInfo bundle({{"DiziZozAPIKey", "phc_key"}, {"DiziZozHost", ""}});
  Analytics analytics(client, bundle, device);
  analytics.setUp();
  EXPECT_TRUE(analytics.enabled());
  ASSERT_EQ(client.setups.size(), 1u);
  EXPECT_EQ(client.setups[0].host, "");
}

// The application's calls reach the analytics client library as they were made.
TEST(DiziZozAnalyticsClientTest, ConfiguresTheLibraryClientOnlyWithKeyHostAndBundleAndPassesEveryCallOn) {
  dizizoz::test::TestServices ts;
  std::shared_ptr<dizizoz::DiziZozSDK> library;
  int asked = 0;
  const MapBundleInfo bundle({{"CFBundleIdentifier", "com.quorvelle.app"},
                              {"CFBundleShortVersionString", "2.1"},
                              {"CFBundleVersion", "9"}});
  quorvelle::DiziZozAnalyticsClient client(quorvelle::analyticsBundleInfo(bundle), [&] {
    ++asked;
    library = ts.client(std::make_shared<dizizoz::DiziZozConfig>(""));
    return library;
  });
  client.capture("before set-up", dizizoz::Properties{{"a", 1}}, std::nullopt);
  EXPECT_EQ(asked, 0);

  client.setup({.apiKey = "phc_app", .host = "http://127.0.0.1:1"});
  client.setup({.apiKey = "phc_other", .host = "http://127.0.0.1:2"});
  ASSERT_EQ(asked, 1);
  const auto config = library->config();
  EXPECT_EQ(config->projectToken(), "phc_app");
  EXPECT_EQ(config->host(), "http://127.0.0.1:1");
  EXPECT_EQ(config->bundle().shortVersion, "2.1");
  EXPECT_EQ(config->bundle().build, "9");
  EXPECT_EQ(config->flushAt, dizizoz::DiziZozConfig("phc_app").flushAt);

  client.identify("DEVICE-1");
  client.capture("onboarding_language_selected", dizizoz::Properties{{"language", "de"}},
                 dizizoz::Properties{{"native_language", "de"}});
  client.close();
  EXPECT_FALSE(library->isEnabled());
  client.capture("after close", std::nullopt, std::nullopt);

  std::vector<std::string> names;
  for (const auto& event : ts.lastEventQueue()->records()) names.push_back(event.event);
  EXPECT_EQ(names, (std::vector<std::string>{"$identify", "onboarding_language_selected"}));
  const auto selected = ts.lastEventQueue()->records().back();
  EXPECT_EQ(selected.distinctId, "DEVICE-1");
  EXPECT_EQ(selected.properties["language"], "de");
  EXPECT_EQ(selected.properties["$set"]["native_language"], "de");
}

}  // namespace
