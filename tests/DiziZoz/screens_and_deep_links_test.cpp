#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/ApplicationScreenViewPublisher.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozDeepLinkHelper.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozScreenNameSanitizer.h"
#include "DiziZoz/integrations/DiziZozIntegrationFactories.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::ApplicationScreenViewPublisher;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozSDK;
using dizizoz::DiziZozUserActivity;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using dizizoz::test::TestServices;

class ScreensAndDeepLinksTest : public ::testing::Test {
 protected:
  ScreensAndDeepLinksTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozConfig> config(const std::string& suffix = "") {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_screens_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
        suffix);
    options->disableFlushOnBackgroundForTesting = true;
    return options;
  }
  std::shared_ptr<DiziZozSDK> setUp(std::shared_ptr<DiziZozConfig> options) {
    auto client = ts.client(options);
    client->setup(options);
    return client;
  }

  std::vector<DiziZozEvent> events() const { return ts.lastEventQueue()->records(); }

  TestServices ts;
};

TEST(ScreenNameSanitizerTest, UnwrapsHostingAndModifierTypes) {
  struct Case {
    const char* raw;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"UIHostingController<HomeView>", "HomeView"},
      {"ModifiedContent<ModifiedContent<HomeView, _PaddingLayout>, _FrameLayout>", "HomeView"},
      {"UIHostingController<ModifiedContent<HomeView, _PaddingLayout>>", "HomeView"},
      {"ModifiedContent<ProfileView<User, Settings>, _FlexFrameLayout>", "ProfileView<User, Settings>"},
      {"ModifiedContent< HomeView , X>", "HomeView"},
      {"ModifiedContent<\tHomeView>", "HomeView"},
      {"UIHostingController<AnyView>", std::nullopt},
      {"UIHostingController<ModifiedContent<AnyView, _PaddingLayout>>", std::nullopt},
      {"AnyView", "AnyView"},
      {"UIHostingController<>", std::nullopt},
      {"", std::nullopt},
      {"Settings", "Settings"},
      {"ModifiedContent<>", "ModifiedContent<>"},
      {"ModifiedContent<, X>", std::nullopt},
      {"ModifiedContent<HomeView", "ModifiedContent<HomeView"},
      {"UIHostingControllerX<HomeView>", "UIHostingControllerX<HomeView>"},
      {"ModifiedContent<A<B>, C>>", "A<B>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(dizizoz::DiziZozScreenNameSanitizer::sanitize(c.raw), c.expected);
  }
}

TEST_F(ScreensAndDeepLinksTest, EachScreenCallIsAnEventAndAPublisherCallTheContextOnlyOnChange) {
  auto client = setUp(config());
  std::vector<std::string> published;
  auto publisherToken = ApplicationScreenViewPublisher::shared().onScreenView().subscribe(
      [&](const std::string& name) { published.push_back(name); });
  int notices = 0;
  auto contextToken = client->onEventContextChanged.subscribe([&](const Properties& payload) {
    ++notices;
    EXPECT_EQ(payload["event_properties"]["$screen_name"], "HomeView");
  });
  std::vector<std::string> captured;
  auto capturedToken =
      client->onEventCaptured.subscribe([&](const DiziZozEvent& e) { captured.push_back(e.event); });

  client->screen("UIHostingController<HomeView>");
  client->screen("HomeView", Properties{{"tab", 2}});
  ASSERT_EQ(events().size(), 2u);
  for (const auto& e : events()) {
    EXPECT_EQ(e.event, "$screen");
    EXPECT_EQ(e.properties["$screen_name"], "HomeView");
    EXPECT_EQ(e.properties["$lib"], "dizizoz-ios") << "built like any event";
    EXPECT_EQ(e.distinctId, client->getDistinctId());
  }
  EXPECT_EQ(events()[1].properties["tab"], 2);
  EXPECT_EQ(published, (std::vector<std::string>{"HomeView", "HomeView"}));
  EXPECT_EQ(captured, (std::vector<std::string>{"$screen", "$screen"}));
  EXPECT_EQ(notices, 1);
  contextToken.release();

  // A caller's "$screen_name" names the event; the publisher and later events get the cleaned name.
  client->screen("Settings", Properties{{"$screen_name", "Override"}});
  EXPECT_EQ(events().back().properties["$screen_name"], "Override");
  EXPECT_EQ(published.back(), "Settings");
  client->capture("next");
  EXPECT_EQ(events().back().properties["$screen_name"], "Settings");
}

