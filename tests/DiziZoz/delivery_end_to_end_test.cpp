#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/delivery/DeliveryServices.h"
#include "DiziZoz/delivery/DiziZozQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/Eventually.h"
#include "tests/support/WithoutReadOverride.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozConnection;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozQueue;
using dizizoz::DiziZozSDK;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsRequest;
using quorvelle::test::AnalyticsServiceStandIn;
namespace analytics_reply = quorvelle::test::analytics_reply;

constexpr const char* kToken = "phc_end_to_end";

std::vector<std::string> field(const std::vector<nlohmann::json>& events, const char* key) {
  std::vector<std::string> values;
  for (const auto& event : events) values.push_back(event.value(key, std::string()));
  return values;
}

// A client on real delivery (file-backed queues, the API client over libcurl, serial queues on threads of
// their own) reporting to the stand-in. Time is virtual: the manual clock gives event times and back-off
// deadlines, and the queue timer runs on the manual main executor. Remote configuration and
// reachability are the test services' fakes, so that the only requests are the uploads.
class Delivery {
 public:
  Delivery() : service({.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}) {
    auto services = ts.services();
    const auto fakeRemoteConfig = services.makeRemoteConfig;
    const auto fakeReachability = services.makeReachability;
    dizizoz::addDeliveryServices(
        services, {.http = &http,
                   .makeSerialQueue = [](std::string_view label) -> std::shared_ptr<platform::SerialQueue> {
                     return std::make_shared<platform::ThreadSerialQueue>(std::string(label));
                   },
                   .openReachabilitySource = {}});
    services.makeRemoteConfig = fakeRemoteConfig;
    services.makeReachability = fakeReachability;
    config = std::make_shared<DiziZozConfig>(kToken, service.baseURL());
    config->disableRemoteConfigForTesting = true;
    config->disableFlushOnBackgroundForTesting = true;
    config->preloadFeatureFlags = false;
    config->captureApplicationLifecycleEvents = false;
    client = DiziZozSDK::create(config, services);
  }
  ~Delivery() {
    if (client) client->close();
    client.reset();
    ts.executor.runUntilIdle();
  }

  void setup() {
    client->setup(config);
    ts.executor.runUntilIdle();
  }
  std::shared_ptr<DiziZozQueue<DiziZozEvent>> events() const {
    return std::dynamic_pointer_cast<DiziZozQueue<DiziZozEvent>>(client->queue());
  }
  std::vector<AnalyticsRequest> batches() const { return service.requests(AnalyticsEndpoint::batch); }

  // Waits (real time) for work on the client's threads, running the main executor's due jobs meanwhile.
  testing::AssertionResult eventually(const std::function<bool()>& done) {
    return quorvelle::test::waitUntil(
        [&] {
          ts.executor.runUntilIdle();
          return done();
        },
        "the delivery state the test waits for");
  }

  AnalyticsServiceStandIn service;
  platform::CurlHttpClient http;
  dizizoz::test::TestServices ts;
  std::shared_ptr<DiziZozConfig> config;
  std::shared_ptr<DiziZozSDK> client;
};

// The file in `folder` that holds the event named `name`.
std::optional<std::filesystem::path> storedRecordOf(const std::filesystem::path& folder,
                                                    const std::string& name) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path());
    const auto record = nlohmann::json::parse(in, nullptr, false);
    if (record.is_object() && record.value("event", std::string()) == name) return entry.path();
  }
  return std::nullopt;
}

void captureNumbered(DiziZozSDK& client, int count) {
  for (int i = 0; i < count; ++i) client.capture("e" + std::to_string(i));
}

std::vector<std::string> numberedNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("e" + std::to_string(i));
  return names;
}

TEST(DeliveryEndToEndTest, TwentyCapturesArriveAsOneGzipBatchInCaptureOrder) {
  Delivery d;
  d.setup();
  captureNumbered(*d.client, 20);
  ASSERT_TRUE(d.eventually([&] { return !d.batches().empty() && d.events()->depth() == 0; }));

  const auto batches = d.batches();
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_TRUE(batches[0].gzipped);
  EXPECT_EQ(batches[0].answeredStatus, 200);
  const auto events = batches[0].events();
  EXPECT_EQ(field(events, "event"), numberedNames(20));
  const auto uuids = field(events, "uuid");
  EXPECT_EQ(std::set<std::string>(uuids.begin(), uuids.end()).size(), 20u);
  EXPECT_EQ(d.service.problems(), std::vector<std::string>{});
}

