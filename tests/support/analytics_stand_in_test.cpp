#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/Gzip.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"

namespace {

using namespace std::chrono_literals;
using platform::HttpRequest;
using platform::HttpResult;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsRequest;
using quorvelle::test::AnalyticsServiceStandIn;
using quorvelle::test::WaitingExecutor;
namespace reply = quorvelle::test::analytics_reply;
using Json = nlohmann::json;

const Json kEvent = {{"event", "onboarding_started"},
                     {"distinct_id", "device-1"},
                     {"properties", {{"step", 1}}},
                     {"timestamp", "2024-01-01T00:00:00.000Z"},
                     {"uuid", "0190a4b2-1c3d-7e4f-8a9b-0c1d2e3f4a5b"}};
const Json kBatch = {
    {"api_key", "phc_stand_in"}, {"batch", Json::array({kEvent})}, {"sent_at", "2024-01-01T00:00:01.000Z"}};

std::string gzip(const std::string& text) {
  const auto result = dizizoz::gzipped(text);
  return std::string(result.data.begin(), result.data.end());
}

class AnalyticsServiceStandInTest : public testing::Test {
 protected:
  // A request with the headers the analytics client always sends.
  HttpRequest request(const std::string& method, const std::string& target, std::string body = {}) {
    HttpRequest r;
    r.method = method;
    r.url = service.baseURL() + target;
    r.body = std::move(body);
    r.timeout = 5s;
    r.headers.set("Content-Type", "application/json; charset=utf-8");
    r.headers.set("User-Agent", "dizizoz-ios/3.69.5");
    r.headers.set("Accept-Encoding", "gzip");
    return r;
  }

  HttpRequest gzipped(const std::string& target, const Json& body) {
    HttpRequest r = request("POST", target, gzip(body.dump()));
    r.headers.set("Content-Encoding", "gzip");
    return r;
  }

  HttpResult send(HttpRequest r) {
    std::optional<HttpResult> result;
    http.send(std::move(r), executor, [&](HttpResult got) { result = std::move(got); });
    EXPECT_TRUE(executor.runUntil([&] { return result.has_value(); }));
    return result.value_or(HttpResult{});
  }

