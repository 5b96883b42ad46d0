#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/ApplicationLifecyclePublisher.h"
#include "DiziZoz/core/DI.h"
#include "DiziZoz/core/DiziZozIntegration.h"
#include "DiziZoz/core/DiziZozIntegrationInstallState.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "platform/AppNotifications.h"
#include "platform/NotificationCenter.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozIntegrationInstallResult;
using dizizoz::DiziZozIntegrationInstallSkipReason;
using dizizoz::test::DiziZozAppLifeCycleIntegration;
using dizizoz::test::DiziZozScreenViewIntegration;
using dizizoz::test::TestServices;

class IntegrationInterfaceTest : public ::testing::Test {
 protected:
  IntegrationInterfaceTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<dizizoz::DiziZozSDK> client(const std::string& token) {
    return ts.client(std::make_shared<DiziZozConfig>(token));
  }

  TestServices ts;
};

TEST(IntegrationSkipReason, TextsAreTheOnesTheInstallLoopPrints) {
  EXPECT_EQ(dizizoz::description(DiziZozIntegrationInstallSkipReason::alreadyInstalled),
            "Already installed to another DiziZozSDK instance");
  EXPECT_EQ(dizizoz::description(DiziZozIntegrationInstallSkipReason::disabledInRemoteConfig),
            "Disabled in remote config");
  EXPECT_EQ(dizizoz::description(DiziZozIntegrationInstallSkipReason::notAvailableOnPlatform),
            "Not available on this platform");
  EXPECT_EQ(dizizoz::integrationTypeName(DiziZozScreenViewIntegration()), "DiziZozScreenViewIntegration");
}

TEST_F(IntegrationInterfaceTest, OneClientPerIntegrationClassUntilItsOwnerLetsGo) {
  auto first = client("phc_first");
  auto second = client("phc_second");
  DiziZozAppLifeCycleIntegration a;
  DiziZozAppLifeCycleIntegration b;

  EXPECT_EQ(a.install(*first), DiziZozIntegrationInstallResult::installed());
  EXPECT_EQ(a.diziZoz(), first);
  EXPECT_EQ(a.starts, 1);
  EXPECT_EQ(b.install(*second),
            DiziZozIntegrationInstallResult::skipped(DiziZozIntegrationInstallSkipReason::alreadyInstalled));
  EXPECT_EQ(b.starts, 0);
  EXPECT_EQ(DiziZozScreenViewIntegration().install(*second), DiziZozIntegrationInstallResult::installed())
      << "the guard is per class";

  // A client that does not own the integration cannot detach it.
  a.uninstall(*second);
  EXPECT_EQ(a.stops, 0);
  EXPECT_EQ(a.diziZoz(), first);
  EXPECT_TRUE(b.install(*second).skipReason());

  a.uninstall(*first);
  EXPECT_EQ(a.stops, 1);
  EXPECT_FALSE(a.diziZoz());
  EXPECT_TRUE(b.install(*second).isInstalled());

  // Once the owner is gone, an uninstall from any client releases the guard.
  second.reset();
  EXPECT_FALSE(b.diziZoz());
  auto third = client("phc_third");
  DiziZozAppLifeCycleIntegration c;
  EXPECT_TRUE(c.install(*third).skipReason()) << "the guard outlives an owner that never uninstalled";
  b.uninstall(*third);
  EXPECT_EQ(b.stops, 1);
  EXPECT_TRUE(c.install(*third).isInstalled());
}

TEST_F(IntegrationInterfaceTest, SecondClientsInstallLoopSkipsWithTheReasonText) {
  auto firstConfig = std::make_shared<DiziZozConfig>("phc_loop_a");
  auto secondConfig = std::make_shared<DiziZozConfig>("phc_loop_b");
  firstConfig->debug = secondConfig->debug = true;
  auto first = ts.client(firstConfig);
  auto second = ts.client(secondConfig);
  first->setup(firstConfig);

  dizizoz::test::CapturedLog log;
  second->setup(secondConfig);
  EXPECT_TRUE(second->installedIntegrations().empty());
  for (const char* name : {"DiziZozScreenViewIntegration", "DiziZozAppLifeCycleIntegration",
                           "DiziZozPushNotificationOpenIntegration"}) {
    const std::string line = std::string("[DiziZoz] Integration ") + name +
                             " skipped: Already installed to another DiziZozSDK instance";
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), line), log.lines.end()) << line;
  }
}

TEST(ApplicationLifecyclePublisher, ApplicationNotificationsReachTheirCallbacks) {
  auto& publisher = dizizoz::DI::main().appLifecyclePublisher();
  EXPECT_EQ(&publisher, &dizizoz::DI::main().appLifecyclePublisher());
  EXPECT_EQ(&publisher, &dizizoz::ApplicationLifecyclePublisher::shared());

  std::vector<std::string> calls;
  auto active = publisher.onDidBecomeActive().subscribe([&] { calls.push_back("active"); });
  auto background = publisher.onDidEnterBackground().subscribe([&] { calls.push_back("background"); });
  auto launched = publisher.onDidFinishLaunching().subscribe([&] { calls.push_back("launched"); });

  namespace names = platform::notifications;
  auto& center = platform::NotificationCenter::defaultCenter();
  center.post(std::string(names::applicationDidFinishLaunching));
  center.post(std::string(names::applicationDidResignActive));
  center.post(std::string(names::applicationDidBecomeActive));
  EXPECT_EQ(calls, (std::vector<std::string>{"launched", "background", "active"}));

  background.release();
  center.post(std::string(names::applicationDidResignActive));
  EXPECT_EQ(calls.size(), 3u) << "a released subscription is not called";
}

}  // namespace
