#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/integrations/DiziZozPushRecords.h"
#include "DiziZoz/integrations/DiziZozPushSubscriptionHandler.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ThreadNames.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"

namespace {

using namespace std::chrono_literals;
using quorvelle::test::AnalyticsEndpoint;

constexpr const char* kToken = "phc_push_stress";

// Every entry point of the handler, context changes and an identity provider that answers from another
// thread, all at once from several threads against the service stand-in, with the handler released while
// work is still in flight: under ThreadSanitizer any unguarded access is reported; in every build nothing
// crashes, every request is well formed, and a handler over the same files afterwards delivers the record.
TEST(PushSubscriptionHandlerStress, EntryPointsAndContextChangesFromSeveralThreads) {
  quorvelle::test::AnalyticsServiceStandIn service{
      {.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}};
  auto completions = std::make_shared<platform::ThreadSerialQueue>("push-stress-completions");
  auto providerThread = std::make_shared<platform::ThreadSerialQueue>("push-stress-provider");
  platform::CurlHttpClient http;
  quorvelle::test::TempDir folder;

  auto config = std::make_shared<dizizoz::DiziZozConfig>(kToken, service.baseURL());
  config->pushIdentityProvider = [providerThread](const std::string& id, const std::string&,
                                                  std::function<void(std::optional<std::string>)> done) {
    providerThread->async([id, done = std::move(done)] { done("identity-for-" + id); });
  };
  auto api = std::make_shared<dizizoz::DiziZozApi>(
      config,
      dizizoz::test::loopbackApiEnvironment(http, completions, completions, platform::SystemClock::shared()));
  auto storage = dizizoz::DiziZozStorage::open(*config, {.applicationSupport = folder / "support",
                                                         .bundleIdentifier = "com.quorvelle.app",
                                                         .groupContainer = {},
                                                         .isAppExtension = false});

  std::mutex distinctIdLock;
  std::string distinctId = "user-0";
  std::atomic<bool> allowed{true};
  dizizoz::DiziZozMulticastCallback<dizizoz::Properties> contextChanged;
  const auto makeHandler = [&] {
    return dizizoz::DiziZozPushSubscriptionHandler::servicesFactory(
        [](std::string_view label) {
          return std::make_shared<platform::ThreadSerialQueue>(std::string(label));
        },
        std::shared_ptr<const platform::Clock>(std::shared_ptr<void>(), &platform::SystemClock::shared()))(
        {.api = api,
         .storage = storage,
         .config = config,
         .providers = {.distinctId =
                           [&] {
                             std::lock_guard lock(distinctIdLock);
                             return distinctId;
                           },
                       .isConnected = [] { return true; },
                       .isAllowed = [&] { return allowed.load(); },
                       .isEnabled = [] { return true; }},
         .onEventContextChanged = &contextChanged});
  };

  auto handler = makeHandler();
  handler->reregisterAfterReset("tok", "com.quorvelle.app");
  constexpr int threads = 5;
  constexpr int rounds = 60;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < rounds; ++i) {
        const std::string id = "user-" + std::to_string((t + i) % 3);
        switch ((t + i) % 6) {
          case 0: {
            std::lock_guard lock(distinctIdLock);
            distinctId = id;
          }
            contextChanged.invoke(dizizoz::Properties{{"distinct_id", id}});
            break;
          case 1:
            handler->retryIfNeeded();
            break;
          case 2:
            if (i % 12 == 2) {
              if (auto snapshot = handler->recordForReset())
                handler->reregisterAfterReset(snapshot->deviceToken, snapshot->appId);
            }
            break;
          case 3:
            handler->unregister("old-" + id, "tok", "com.quorvelle.app");
            break;
          case 4:
            handler->optOut();
            allowed = i % 7 != 4;
            break;
          default:
            contextChanged.invoke(dizizoz::Properties{{"distinct_id", id}});
            break;
        }
      }
    });
  }
  for (auto& worker : workers) worker.join();
  allowed = true;
  handler.reset();  // with requests and mints still in flight

  // A new handler over the same files sends the record for the final distinct id.
  {
    std::lock_guard lock(distinctIdLock);
    distinctId = "user-final";
  }
  if (!dizizoz::loadPushRecord(*storage))
    dizizoz::writePushRecord(*storage, {"tok", "com.quorvelle.app", {}});
  handler = makeHandler();
  EXPECT_TRUE(quorvelle::test::waitUntil(
      [&] {
        handler->retryIfNeeded();
        auto record = dizizoz::loadPushRecord(*storage);
        return record && record->deliveredForDistinctId == "user-final";
      },
      "the subscription was delivered for the final distinct id"));
  EXPECT_FALSE(service.requests(AnalyticsEndpoint::pushSubscription).empty());
  EXPECT_EQ(service.problems(), std::vector<std::string>{});

  // Nothing of the test runs on after it: once the last answers have reached their completions, the
  // completion and provider threads are released, and joined, here rather than on themselves.
  handler.reset();
  api.reset();
  storage.reset();
  config.reset();
  EXPECT_TRUE(quorvelle::test::waitUntil(
      [&] { return completions.use_count() == 1 && providerThread.use_count() == 1; },
      "the last completions have run and released their threads"));
  // The handlers' own queues end with their last jobs, which read the test's distinct id and switches.
  EXPECT_TRUE(quorvelle::test::waitUntil([] { return quorvelle::test::threadNames("com.dizizoz").empty(); },
                                         "every thread of the handlers ended"))
      << testing::PrintToString(quorvelle::test::threadNames("com.dizizoz"));
}

}  // namespace
