#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "DiziZoz/integrations/PushNotificationPublisher.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ScriptedUserNotificationCenter.h"
#include "tests/DiziZoz/CapturedLog.h"

namespace {

using dizizoz::DiziZozNotificationResponse;
using dizizoz::PushNotificationPublisher;
using platform::UserNotificationResponse;
using platform::fake::ScriptedUserNotificationCenter;

// A delegate without a response handler of its own.
struct SilentDelegate : platform::UserNotificationDelegate {
  bool handlesResponses() const override { return false; }
  void didReceiveResponse(const UserNotificationResponse&, std::function<void()>) override { ADD_FAILURE(); }
};
struct SilentSubDelegate : SilentDelegate {};

// A delegate with its own handler, which records the order of events.
struct HandlingDelegate : platform::UserNotificationDelegate {
  explicit HandlingDelegate(std::vector<std::string>& trace) : trace(trace) {}
  bool handlesResponses() const override { return true; }
  void didReceiveResponse(const UserNotificationResponse& response,
                          std::function<void()> completion) override {
    trace.push_back("delegate:" + response.actionIdentifier);
    completion();
  }
  std::vector<std::string>& trace;
};

class PushPublisherTest : public ::testing::Test {
 protected:
  ScriptedUserNotificationCenter center;
  platform::fake::ManualExecutor main;
  std::shared_ptr<PushNotificationPublisher> publisher = PushNotificationPublisher::make(center, main);
  std::vector<std::string> trace;

  dizizoz::RegistrationToken subscribeResponses() {
    return publisher->onNotificationResponse().subscribe([this](const DiziZozNotificationResponse& response) {
      trace.push_back("subscriber:" + response.body);
    });
  }
  void deliver(std::string body) {
    UserNotificationResponse response;
    response.body = std::move(body);
    response.actionIdentifier = "default";
    center.deliver(response, [this] { trace.push_back("completion"); });
  }
};

TEST(DeviceTokenText, TwoLowerCaseDigitsPerByte) {
  const std::array<std::uint8_t, 2> token{0x0A, 0xFF};
  EXPECT_EQ(dizizoz::deviceTokenText(token), "0aff");
  std::array<std::uint8_t, 32> long_{};
  for (std::size_t i = 0; i < long_.size(); ++i) long_[i] = static_cast<std::uint8_t>(i * 8);
  const auto text = dizizoz::deviceTokenText(long_);
  EXPECT_EQ(text.size(), 64U);
  EXPECT_EQ(text.substr(0, 6), "000810");
  EXPECT_EQ(dizizoz::deviceTokenText({}), "");
}

TEST_F(PushPublisherTest, DelegateWithoutHandlerPublishesThenCompletes) {
  center.setDelegate(std::make_shared<SilentDelegate>());
  auto token = subscribeResponses();
  deliver("a");
  EXPECT_EQ(trace, (std::vector<std::string>{"subscriber:a", "completion"}));
}

TEST_F(PushPublisherTest, DelegateWithHandlerRunsItAfterTheSubscribers) {
  auto token = subscribeResponses();
  center.setDelegate(std::make_shared<HandlingDelegate>(trace));  // appointed after subscribing: setter hook
  deliver("b");
  EXPECT_EQ(trace, (std::vector<std::string>{"subscriber:b", "delegate:default", "completion"}));
}

TEST_F(PushPublisherTest, EachDelegateTypeIsInterceptedOnceSubtypesSeparately) {
  auto token = subscribeResponses();
  center.setDelegate(std::make_shared<SilentDelegate>());
  center.setDelegate(std::make_shared<SilentDelegate>());
  center.setDelegate(nullptr);
  center.setDelegate(std::make_shared<SilentSubDelegate>());
  EXPECT_EQ(center.interceptionCount(typeid(SilentDelegate)), 1);
  EXPECT_EQ(center.interceptionCount(typeid(SilentSubDelegate)), 1);
  deliver("sub");
  EXPECT_EQ(trace, (std::vector<std::string>{"subscriber:sub", "completion"}));
}

TEST_F(PushPublisherTest, SetterHookFollowsSubscribersInterceptionStays) {
  center.setDelegate(std::make_shared<SilentDelegate>());
  auto first = subscribeResponses();
  auto second = subscribeResponses();
  EXPECT_TRUE(center.hasSetterHook());
  first.release();
  EXPECT_TRUE(center.hasSetterHook()) << "one subscriber left";
  second.release();
  EXPECT_FALSE(center.hasSetterHook());

  // A delegate type appointed now is not intercepted; the earlier type still publishes, to no one.
  center.setDelegate(std::make_shared<HandlingDelegate>(trace));
  EXPECT_EQ(center.interceptionCount(typeid(HandlingDelegate)), 0);
  center.setDelegate(std::make_shared<SilentDelegate>());
  deliver("late");
  EXPECT_EQ(trace, (std::vector<std::string>{"completion"}));
}

TEST_F(PushPublisherTest, TokenHooksFollowSubscribersOnTheMainExecutor) {
  std::vector<std::string> tokens;
  auto token = publisher->onDeviceToken().subscribe([&](const std::string& text) { tokens.push_back(text); });
  EXPECT_FALSE(center.hasRegistrationHooks()) << "installed on the main executor, not inline";
  main.runUntilIdle();
  ASSERT_TRUE(center.hasRegistrationHooks());
  const std::array<std::uint8_t, 2> bytes{0x0A, 0xFF};
  center.deliverToken(bytes);
  EXPECT_EQ(tokens, (std::vector<std::string>{"0aff"}));

  dizizoz::test::CapturedLog log;
  center.failRegistration("no network");
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"[DiziZoz] Failed to register for remote notifications: no network"}));

  token.release();
  main.runUntilIdle();
  EXPECT_FALSE(center.hasRegistrationHooks());
}

}  // namespace