  AnalyticsServiceStandIn service;
  WaitingExecutor executor;
  platform::CurlHttpClient http;
};

TEST_F(AnalyticsServiceStandInTest, AConformingBatchIsInflatedRecordedByUuidAndAnswered) {
  const HttpResult result = send(gzipped("/batch", kBatch));
  EXPECT_EQ(result.status, 200);
  const AnalyticsRequest seen = service.requests().at(0);
  EXPECT_EQ(seen.endpoint, AnalyticsEndpoint::batch);
  EXPECT_TRUE(seen.gzipped);
  EXPECT_EQ(seen.body, kBatch);
  EXPECT_EQ(seen.problems, std::vector<std::string>{});
  EXPECT_EQ(seen.hostName, "127.0.0.1");
  EXPECT_EQ(service.waitForEvent("0190a4b2-1c3d-7e4f-8a9b-0c1d2e3f4a5b", 1s), kEvent);
}

// The checks are what later tests rely on to notice a wrong request: each fault must be reported.
TEST_F(AnalyticsServiceStandInTest, EveryDepartureFromTheWireFormatIsReported) {
  Json wrongToken = kBatch;
  wrongToken["api_key"] = "phc_other";
  wrongToken.erase("sent_at");
  Json badEvent = kBatch;
  badEvent["batch"][0]["timestamp"] = "2024-01-01T00:00:00Z";
  badEvent["batch"][0]["uuid"] = "0190A4B2-1C3D-7E4F-8A9B-0C1D2E3F4A5B";
  HttpRequest plainButSaysGzip = request("POST", "/batch", kBatch.dump());
  plainButSaysGzip.headers.set("Content-Encoding", "gzip");
  HttpRequest compressedFlags = gzipped("/flags", Json{{"api_key", "phc_stand_in"},
                                                       {"distinct_id", "d"},
                                                       {"groups", Json::object()},
                                                       {"timezone", "UTC"}});
  HttpRequest noAgent = request("GET", "/array/phc_stand_in/config");
  noAgent.headers.remove("User-Agent");

  struct Case {
    const char* name;
    HttpRequest sent;
    std::vector<std::string> problems;
    int status = 200;
  };
  const std::vector<Case> cases = {
      {"wrong token, no sent_at",
       gzipped("/batch", wrongToken),
       {"the body lacks \"sent_at\"", "\"api_key\" is \"phc_other\", not the project token"}},
      {"event without milliseconds, upper-case uuid",
       gzipped("/batch", badEvent),
       {"event 0 \"timestamp\" is not a UTC time with milliseconds",
        "event 0 \"uuid\" is not a lower-case UUID"}},
      {"not gzip", plainButSaysGzip, {"the gzip body lacks the gzip magic bytes"}, 400},
      {"snapshot event without api_key",
       gzipped("/s/", Json::array({kEvent})),
       {"event 0 lacks \"api_key\""}},
      {"compressed flags without v=2",
       compressedFlags,
       {"the query lacks \"v=2\"", "an uncompressed request carries \"Content-Encoding\""}},
      {"push with another platform",
       gzipped("/api/push_subscriptions/", Json{{"api_key", "phc_stand_in"},
                                                {"distinct_id", "d"},
                                                {"device_token", "t"},
                                                {"platform", "android"},
                                                {"app_id", "a"}}),
       {"\"platform\" is not \"ios\""}},
      {"logs without token",
       gzipped("/i/v1/logs", Json{{"resourceLogs", Json::array()}}),
       {"the query lacks \"token\""}},
      {"remote config without user agent", noAgent, {"\"User-Agent\" is not <sdk name>/<version>"}},
      {"unknown path", request("POST", "/capture", "{}"), {"no service endpoint answers POST /capture"}, 404},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HttpResult result = send(c.sent);
    EXPECT_EQ(result.status, c.status);
    std::vector<std::string> problems = service.requests().back().problems;
    std::vector<std::string> expected = c.problems;
    std::sort(problems.begin(), problems.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(problems, expected);
  }
}

TEST_F(AnalyticsServiceStandInTest, ScriptedRepliesComeFirstThenTheRehearsalThenTheDefaults) {
  service.setFlags(Json{{"flags", {{"beta", true}}}});
  service.script(AnalyticsEndpoint::flags, reply::status(503, "120"));
  service.script(AnalyticsEndpoint::flags, reply::redirect(service.baseURL("localhost") + "/flags?v=2"));
  const std::string flagsBody =
      R"({"api_key":"phc_stand_in","distinct_id":"d","groups":{},"timezone":"UTC"})";

  const HttpResult scripted = send(request("POST", "/flags?v=2", flagsBody));
  EXPECT_EQ(scripted.status, 503);
  EXPECT_EQ(scripted.headers.get("Retry-After"), "120");
  const HttpResult redirected = send(request("POST", "/flags?v=2", flagsBody));
  EXPECT_EQ(redirected.status, 200);
  EXPECT_EQ(Json::parse(redirected.body), (Json{{"flags", {{"beta", true}}}}));
  EXPECT_EQ(service.requests().back().hostName, "localhost");

  service.rehearse({.status = 500, .retryAfter = std::nullopt, .delay = 0ms, .drop = false});
  EXPECT_EQ(send(gzipped("/batch", kBatch)).status, 500);
  EXPECT_EQ(service.events().size(), 1u);  // a failed upload still arrived
  service.rehearse({.status = std::nullopt, .retryAfter = std::nullopt, .delay = 0ms, .drop = true});
  const HttpResult dropped = send(gzipped("/batch", kBatch));
  ASSERT_TRUE(dropped.error.has_value());
  EXPECT_EQ(dropped.error->kind, platform::HttpErrorKind::connectionLost);
  EXPECT_EQ(service.requests().back().answeredStatus, 0);

  // Waiting gives up after the time it is given.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(service.waitForRequests(100, 50ms));
  EXPECT_FALSE(service.waitForEvent("00000000-0000-0000-0000-000000000000", 50ms).has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// A held answer waits, recorded, for its release; the next request to the endpoint is not held, and a
// stop ends a hold that was never released.
TEST_F(AnalyticsServiceStandInTest, AHeldAnswerComesOnlyAfterItsRelease) {
  const auto release = service.holdNext(AnalyticsEndpoint::remoteConfig);
  std::optional<HttpResult> held;
  http.send(request("GET", "/array/phc_stand_in/config"), executor,
            [&](HttpResult got) { held = std::move(got); });
  ASSERT_TRUE(service.waitForRequests(AnalyticsEndpoint::remoteConfig, 1));
  // A later request makes its whole round trip meanwhile.
  EXPECT_EQ(send(gzipped("/batch", kBatch)).status, 200);
  EXPECT_FALSE(held.has_value()) << "answered before the release";
  release();
  ASSERT_TRUE(executor.runUntil([&] { return held.has_value(); }));
  EXPECT_EQ(held->status, 200);
  EXPECT_EQ(send(request("GET", "/array/phc_stand_in/config")).status, 200);

  (void)service.holdNext(AnalyticsEndpoint::remoteConfig);
  std::optional<HttpResult> never;
  http.send(request("GET", "/array/phc_stand_in/config"), executor,
            [&](HttpResult got) { never = std::move(got); });
  ASSERT_TRUE(service.waitForRequests(AnalyticsEndpoint::remoteConfig, 3));
  service.stop();  // with the hold still in place
  EXPECT_TRUE(executor.runUntil([&] { return never.has_value(); }));
}

}  // namespace
