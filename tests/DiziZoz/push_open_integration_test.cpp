#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/integrations/DiziZozPushNotificationOpenIntegration.h"
#include "DiziZoz/integrations/PushNotificationPublisher.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ScriptedUserNotificationCenter.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozPushNotificationOpenIntegration;
using dizizoz::PushNotificationPublisher;
using platform::UserNotificationResponse;

struct AppDelegate : platform::UserNotificationDelegate {
  bool handlesResponses() const override { return false; }
  void didReceiveResponse(const UserNotificationResponse&, std::function<void()>) override {}
};

class PushOpenIntegrationTest : public ::testing::Test {
 protected:
  PushOpenIntegrationTest() {
    dizizoz::DiziZozIntegrationInstallState::resetAllForTesting();
    center.setDelegate(std::make_shared<AppDelegate>());
    options->disableFlushOnBackgroundForTesting = true;
    options->capturePushNotificationOpened = false;  // the integration under test is installed by hand
    client->setup(options);
  }
  ~PushOpenIntegrationTest() override { dizizoz::DiziZozIntegrationInstallState::resetAllForTesting(); }

  std::size_t openedEvents() const {
    std::size_t count = 0;
    for (const auto& event : ts.lastEventQueue()->records())
      count += event.event == "$push_notification_opened";
    return count;
  }
  void deliver(bool remote, std::string action) {
    UserNotificationResponse response;
    response.title = "T";
    response.triggeredByRemotePush = remote;
    response.actionIdentifier = std::move(action);
    bool completed = false;
    center.deliver(response, [&] { completed = true; });
    EXPECT_TRUE(completed);
  }

  platform::fake::ScriptedUserNotificationCenter center;
  platform::fake::ManualExecutor main;
  std::shared_ptr<PushNotificationPublisher> publisher = PushNotificationPublisher::make(center, main);
  dizizoz::test::TestServices ts;
  std::shared_ptr<dizizoz::DiziZozConfig> options = std::make_shared<dizizoz::DiziZozConfig>(
      std::string("phc_open_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::shared_ptr<dizizoz::DiziZozSDK> client = ts.client(options);
};

TEST_F(PushOpenIntegrationTest, OnlyRemoteResponsesOtherThanDismissalAreCaptured) {
  auto integration = std::make_shared<DiziZozPushNotificationOpenIntegration>(*publisher, "app");
  ASSERT_TRUE(integration->install(*client).isInstalled());
  struct Case {
    const char* name;
    bool remote;
    const char* action;
    std::size_t captured;
  };
  const Case cases[] = {
      {"local notification", false, "default", 0},
      {"dismissal", true, "dismiss", 0},
      {"opened", true, "default", 1},
      {"custom action", true, "reply", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = openedEvents();
    deliver(c.remote, c.action);
    EXPECT_EQ(openedEvents() - before, c.captured);
  }

  integration->uninstall(*client);
  EXPECT_FALSE(center.hasSetterHook()) << "the last subscriber left";
  deliver(true, "default");
  EXPECT_EQ(openedEvents(), 2U);
}

TEST_F(PushOpenIntegrationTest, ResponsesAfterTheClientIsGoneAreIgnored) {
  auto integration = std::make_shared<DiziZozPushNotificationOpenIntegration>(*publisher, "appex");
  ASSERT_TRUE(integration->install(*client).isInstalled());
  auto queue = ts.lastEventQueue();
  client.reset();
  deliver(true, "default");
  for (const auto& event : queue->records()) EXPECT_NE(event.event, "$push_notification_opened");
}

TEST_F(PushOpenIntegrationTest, OutsideAnApplicationBundleItInstallsWithoutSubscribing) {
  dizizoz::test::CapturedLog log;
  auto integration = std::make_shared<DiziZozPushNotificationOpenIntegration>(*publisher, "");
  EXPECT_TRUE(integration->install(*client).isInstalled());
  EXPECT_EQ(publisher->onNotificationResponse().subscriberCount(), 0U);
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{
                "[DiziZoz] Push notification opened integration: skipping setup - not running in an app "
                "context"}));
}

}  // namespace