TEST_F(ScreensAndDeepLinksTest, NameThatCleansToNothingSendsNothingAndKeepsTheLastName) {
  auto client = setUp(config());
  client->screen("Home");
  int published = 0;
  auto token = ApplicationScreenViewPublisher::shared().onScreenView().subscribe(
      [&](const std::string&) { ++published; });
  int notices = 0;
  auto contextToken = client->onEventContextChanged.subscribe([&](const Properties&) { ++notices; });
  CapturedLog log;
  client->screen("UIHostingController<AnyView>");
  client->screen("");
  client->screen("Bad\xff");
  EXPECT_EQ(events().size(), 1u);
  EXPECT_EQ(published, 0);
  EXPECT_EQ(notices, 0);
  EXPECT_EQ(log.lines,
            std::vector<std::string>{"[DiziZoz] screen refused: the screen name is not valid UTF-8"});
  client->capture("next");
  EXPECT_EQ(events().back().properties["$screen_name"], "Home");
}

TEST_F(ScreensAndDeepLinksTest, ScreenViewIntegrationFeedsDetectedScreensToItsClient) {
  dizizoz::registerIntegrationFactories(std::make_shared<platform::fake::MemoryUserDefaults>());
  // Only the screen-view integration is looked at here.
  DiziZozConfig::setIntegrationFactory(dizizoz::DiziZozIntegrationKind::appLifecycle, {});
  auto& publisher = ApplicationScreenViewPublisher::shared();
  auto first = setUp(config("_a"));
  auto firstQueue = ts.lastEventQueue();
  std::vector<std::string> installed;
  for (const auto& integration : first->installedIntegrations())
    installed.push_back(dizizoz::integrationTypeName(*integration));
  EXPECT_EQ(installed.front(), "DiziZozScreenViewIntegration");
  auto handler = publisher.autoCaptureHandler();
  ASSERT_TRUE(handler);
  handler("UIHostingController<HomeView>");
  ASSERT_EQ(firstQueue->records().size(), 1u);
  EXPECT_EQ(firstQueue->records()[0].properties["$screen_name"], "HomeView");

  // A second client finds the integration taken: the slot keeps feeding the first.
  CapturedLog log;
  auto secondOptions = config("_b");
  secondOptions->debug = true;
  auto second = setUp(secondOptions);
  EXPECT_TRUE(std::find(log.lines.begin(), log.lines.end(),
                        "[DiziZoz] Integration DiziZozScreenViewIntegration skipped: Already installed to "
                        "another DiziZozSDK instance") != log.lines.end());
  publisher.autoCaptureHandler()("Profile");
  EXPECT_EQ(firstQueue->records().size(), 2u);
  EXPECT_TRUE(ts.lastEventQueue()->records().empty());

  // Closing the owner empties the slot; the next client may take the integration.
  first.reset();
  EXPECT_FALSE(publisher.autoCaptureHandler());
  second.reset();
  auto options = config("_c");
  options->enableSwizzling = false;
  auto third = setUp(options);
  EXPECT_FALSE(publisher.autoCaptureHandler()) << "it needs swizzling";
}

