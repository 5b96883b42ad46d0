#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozNotificationResponse.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozNotificationResponse;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using dizizoz::Value;
using dizizoz::test::CapturedLog;
using dizizoz::test::TestServices;

const std::string notAnObject =
    "[DiziZoz] Push notification 'dizizoz' payload is not a JSON object; ignoring.";

class PushOpenedTest : public ::testing::Test {
 protected:
  PushOpenedTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozConfig> config() {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_push_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    options->disableFlushOnBackgroundForTesting = true;
    options->debug = true;
    return options;
  }

  // The "$notification_..." properties of the last event, which must be a push-opened one.
  Properties lastNotificationProperties() const {
    const auto events = ts.lastEventQueue()->records();
    EXPECT_FALSE(events.empty());
    if (events.empty()) return {};
    EXPECT_EQ(events.back().event, "$push_notification_opened");
    EXPECT_EQ(events.back().properties["$lib"], "dizizoz-ios") << "built like any event";
    Properties own = Properties::object();
    for (const auto& [key, value] : events.back().properties.items()) {
      if (key.starts_with("$notification_")) own[key] = value;
    }
    return own;
  }

  TestServices ts;
};

TEST_F(PushOpenedTest, PropertiesFromTheResponseAndItsPayload) {
  auto options = config();
  auto client = ts.client(options);
  client->setup(options);
  const auto response = [](Properties payload, std::string action = std::string(
                                                   DiziZozNotificationResponse::defaultActionIdentifier)) {
    return DiziZozNotificationResponse{.title = "A",
                                       .subtitle = "",
                                       .body = "Body",
                                       .payload = std::move(payload),
                                       .actionIdentifier = std::move(action),
                                       .triggeredByRemotePush = true};
  };
  struct Case {
    const char* name;
    DiziZozNotificationResponse response;
    Properties expected;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"no dizizoz entry: the texts do not count",
       response({{"aps", {{"badge", 1}}}}),
       Properties::object(),
       {}},
      {"JSON text of an object",
       response({{"dizizoz", R"({"campaign":"spring"})"}}),
       {{"$notification_title", "A"}, {"$notification_body", "Body"}, {"$notification_campaign", "spring"}},
       {}},
      {"a number",
       response({{"dizizoz", 5}}),
       {{"$notification_title", "A"}, {"$notification_body", "Body"}},
       {}},
      {"text of an array",
       response({{"dizizoz", "[1, 2]"}}),
       {{"$notification_title", "A"}, {"$notification_body", "Body"}},
       {notAnObject}},
      {"text that is not JSON",
       response({{"dizizoz", "campaign=spring"}}),
       {{"$notification_title", "A"}, {"$notification_body", "Body"}},
       {notAnObject}},
      {"payload entries win over the texts",
       response({{"dizizoz", {{"title", "B"}, {"action", "from payload"}, {"n", 2}}}}),
       {{"$notification_title", "B"},
        {"$notification_body", "Body"},
        {"$notification_action", "from payload"},
        {"$notification_n", 2}},
       {}},
      {"a custom action wins over the payload's",
       response({{"dizizoz", {{"action", "from payload"}}}}, "reply"),
       {{"$notification_title", "A"}, {"$notification_body", "Body"}, {"$notification_action", "reply"}},
       {}},
      {"a dismissal is an action too",
       response(Properties::object(), std::string(DiziZozNotificationResponse::dismissActionIdentifier)),
       {{"$notification_action", "dismiss"}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    client->capturePushNotificationOpened(c.response);
    EXPECT_EQ(lastNotificationProperties(), c.expected);
    EXPECT_EQ(log.lines, c.lines);
  }

  // Plain values: empty texts and an empty action are left out.
  client->capturePushNotificationOpened("", "Sub", "", Properties{{"dizizoz", Properties::object()}}, "");
  EXPECT_EQ(lastNotificationProperties(), (Properties{{"$notification_subtitle", "Sub"}}));
  client->capturePushNotificationOpened();
  EXPECT_EQ(lastNotificationProperties(), Properties::object());
  EXPECT_EQ(ts.lastEventQueue()->records().size(), std::size(cases) + 2);
}

TEST_F(PushOpenedTest, RefusedBeforeSetUpAndWhileOptedOut) {
  auto options = config();
  auto client = ts.client(options);
  {
    CapturedLog log;
    client->capturePushNotificationOpened(DiziZozNotificationResponse{.payload = {{"dizizoz", "{}"}}});
    EXPECT_EQ(log.lines, std::vector<std::string>{std::string(DiziZozSDK::notSetUpMessage)});
  }
  client->setup(options);
  options->optOut = true;
  CapturedLog log;
  client->capturePushNotificationOpened("Title");
  EXPECT_EQ(log.lines, std::vector<std::string>{std::string(DiziZozSDK::optOutMessage)});
  EXPECT_TRUE(ts.lastEventQueue()->records().empty());
}

}  // namespace
