#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/TypeNames.h"
#include "DiziZoz/integrations/DiziZozDeepLinkListener.h"
#include "DiziZoz/integrations/DiziZozSwiftUIViewModifier.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace shop::screens {
struct ProfileScreen {};
template <typename Content, typename Modifier>
struct ModifiedContent {};
struct HomeView {};
struct PaddingLayout {};
}  // namespace shop::screens

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozSDK;
using dizizoz::DiziZozUserActivity;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using dizizoz::test::TestServices;

struct LocalView {};

TEST(TypeNamesTest, QualifiersAreDroppedEverywhere) {
  struct Case {
    const char* readable;
    const char* expected;
  };
  const Case cases[] = {
      {"ProfileScreen", "ProfileScreen"},
      {"shop::screens::ProfileScreen", "ProfileScreen"},
      {"(anonymous namespace)::LocalView", "LocalView"},
      {"a::Card<a::User, b::(anonymous namespace)::Tag>", "Card<User, Tag>"},
      {"a::Outer<a::X<int> >::Inner", "Inner"},
      {"Box<int (*)(a::B)>", "Box<int (*)(B)>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.readable);
    EXPECT_EQ(dizizoz::withoutQualifiers(c.readable), c.expected);
  }
  EXPECT_EQ(dizizoz::unqualifiedTypeName(typeid(LocalView)), "LocalView");
  EXPECT_EQ(
      dizizoz::unqualifiedTypeName(typeid(shop::screens::ModifiedContent<shop::screens::HomeView, int>)),
      "ModifiedContent<HomeView, int>");
}

class ViewHelpersTest : public ::testing::Test {
 protected:
  ViewHelpersTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozSDK> client(bool setUp = true) {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_views_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    options->disableFlushOnBackgroundForTesting = true;
    auto client = ts.client(options);
    if (setUp) client->setup(options);
    return client;
  }
  std::vector<DiziZozEvent> events() const { return ts.lastEventQueue()->records(); }

  TestServices ts;
};

TEST_F(ViewHelpersTest, ScreenViewsAreNamedAfterTheViewTypeAndCapturedOnEveryAppearance) {
  auto sdk = client();
  const auto unnamed =
      dizizoz::diziZozScreenView<shop::screens::ProfileScreen>(std::nullopt, std::nullopt, sdk);
  const auto wrapped = dizizoz::diziZozScreenView<
      shop::screens::ModifiedContent<shop::screens::HomeView, shop::screens::PaddingLayout>>(
      std::nullopt, std::nullopt, sdk);
  const auto named =
      dizizoz::diziZozScreenView<shop::screens::ProfileScreen>("Profile", Properties{{"tab", "info"}}, sdk);
  unnamed.onAppear();
  unnamed.onAppear();
  wrapped.onAppear();
  named.onAppear();

  const auto captured = events();
  ASSERT_EQ(captured.size(), 4u);
  std::vector<std::string> names;
  for (const auto& e : captured) {
    EXPECT_EQ(e.event, "$screen");
    names.push_back(e.properties["$screen_name"]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ProfileScreen", "ProfileScreen", "HomeView", "Profile"}));
  EXPECT_EQ(captured[3].properties["tab"], "info");
}

TEST_F(ViewHelpersTest, ViewSeenCapturesItsEventOnEveryAppearance) {
  auto sdk = client();
  const auto seen = dizizoz::diziZozViewSeen("Paywall Seen", Properties{{"plan", "pro"}}, sdk);
  seen.onAppear();
  seen.onAppear();
  const auto captured = events();
  ASSERT_EQ(captured.size(), 2u);
  for (const auto& e : captured) {
    EXPECT_EQ(e.event, "Paywall Seen");
    EXPECT_EQ(e.properties["plan"], "pro");
  }
}

TEST_F(ViewHelpersTest, AnOpenedAddressIsRefusedBeforeSetUpAndCarriesOnlyItsUrlAfter) {
  auto sdk = client(/*setUp=*/false);
  const auto listener = dizizoz::diziZozDeepLinkListener(sdk);
  {
    CapturedLog log;
    listener.onOpenURL("quorvelle://word/hello");
    EXPECT_EQ(log.lines, std::vector<std::string>{std::string(DiziZozSDK::notSetUpMessage)});
  }
  auto options = sdk->config();
  sdk->setup(options);
  listener.onOpenURL("quorvelle://word/hello");
  listener.continueUserActivity({.activityType = std::string(DiziZozUserActivity::browsingWebType),
                                 .webpageURL = "https://quorvelle.app/w/hello",
                                 .referrerURL = "https://search.example.com/?q=hello"});
  listener.continueUserActivity({.activityType = "com.quorvelle.handoff",
                                 .webpageURL = "https://quorvelle.app/w/other",
                                 .referrerURL = std::nullopt});

  const auto captured = events();
  ASSERT_EQ(captured.size(), 2u) << "an activity of another type is not taken";
  EXPECT_EQ(captured[0].event, "Deep Link Opened");
  EXPECT_EQ(captured[0].properties["url"], "quorvelle://word/hello");
  EXPECT_FALSE(captured[0].properties.contains("$referrer"));
  EXPECT_EQ(captured[1].event, "Deep Link Opened");
  EXPECT_EQ(captured[1].properties["url"], "https://quorvelle.app/w/hello");
  EXPECT_EQ(captured[1].properties["$referring_domain"], "search.example.com");
}

}  // namespace