TEST(DeepLinkHelperTest, ReferrerPropertiesOnlyForAnAddressWithAHost) {
  struct Case {
    const char* name;
    std::optional<std::string> referrer;
    Properties expected;
  };
  const std::string url = "myapp://open/item?id=1";
  const Case cases[] = {
      {"no referrer", std::nullopt, {{"url", url}}},
      {"web address",
       "https://www.example.com/search?q=x",
       {{"url", url},
        {"$referrer", "https://www.example.com/search?q=x"},
        {"$referring_domain", "www.example.com"}}},
      {"other scheme",
       "android-app://com.example.mail/",
       {{"url", url},
        {"$referrer", "android-app://com.example.mail/"},
        {"$referring_domain", "com.example.mail"}}},
      {"IPv6 host",
       "http://[::1]:8080/x",
       {{"url", url}, {"$referrer", "http://[::1]:8080/x"}, {"$referring_domain", "::1"}}},
      {"plain words", "plain words", {{"url", url}, {"$referrer", "plain words"}}},
      {"host-like word", "example.com", {{"url", url}, {"$referrer", "example.com"}}},
      {"relative path", "/relative/path", {{"url", url}, {"$referrer", "/relative/path"}}},
      {"file address", "file:///tmp/x", {{"url", url}, {"$referrer", "file:///tmp/x"}}},
      {"empty", "", {{"url", url}, {"$referrer", ""}}},
      {"cut by a NUL",
       std::string("https://a.example\0.evil/", 24),
       {{"url", url}, {"$referrer", std::string("https://a.example\0.evil/", 24)}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dizizoz::DiziZozDeepLinkHelper::buildDeepLinkProperties(url, c.referrer), c.expected);
  }
}

TEST_F(ScreensAndDeepLinksTest, DeepLinksAreCapturedInOrderSkippingFileAddresses) {
  auto client = setUp(config());
  client->captureDeepLink(
      std::vector<std::string>{"file:///tmp/a.txt", "https://a.example/1", "FILE:///b", "myapp://open/2"});
  ASSERT_EQ(events().size(), 2u);
  EXPECT_EQ(events()[0].event, "Deep Link Opened");
  EXPECT_EQ(events()[0].properties["url"], "https://a.example/1");
  EXPECT_EQ(events()[1].properties["url"], "myapp://open/2");
  EXPECT_FALSE(events()[0].properties.contains("$referrer"));

  client->captureDeepLink("myapp://open/3", std::string("plain words"));
  EXPECT_EQ(events().back().properties["$referrer"], "plain words");
  EXPECT_FALSE(events().back().properties.contains("$referring_domain"));
}

TEST_F(ScreensAndDeepLinksTest, OnlyWebBrowsingActivitiesWithAPageAreCaptured) {
  auto client = setUp(config());
  CapturedLog log;
  client->captureDeepLink(DiziZozUserActivity{.activityType = "com.example.handoff",
                                              .webpageURL = "https://a.example/",
                                              .referrerURL = std::nullopt});
  client->captureDeepLink(
      DiziZozUserActivity{.activityType = std::string(DiziZozUserActivity::browsingWebType),
                          .webpageURL = std::nullopt,
                          .referrerURL = "https://r.example/"});
  EXPECT_TRUE(events().empty());
  EXPECT_TRUE(log.lines.empty()) << "other activities are silent";

  client->captureDeepLink(
      DiziZozUserActivity{.activityType = std::string(DiziZozUserActivity::browsingWebType),
                          .webpageURL = "https://a.example/page",
                          .referrerURL = "https://r.example/from"});
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].properties["url"], "https://a.example/page");
  EXPECT_EQ(events()[0].properties["$referrer"], "https://r.example/from");
  EXPECT_EQ(events()[0].properties["$referring_domain"], "r.example");
}

TEST_F(ScreensAndDeepLinksTest, DeepLinksBeforeSetupAreRefusedOncePerAddress) {
  auto options = config();
  auto client = ts.client(options);
  CapturedLog log;
  client->captureDeepLink(std::vector<std::string>{"file:///a", "https://a.example/", "https://b.example/"});
  client->captureDeepLink(DiziZozUserActivity{
      .activityType = "other", .webpageURL = "https://a.example/", .referrerURL = std::nullopt});
  client->captureDeepLink(
      DiziZozUserActivity{.activityType = std::string(DiziZozUserActivity::browsingWebType),
                          .webpageURL = "https://a.example/",
                          .referrerURL = std::nullopt});
  EXPECT_EQ(log.lines, std::vector<std::string>(3, std::string(DiziZozSDK::notSetUpMessage)));
}

}  // namespace