TEST(DeliveryEndToEndTest, ABatchAnswered503IsSentAgainAfterItsBackOffAndDeliveredOnce) {
  Delivery d;
  d.service.script(AnalyticsEndpoint::batch, analytics_reply::status(503));
  d.setup();
  captureNumbered(*d.client, 20);
  auto queue = d.events();
  ASSERT_TRUE(d.eventually([&] { return queue->pauseReason().has_value(); }));
  EXPECT_EQ(queue->depth(), 20u);

  // The one-second back-off has passed when the queue's timer fires next.
  d.ts.executor.advance(std::chrono::seconds(static_cast<int>(d.config->flushIntervalSeconds)));
  ASSERT_TRUE(d.eventually([&] { return d.batches().size() == 2 && queue->depth() == 0; }));

  const auto batches = d.batches();
  EXPECT_EQ(batches[0].answeredStatus, 503);
  EXPECT_EQ(batches[1].answeredStatus, 200);
  EXPECT_EQ(field(batches[1].events(), "uuid"), field(batches[0].events(), "uuid"));
  EXPECT_EQ(field(batches[1].events(), "event"), numberedNames(20));
  EXPECT_FALSE(queue->pauseReason()) << "a success ends the back-off";

  d.client->flush();  // nothing is left to send
  d.ts.executor.advance(std::chrono::seconds(static_cast<int>(d.config->flushIntervalSeconds)));
  d.service.waitForRequests(AnalyticsEndpoint::batch, 3, 200ms);
  EXPECT_EQ(d.batches().size(), 2u);
}

// A batch is deleted only after a 2xx answer to the request that carried it. 307 and 308 take the same
// body to the new place, where it is delivered; 301, 302 and 303 come back as the answer, are retried
// like any 3xx after the back-off, and the batch is delivered then. No body-less GET is ever sent.
TEST(DeliveryEndToEndTest, ARedirectedBatchIsDeliveredOnceOrKeptNeverDeletedUndelivered) {
  for (const int status : {301, 302, 303, 307, 308}) {
    SCOPED_TRACE(status);
    Delivery d;
    d.service.script(AnalyticsEndpoint::batch,
                     analytics_reply::redirect(d.service.baseURL() + "/moved/batch", status));
    d.setup();
    captureNumbered(*d.client, 20);
    auto queue = d.events();
    const bool followed = status == 307 || status == 308;
    if (!followed) {
      ASSERT_TRUE(d.eventually([&] { return queue->pauseReason().has_value(); }));
      EXPECT_EQ(queue->depth(), 20u) << "kept for the next attempt";
      d.ts.executor.advance(std::chrono::seconds(static_cast<int>(d.config->flushIntervalSeconds)));
    }
    ASSERT_TRUE(d.eventually([&] { return d.batches().size() == 2 && queue->depth() == 0; }));

    const auto batches = d.batches();
    EXPECT_EQ(batches[0].answeredStatus, status);
    EXPECT_EQ(batches[1].answeredStatus, 200);
    EXPECT_EQ(batches[1].raw.path, followed ? "/moved/batch" : "/batch");
    EXPECT_EQ(field(batches[1].events(), "event"), numberedNames(20));
    EXPECT_EQ(field(batches[1].events(), "uuid"), field(batches[0].events(), "uuid"));
    for (const auto& request : d.service.requests())
      EXPECT_EQ(request.raw.method, "POST") << request.raw.target;
  }
}

