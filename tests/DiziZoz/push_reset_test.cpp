#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/integrations/DiziZozPushRecords.h"
#include "DiziZoz/integrations/DiziZozPushSubscriptionHandler.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/Eventually.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using namespace std::chrono_literals;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsRequest;

constexpr const char* kToken = "phc_push_reset";

// A client with the real service client and push handler (threads, libcurl) against the analytics
// service stand-in; everything else is TestServices' recording parts.
struct PushResetRig {
  std::shared_ptr<dizizoz::DiziZozSDK> setUp(bool reuseAnonymousId) {
    auto config = std::make_shared<dizizoz::DiziZozConfig>(kToken, service.baseURL());
    config->disableFlushOnBackgroundForTesting = true;
    config->reuseAnonymousId = reuseAnonymousId;

    auto services = ts.services();
    services.makeApiClient = [this](const std::shared_ptr<dizizoz::DiziZozConfig>& options) {
      return std::make_shared<dizizoz::DiziZozApi>(
          options, dizizoz::test::loopbackApiEnvironment(http, completions, completions,
                                                         platform::SystemClock::shared()));
    };
    services.makePushHandler = dizizoz::DiziZozPushSubscriptionHandler::servicesFactory(
        [](std::string_view label) {
          return std::make_shared<platform::ThreadSerialQueue>(std::string(label));
        },
        std::shared_ptr<const platform::Clock>(std::shared_ptr<void>(), &platform::SystemClock::shared()));

    // A token registered by an earlier run and never delivered.
    auto storage = dizizoz::DiziZozStorage::open(*config, ts.location());
    dizizoz::writePushRecord(*storage, {"device-token", "com.quorvelle.app", std::nullopt});

    auto client = dizizoz::DiziZozSDK::create(config, std::move(services));
    client->setup(config);
    return client;
  }

  // Waits until the record says it was delivered for `distinctId`.
  testing::AssertionResult deliveredFor(const dizizoz::DiziZozSDK& client, const std::string& distinctId) {
    return quorvelle::test::waitUntil(
        [&] {
          auto record = dizizoz::loadPushRecord(*client.storage());
          return record && record->deliveredForDistinctId == distinctId;
        },
        "the record says it was delivered for " + distinctId);
  }

  quorvelle::test::AnalyticsServiceStandIn service{
      {.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}};
  std::shared_ptr<platform::ThreadSerialQueue> completions =
      std::make_shared<platform::ThreadSerialQueue>("push-reset-completions");
  // Declared after the queue it delivers to, so that it goes first.
  platform::CurlHttpClient http;
  dizizoz::test::TestServices ts;
};

TEST(PushResetTest, ResetRemovesTheTokenFromTheOldDistinctIdOnlyWhenItChanged) {
  struct Case {
    const char* name;
    bool reuseAnonymousId;
  };
  for (const Case& c : {Case{"new anonymous id", false}, Case{"same anonymous id", true}}) {
    SCOPED_TRACE(c.name);
    PushResetRig fixture;
    auto client = fixture.setUp(c.reuseAnonymousId);
    const std::string before = client->getDistinctId();
    ASSERT_TRUE(fixture.service.waitForRequests(AnalyticsEndpoint::pushSubscription, 1));
    ASSERT_TRUE(fixture.deliveredFor(*client, before));

    client->reset();
    const std::string after = client->getDistinctId();
    EXPECT_EQ(after == before, c.reuseAnonymousId);
    ASSERT_TRUE(fixture.service.waitForRequests(AnalyticsEndpoint::pushSubscription, 2));
    ASSERT_TRUE(fixture.deliveredFor(*client, after));

    const auto requests = fixture.service.requests();
    std::vector<AnalyticsRequest> sent;
    for (const auto& request : requests) {
      if (request.endpoint == AnalyticsEndpoint::pushSubscription ||
          request.endpoint == AnalyticsEndpoint::pushUnsubscription)
        sent.push_back(request);
    }
    // The request before reset, then (only for a changed id) the removal from the old id, then the
    // subscription for the new one.
    ASSERT_EQ(sent.size(), c.reuseAnonymousId ? 2u : 3u);
    if (!c.reuseAnonymousId) {
      EXPECT_EQ(sent[1].endpoint, AnalyticsEndpoint::pushUnsubscription);
      EXPECT_EQ(sent[1].body["distinct_id"], before);
      EXPECT_EQ(sent[1].body["device_token"], "device-token");
    }
    EXPECT_EQ(sent.back().endpoint, AnalyticsEndpoint::pushSubscription);
    EXPECT_EQ(sent.back().body["distinct_id"], after);
    EXPECT_EQ(sent.back().body["app_id"], "com.quorvelle.app");
    for (const auto& request : sent) EXPECT_TRUE(request.gzipped) << request.raw.method;
    EXPECT_EQ(fixture.service.problems(), std::vector<std::string>{});
    EXPECT_FALSE(dizizoz::loadPushPendingUnregister(*client->storage()));
  }
}

}  // namespace
