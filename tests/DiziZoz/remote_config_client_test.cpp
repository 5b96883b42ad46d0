#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/delivery/DiziZozRemoteConfig.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozApi;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozRemoteConfig;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using dizizoz::Value;
using quorvelle::test::AnalyticsServiceStandIn;

constexpr const char* kToken = "phc_flag_calls";

// The client over the real store and API client, answered by the stand-in.
TEST(RemoteConfigClientTest, FlagCalledEventsCarryWhatTheServiceAnswered) {
  dizizoz::test::registerFakeIntegrations();
  AnalyticsServiceStandIn service{{.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}};
  service.setFlags(Properties::parse(R"({
    "flags": {
      "beta": {"key": "beta", "enabled": true, "variant": "blue",
               "reason": {"code": "condition_match", "description": "Matched condition set 1"},
               "metadata": {"id": 7, "version": 3, "payload": "{\"n\":1}"}}
    },
    "requestId": "req-42",
    "evaluatedAt": 1700000123
  })"));
  auto completions = std::make_shared<quorvelle::test::WaitingExecutor>();
  auto retries = std::make_shared<platform::fake::ManualSerialQueue>();
  auto storeQueue = std::make_shared<platform::fake::ManualSerialQueue>();
  platform::CurlHttpClient http;

  dizizoz::test::TestServices ts;
  auto services = ts.services();
  services.makeApiClient = [&](const std::shared_ptr<DiziZozConfig>& config) {
    return std::make_shared<DiziZozApi>(
        config, dizizoz::test::loopbackApiEnvironment(http, completions, retries, ts.clock));
  };
  services.makeRemoteConfig = DiziZozRemoteConfig::servicesFactory(
      [&](std::string_view label) {
        EXPECT_EQ(label, "com.dizizoz.RemoteConfig");
        return storeQueue;
      },
      services.mainExecutor, services.notificationCenter);

  auto config = std::make_shared<DiziZozConfig>(kToken, service.baseURL());
  config->disableFlushOnBackgroundForTesting = true;
  config->disableRemoteConfigForTesting = true;
  auto client = DiziZozSDK::create(config, services);
  client->setup(config);
  ASSERT_TRUE(std::dynamic_pointer_cast<DiziZozRemoteConfig>(client->remoteConfig()));

  bool reloaded = false;
  client->reloadFeatureFlags([&] { reloaded = true; });
  ASSERT_TRUE(completions->runUntil([&] {
    storeQueue->drain();
    ts.executor.runUntilIdle();
    return reloaded;
  }));

  EXPECT_EQ(client->getFeatureFlag("beta"), Value("blue"));
  ts.executor.runUntilIdle();
  std::vector<DiziZozEvent> calls;
  for (const auto& e : ts.lastEventQueue()->records())
    if (e.event == "$feature_flag_called") calls.push_back(e);
  ASSERT_EQ(calls.size(), 1u);
  const auto& p = calls[0].properties;
  EXPECT_EQ(p["$feature_flag"], "beta");
  EXPECT_EQ(p["$feature_flag_response"], "blue");
  EXPECT_EQ(p["$feature_flag_request_id"], "req-42");
  EXPECT_EQ(p["$feature_flag_evaluated_at"], 1700000123);
  EXPECT_EQ(p["$feature_flag_reason"], "Matched condition set 1");
  EXPECT_EQ(p["$feature_flag_id"], 7);
  EXPECT_EQ(p["$feature_flag_version"], 3);
  EXPECT_EQ(client->getFeatureFlagPayload("beta"), (Properties{{"n", 1}}));
}

}  // namespace