// A Retry-After too long for the clock, as seconds or as a date past what it holds (2262), pauses the
// queue as long as the clock can hold, not for a wrapped time in the past nor as an unreadable header;
// a date in 2200 the clock holds. The stored events stay.
TEST(DeliveryEndToEndTest, AHugeRetryAfterKeepsTheQueuePaused) {
  for (const char* retryAfter :
       {"99999999999999999999", "Fri, 31 Dec 9999 23:59:59 GMT", "Wed, 01 Jan 2200 00:00:00 GMT"}) {
    SCOPED_TRACE(retryAfter);
    Delivery d;
    d.service.script(AnalyticsEndpoint::batch, analytics_reply::status(503, retryAfter));
    d.setup();
    captureNumbered(*d.client, 20);
    auto queue = d.events();
    ASSERT_TRUE(
        d.eventually([&] { return d.batches().size() == 1 && d.batches()[0].answeredStatus == 503; }));
    ASSERT_TRUE(d.eventually([&] { return queue->pauseReason().has_value(); }));

    // A day on, before any timer or flush could try again, the pause still holds.
    d.ts.clock.advance(std::chrono::hours(24));
    EXPECT_TRUE(queue->pauseReason().has_value());
    d.ts.executor.advance(std::chrono::hours(24));  // the flush timer fires thousands of times
    d.client->flush();
    EXPECT_TRUE(queue->pauseReason().has_value());
    EXPECT_EQ(queue->depth(), 20u);
    EXPECT_EQ(d.batches().size(), 1u);
  }
}

// A stored record the program may not read (mode 000, read as a user other than root) does not hold back
// the stream: the records behind it are sent, and it stays for a later flush, which sends it once it can
// be read.
TEST(DeliveryEndToEndTest, AnUnreadableRecordAtTheHeadStaysWhileTheRecordsBehindItAreSent) {
  // Before the client's threads start, so that they inherit it.
  const quorvelle::test::WithoutReadOverride unprivileged;
  Delivery d;
  d.config->flushAt = 10;
  d.setup();
  captureNumbered(*d.client, 3);
  auto queue = d.events();
  ASSERT_EQ(queue->depth(), 3u);
  const auto head =
      storedRecordOf(d.ts.location().applicationSupport / kToken / "dizizoz.queueFolder.uuid", "e0");
  ASSERT_TRUE(head);
  std::filesystem::permissions(*head, std::filesystem::perms::none);

  d.client->flush();
  ASSERT_TRUE(d.eventually([&] { return queue->depth() == 1 && d.batches().size() == 1; }));
  EXPECT_EQ(field(d.batches()[0].events(), "event"), (std::vector<std::string>{"e1", "e2"}));
  EXPECT_TRUE(std::filesystem::exists(*head));

  std::filesystem::permissions(*head,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  d.client->flush();
  ASSERT_TRUE(d.eventually([&] { return queue->depth() == 0; }));
  const auto batches = d.batches();
  EXPECT_EQ(field(batches.back().events(), "event"), (std::vector<std::string>{"e0"}));
  for (const auto& batch : batches) EXPECT_EQ(batch.answeredStatus, 200);
}

TEST(DeliveryEndToEndTest, UploadsPauseWhileUnreachableAndResumeWhenTheNetworkReturns) {
  Delivery d;
  d.setup();
  auto network = d.ts.lastReachability();
  ASSERT_TRUE(network);
  network->setConnection(DiziZozConnection::unavailable);

  captureNumbered(*d.client, 25);
  d.client->flush();
  d.ts.executor.advance(std::chrono::seconds(static_cast<int>(d.config->flushIntervalSeconds)));
  // Gated before any batch is read: nothing was handed to the network.
  EXPECT_TRUE(d.events()->pauseReason());
  EXPECT_EQ(d.events()->depth(), 25u);
  EXPECT_TRUE(d.batches().empty());

  network->setConnection(DiziZozConnection::wifi);  // flushes at once
  ASSERT_TRUE(d.eventually([&] { return !d.batches().empty(); }));
  d.client->flush();
  ASSERT_TRUE(d.eventually([&] { return d.events()->depth() == 0; }));
  std::vector<std::string> names;
  for (const auto& batch : d.batches())
    for (const auto& name : field(batch.events(), "event")) names.push_back(name);
  EXPECT_EQ(names, numberedNames(25));
}

}  // namespace
