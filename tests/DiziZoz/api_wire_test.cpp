#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PeakMemory.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"
#include "tests/support/http/LoopbackHttpServer.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozApi;
using dizizoz::DiziZozApiEnvironment;
using dizizoz::DiziZozApiError;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozUploadInfo;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using platform::HttpErrorKind;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsRequest;
using quorvelle::test::AnalyticsServiceStandIn;
using quorvelle::test::ChildProcess;
using quorvelle::test::LoopbackHttpServer;
using quorvelle::test::ScriptedReply;
using quorvelle::test::WaitingExecutor;
namespace reply = quorvelle::test::analytics_reply;
using Json = nlohmann::json;

constexpr const char* kToken = "phc_wire";
// 2024-01-01T00:00:00.123Z
const platform::fake::ManualClock::WallTime kNow{std::chrono::milliseconds(1704067200123)};

struct Fetched {
  std::optional<Properties> object;
  std::optional<DiziZozApiError> error;
};

class DiziZozApiWireTest : public testing::Test {
 protected:
  std::shared_ptr<DiziZozConfig> config(const std::string& hostSuffix = "") {
    return std::make_shared<DiziZozConfig>(kToken, service.baseURL() + hostSuffix);
  }

  DiziZozApiEnvironment environment() {
    return dizizoz::test::loopbackApiEnvironment(http, completions, retries, clock, "Europe/Berlin");
  }

  std::unique_ptr<DiziZozApi> api(std::shared_ptr<DiziZozConfig> config) {
    return std::make_unique<DiziZozApi>(std::move(config), environment());
  }

  std::unique_ptr<DiziZozApi> api(const std::string& hostSuffix = "") { return api(config(hostSuffix)); }

  // Runs an upload operation and waits for its outcome, which must not arrive before the call returns.
  DiziZozUploadInfo upload(const std::function<void(DiziZozApi::UploadCompletion)>& operation) {
    std::optional<DiziZozUploadInfo> info;
    operation([&](DiziZozUploadInfo i) { info = std::move(i); });
    EXPECT_FALSE(info.has_value()) << "completed on the caller's thread";
    EXPECT_TRUE(completions->runUntil([&] { return info.has_value(); }));
    return info.value_or(DiziZozUploadInfo{});
  }

  Fetched fetch(const std::function<void(DiziZozApi::FetchCompletion)>& operation) {
    std::optional<Fetched> fetched;
    operation([&](std::optional<Properties> object, std::optional<DiziZozApiError> error) {
      fetched = Fetched{std::move(object), std::move(error)};
    });
    EXPECT_TRUE(completions->runUntil([&] { return fetched.has_value(); }));
    return fetched.value_or(Fetched{});
  }

  static void noFlags(DiziZozApi& api, DiziZozApi::FetchCompletion completion) {
    api.flags("device-1", std::nullopt, std::nullopt, {}, Properties::object(), std::nullopt,
              std::move(completion));
  }

  AnalyticsRequest lastRequest() {
    const auto all = service.requests();
    EXPECT_FALSE(all.empty());
    return all.empty() ? AnalyticsRequest{} : all.back();
  }

  static DiziZozEvent event(std::string name, Properties properties = Properties::object()) {
    return DiziZozEvent(std::move(name), "device-1", std::move(properties), kNow,
                        dizizoz::TimeBasedEpochGenerator::shared().v7());
  }

  CapturedLog log;
  AnalyticsServiceStandIn service{{.projectToken = kToken, .port = 0, .snapshotPath = "/s/"}};
  platform::fake::ManualClock clock{kNow};
  std::shared_ptr<WaitingExecutor> completions = std::make_shared<WaitingExecutor>();
  std::shared_ptr<platform::fake::ManualSerialQueue> retries =
      std::make_shared<platform::fake::ManualSerialQueue>();
  // Declared after the queues it delivers to, so that it goes first.
  platform::CurlHttpClient http;
};

TEST_F(DiziZozApiWireTest, EveryOperationReachesItsEndpointOnAnyFormOfTheHost) {
  struct Case {
    const char* name;
    std::string hostPath;
    std::string snapshotEndpoint = "/s/";
    std::function<void(DiziZozApi&, DiziZozApi::UploadCompletion)> upload = {};
    std::function<void(DiziZozApi&, DiziZozApi::FetchCompletion)> fetch = {};
    std::string method;
    std::string target;
  };
  const auto batch = [](DiziZozApi& a, DiziZozApi::UploadCompletion c) {
    a.batch({event("e")}, std::move(c));
  };
  const auto snapshot = [](DiziZozApi& a, DiziZozApi::UploadCompletion c) {
    a.snapshot({event("$snapshot")}, std::move(c));
  };
  const auto logs = [](DiziZozApi& a, DiziZozApi::UploadCompletion c) {
    a.logs(Properties{{"resourceLogs", Json::array()}}, std::move(c));
  };
  const auto subscribe = [](DiziZozApi& a, DiziZozApi::UploadCompletion c) {
    a.pushSubscription("device-1", "token-1", "com.quorvelle.app", std::nullopt, std::move(c));
  };
  const auto unsubscribe = [](DiziZozApi& a, DiziZozApi::UploadCompletion c) {
    a.deletePushSubscription("device-1", "token-1", "com.quorvelle.app", std::nullopt, std::move(c));
  };
  const auto remoteConfig = [](DiziZozApi& a, DiziZozApi::FetchCompletion c) {
    a.remoteConfig(std::move(c));
  };
  const std::vector<Case> cases = {
      {.name = "batch", .hostPath = "", .upload = batch, .method = "POST", .target = "/batch"},
      {.name = "batch, host ending in a slash",
       .hostPath = "/",
       .upload = batch,
       .method = "POST",
       .target = "/batch"},
      {.name = "batch, host with a path",
       .hostPath = "/ingest",
       .upload = batch,
       .method = "POST",
       .target = "/ingest/batch"},
      {.name = "batch, host path with a slash",
       .hostPath = "/ingest//",
       .upload = batch,
       .method = "POST",
       .target = "/ingest/batch"},
      {.name = "snapshot", .hostPath = "", .upload = snapshot, .method = "POST", .target = "/s/"},
      {.name = "snapshot without its leading slash",
       .hostPath = "",
       .snapshotEndpoint = "s/",
       .upload = snapshot,
       .method = "POST",
       .target = "/s/"},
      {.name = "snapshot, host with a path",
       .hostPath = "/ingest/",
       .upload = snapshot,
       .method = "POST",
       .target = "/ingest/s/"},
      {.name = "snapshot without its slash, host with a path",
       .hostPath = "/ingest",
       .snapshotEndpoint = "s/",
       .upload = snapshot,
       .method = "POST",
       .target = "/ingest/s/"},
      {.name = "logs",
       .hostPath = "",
       .upload = logs,
       .method = "POST",
       .target = "/i/v1/logs?token=phc_wire"},
      {.name = "push subscription",
       .hostPath = "",
       .upload = subscribe,
       .method = "POST",
       .target = "/api/push_subscriptions/"},
      {.name = "push unsubscription",
       .hostPath = "",
       .upload = unsubscribe,
       .method = "DELETE",
       .target = "/api/push_subscriptions/"},
      {.name = "flags",
       .hostPath = "/ingest",
       .fetch = noFlags,
       .method = "POST",
       .target = "/ingest/flags?v=2"},
      {.name = "remote config",
       .hostPath = "",
       .fetch = remoteConfig,
       .method = "GET",
       .target = "/array/phc_wire/config"},
      {.name = "remote config, host with a path",
       .hostPath = "/ingest/",
       .fetch = remoteConfig,
       .method = "GET",
       .target = "/ingest/array/phc_wire/config"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto settings = config(c.hostPath);
    settings->snapshotEndpoint = c.snapshotEndpoint;
    auto client = api(settings);
    if (c.upload) {
      const DiziZozUploadInfo info = upload([&](auto done) { c.upload(*client, std::move(done)); });
      EXPECT_EQ(info.statusCode, 200);
      EXPECT_FALSE(info.error.has_value());
    } else {
      const Fetched fetched = fetch([&](auto done) { c.fetch(*client, std::move(done)); });
      EXPECT_EQ(fetched.object, Properties::object());
      EXPECT_FALSE(fetched.error.has_value());
    }
    const AnalyticsRequest seen = lastRequest();
    EXPECT_EQ(seen.raw.method, c.method);
    EXPECT_EQ(seen.raw.target, c.target);
    EXPECT_EQ(seen.problems, std::vector<std::string>{});
  }
}

TEST_F(DiziZozApiWireTest, BatchIsTheGzippedEnvelopeOfTheEventsInOrder) {
  const std::vector<DiziZozEvent> events = {event("onboarding_started", {{"step", 1}}),
                                            event("tutorial_done"),
                                            event("purpose_chosen", {{"purpose", "work"}})};
  auto client = api();
  const DiziZozUploadInfo info = upload([&](auto done) { client->batch(events, std::move(done)); });
  EXPECT_EQ(info.statusCode, 200);
  EXPECT_FALSE(info.retryAfter.has_value());

  const AnalyticsRequest seen = lastRequest();
  EXPECT_TRUE(seen.raw.body.starts_with("\x1f\x8b"));
  EXPECT_EQ(seen.raw.header("Content-Encoding"), "gzip");
  EXPECT_TRUE(seen.gzipped);
  EXPECT_EQ(seen.body["api_key"], kToken);
  EXPECT_EQ(seen.body["sent_at"], "2024-01-01T00:00:00.123Z");
  ASSERT_EQ(seen.body["batch"].size(), 3u);
  for (std::size_t i = 0; i < events.size(); ++i) EXPECT_EQ(seen.body["batch"][i], events[i].toJSON()) << i;
  EXPECT_EQ(service.event(events[1].uuid.toString()), events[1].toJSON());
  EXPECT_TRUE(log.mentions("[DiziZoz] batch sent successfully."));
}

TEST_F(DiziZozApiWireTest, BodiesOfSnapshotsLogsAndPushSubscriptions) {
  auto client = api();
  DiziZozEvent snap = event("$snapshot", {{"$snapshot_data", Json::array({1, 2})}});
  upload([&](auto done) { client->snapshot({snap}, std::move(done)); });
  snap.apiKey = kToken;
  EXPECT_EQ(lastRequest().body, Json::array({snap.toJSON()}));
  EXPECT_EQ(lastRequest().body[0]["api_key"], kToken);

  const Properties payload = {{"resourceLogs", Json::array({{{"scopeLogs", Json::array()}}})}};
  upload([&](auto done) { client->logs(payload, std::move(done)); });
  EXPECT_TRUE(lastRequest().gzipped);
  EXPECT_EQ(lastRequest().body, payload);

  upload([&](auto done) {
    client->pushSubscription("device-1", "tok", "com.app", "identity", std::move(done));
  });
  EXPECT_EQ(lastRequest().body, (Json{{"api_key", kToken},
                                      {"distinct_id", "device-1"},
                                      {"device_token", "tok"},
                                      {"platform", "ios"},
                                      {"app_id", "com.app"},
                                      {"identity_token", "identity"}}));
  upload([&](auto done) {
    client->deletePushSubscription("device-1", "tok", "com.app", std::nullopt, std::move(done));
  });
  EXPECT_EQ(lastRequest().raw.method, "DELETE");
  EXPECT_TRUE(lastRequest().gzipped);
  EXPECT_FALSE(lastRequest().body.contains("identity_token"));
  EXPECT_EQ(service.problems(), std::vector<std::string>{});
}

TEST_F(DiziZozApiWireTest, FailingCompressionSendsThePlainJsonWithoutContentEncoding) {
  DiziZozApiEnvironment env = environment();
  env.compress = [](std::string_view) {
    return dizizoz::GzipResult{.data = {}, .error = dizizoz::GzipError::fromZlib(-4, "out of memory")};
  };
  DiziZozApi client(config(), std::move(env));
  const DiziZozEvent sent = event("e");
  const DiziZozUploadInfo info = upload([&](auto done) { client.batch({sent}, std::move(done)); });

  EXPECT_EQ(info.statusCode, 200);
  const AnalyticsRequest seen = lastRequest();
  EXPECT_FALSE(seen.raw.header("Content-Encoding").has_value());
  EXPECT_EQ(Json::parse(seen.raw.body)["batch"][0], sent.toJSON());
  EXPECT_EQ(seen.problems, std::vector<std::string>{});
  EXPECT_TRUE(
      log.mentions("[DiziZoz] Error gzipping the batch body, sending it uncompressed: out of memory."));
}

TEST_F(DiziZozApiWireTest, BodiesThatJsonCannotCarryCompleteAtOnceAndSendNothing) {
  auto client = api();
  std::optional<DiziZozUploadInfo> info;
  client->logs(Properties{{"ratio", std::nan("")}}, [&](DiziZozUploadInfo i) { info = i; });
  ASSERT_TRUE(info.has_value());
  EXPECT_FALSE(info->statusCode || info->error || info->retryAfter);
  EXPECT_TRUE(log.mentions("[DiziZoz] Error parsing the logs body"));

  std::optional<Fetched> fetched;
  client->flags("device-1", std::nullopt, std::nullopt, {}, Properties{{"name", "\xff\xfe"}}, std::nullopt,
                [&](auto object, auto error) {
                  fetched = Fetched{object, error};
                });
  ASSERT_TRUE(fetched.has_value());
  EXPECT_FALSE(fetched->object || fetched->error);
  EXPECT_TRUE(log.mentions("[DiziZoz] Error parsing the flags body"));
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(DiziZozApiWireTest, CustomHeadersAreAddedButNeverUnderReservedNames) {
  auto settings = config();
  settings->requestHeaders = std::map<std::string, std::string>{
      {"X-A", "1"}, {"content-type", "text/plain"}, {"Content-Encoding", "br"}, {"USER-AGENT", "spoof"}};
  auto client = api(settings);
  upload([&](auto done) { client->batch({event("e")}, std::move(done)); });
  fetch([&](auto done) { noFlags(*client, std::move(done)); });

  for (const AnalyticsRequest& seen : service.requests()) {
    SCOPED_TRACE(toString(seen.endpoint));
    EXPECT_EQ(seen.raw.header("X-A"), "1");
    EXPECT_EQ(seen.raw.header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(seen.raw.header("User-Agent"), "dizizoz-ios/3.69.5");
    EXPECT_EQ(seen.raw.header("Accept-Encoding"), "gzip");
    EXPECT_EQ(seen.problems, std::vector<std::string>{});
  }
  EXPECT_EQ(service.requests(AnalyticsEndpoint::batch).at(0).raw.header("Content-Encoding"), "gzip");
  EXPECT_FALSE(service.requests(AnalyticsEndpoint::flags).at(0).raw.header("Content-Encoding").has_value());
}

TEST_F(DiziZozApiWireTest, CustomHeadersStayWithinTheHostAndAreDroppedWhenARedirectLeavesIt) {
  AnalyticsServiceStandIn otherPort({.projectToken = kToken, .port = 0, .snapshotPath = "/s/"});
  struct Case {
    const char* name;
    std::string location;
    AnalyticsServiceStandIn& target;
    bool keepsCustomHeader;
  };
  const std::vector<Case> cases = {
      {"same host, other path", service.baseURL() + "/v2/batch", service, true},
      {"same host, other port", otherPort.baseURL() + "/batch", otherPort, true},
      {"other host name", service.baseURL("localhost") + "/batch", service, false},
  };
  auto settings = config();
  settings->requestHeaders = std::map<std::string, std::string>{{"X-A", "1"}, {"Content-Type", "text/plain"}};
  auto client = api(settings);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service.script(AnalyticsEndpoint::batch, reply::redirect(c.location, 307));
    const DiziZozEvent sent = event("e");
    const DiziZozUploadInfo info = upload([&](auto done) { client->batch({sent}, std::move(done)); });
    EXPECT_EQ(info.statusCode, 200);

    const AnalyticsRequest first = service.requests(AnalyticsEndpoint::batch).at(0);
    const AnalyticsRequest hop = c.target.requests().back();
    EXPECT_EQ(first.raw.header("X-A"), "1");
    EXPECT_EQ(hop.raw.header("X-A").has_value(), c.keepsCustomHeader);
    // The client's own headers go on every hop; the custom "Content-Type" never replaces them.
    EXPECT_EQ(hop.problems, std::vector<std::string>{});
    EXPECT_EQ(hop.body["batch"][0], sent.toJSON());
  }
}

TEST_F(DiziZozApiWireTest, RemoteConfigOfADefaultRegionComesFromItsAssetsAddressWithoutCustomHeaders) {
  struct Case {
    const char* name;
    std::string host;
    std::string hostName;
    std::string target;
    bool customHeader;
  };
  const std::string eu = service.baseURL() + "/eu";
  const std::vector<Case> cases = {
      {"US default", service.baseURL(), "localhost", "/us-assets/array/phc_wire/config", false},
      {"EU default", eu, "localhost", "/eu-assets/array/phc_wire/config", false},
      {"another host", service.baseURL() + "/", "127.0.0.1", "/array/phc_wire/config", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto settings = std::make_shared<DiziZozConfig>(kToken, c.host);
    settings->requestHeaders = std::map<std::string, std::string>{{"X-A", "1"}};
    DiziZozApiEnvironment env = environment();
    env.addresses = {.usIngestion = service.baseURL(),
                     .euIngestion = eu,
                     .usAssets = service.baseURL("localhost") + "/us-assets",
                     .euAssets = service.baseURL("localhost") + "/eu-assets/"};
    DiziZozApi client(settings, std::move(env));
    fetch([&](auto done) { client.remoteConfig(std::move(done)); });
    const AnalyticsRequest seen = lastRequest();
    EXPECT_EQ(seen.hostName, c.hostName);
    EXPECT_EQ(seen.raw.target, c.target);
    EXPECT_EQ(seen.raw.header("X-A").has_value(), c.customHeader);
    EXPECT_EQ(seen.problems, std::vector<std::string>{});
  }
}

TEST_F(DiziZozApiWireTest, UploadOutcomesCarryTheStatusAndTheParsedRetryAfter) {
  struct Case {
    const char* name;
    ScriptedReply answer;
    std::optional<std::int64_t> status;
    std::optional<double> retryAfter;
  };
  const std::vector<Case> cases = {
      {"200", reply::status(200), 200, std::nullopt},
      {"503 with 120 seconds", reply::status(503, "120"), 503, 120.0},
      {"negative seconds", reply::status(503, "-3"), 503, std::nullopt},
      {"not a number", reply::status(503, "abc"), 503, std::nullopt},
      {"past HTTP date", reply::status(429, "Wed, 21 Oct 2015 07:28:00 GMT"), 429, 0.0},
      // Measured from the client's clock (00:00:00.123): two minutes on, less the fraction.
      {"future HTTP date", reply::status(503, "Mon, 01 Jan 2024 00:02:00 GMT"), 503, 119.877},
      {"413", reply::status(413), 413, std::nullopt},
  };
  auto client = api();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service.script(AnalyticsEndpoint::batch, c.answer);
    const DiziZozUploadInfo info = upload([&](auto done) { client->batch({event("e")}, std::move(done)); });
    EXPECT_EQ(info.statusCode, c.status);
    EXPECT_FALSE(info.error.has_value());
    ASSERT_EQ(info.retryAfter.has_value(), c.retryAfter.has_value());
    if (c.retryAfter) {
      EXPECT_NEAR(*info.retryAfter, *c.retryAfter, 1e-6);
    }
  }
  EXPECT_TRUE(
      log.mentions(R"([DiziZoz] Error sending to batch API: status: 503, body: {"detail":"scripted"}.)"));
}

TEST_F(DiziZozApiWireTest, RefusedConnectionGivesTheErrorOnly) {
  auto client = api(std::make_shared<DiziZozConfig>(kToken, LoopbackHttpServer::closedBaseURL()));
  const DiziZozUploadInfo info = upload([&](auto done) { client->batch({event("e")}, std::move(done)); });
  ASSERT_TRUE(info.error.has_value());
  EXPECT_EQ(info.error->kind, HttpErrorKind::cannotConnect);
  EXPECT_FALSE(info.statusCode.has_value());
  EXPECT_FALSE(info.retryAfter.has_value());
  EXPECT_TRUE(log.mentions("[DiziZoz] Error calling the batch API: "));
}

// A service that never stops answering costs the program no more than each request's reply limit: the
// transfer ends with an error that names the limit, and nothing is retried for it. A flags answer larger
// than an upload's limit but within its own still arrives.
TEST_F(DiziZozApiWireTest, AnEndlessAnswerEndsAtTheRequestsReplyLimit) {
  auto client = api();
  service.script(AnalyticsEndpoint::batch, reply::endless());
  service.script(AnalyticsEndpoint::flags, reply::endless());
  service.script(AnalyticsEndpoint::remoteConfig, reply::endless());
  const quorvelle::test::PeakMemoryGrowth peak;

  const DiziZozUploadInfo batch = upload([&](auto done) { client->batch({event("e")}, std::move(done)); });
  ASSERT_TRUE(batch.error.has_value());
  EXPECT_EQ(batch.error->kind, HttpErrorKind::responseTooLarge);
  EXPECT_NE(batch.error->message.find(std::to_string(dizizoz::maxUploadReplyBytes)), std::string::npos)
      << batch.error->message;
  EXPECT_FALSE(batch.statusCode.has_value());
  for (const auto& [name, fetched] :
       {std::pair{"flags", fetch([&](auto done) { noFlags(*client, std::move(done)); })},
        std::pair{"remote config", fetch([&](auto done) { client->remoteConfig(std::move(done)); })}}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(fetched.object.has_value());
    ASSERT_TRUE(fetched.error && std::holds_alternative<platform::HttpError>(*fetched.error));
    EXPECT_EQ(std::get<platform::HttpError>(*fetched.error).kind, HttpErrorKind::responseTooLarge);
  }
  EXPECT_EQ(retries->pendingCount(), 0u);
  const auto growth = peak.growthBytes();
  if (growth) {
    EXPECT_LT(*growth, 48u << 20) << "peak memory rose by " << *growth << " bytes";
  }

  Json flags{{"featureFlags", {{"big", std::string(2 << 20, 'x')}}}};
  service.setFlags(flags);
  EXPECT_EQ(fetch([&](auto done) { noFlags(*client, std::move(done)); }).object, flags);
}

TEST_F(DiziZozApiWireTest, FlagsBodyLeavesOutWhatIsEmptyButAlwaysSendsGroups) {
  auto settings = config();
  auto client = api(settings);
  service.setFlags(Json{{"flags", {{"beta", {{"enabled", true}}}}}});

  const Fetched plain = fetch([&](auto done) { noFlags(*client, std::move(done)); });
  EXPECT_EQ(plain.object, (Json{{"flags", {{"beta", {{"enabled", true}}}}}}));
  EXPECT_EQ(lastRequest().body, (Json{{"api_key", kToken},
                                      {"distinct_id", "device-1"},
                                      {"groups", Json::object()},
                                      {"timezone", "Europe/Berlin"}}));

  fetch([&](auto done) {
    client->flags("device-1", "", "dev-9", {}, Properties::object(), DiziZozApi::GroupProperties{},
                  std::move(done));
  });
  EXPECT_EQ(lastRequest().body.value("$anon_distinct_id", Json()), "");  // given, so sent even when empty
  EXPECT_EQ(lastRequest().body.value("$device_id", Json()), "dev-9");
  EXPECT_FALSE(lastRequest().body.contains("person_properties"));
  EXPECT_FALSE(lastRequest().body.contains("group_properties"));

  settings->evaluationContexts = std::vector<std::string>{"web"};
  fetch([&](auto done) {
    client->flags("device-1", std::nullopt, std::nullopt, {{"company", "acme"}}, Properties{{"plan", "pro"}},
                  DiziZozApi::GroupProperties{{"company", {{"size", 3}}}}, std::move(done));
  });
  const Json body = lastRequest().body;
  EXPECT_EQ(body["groups"], (Json{{"company", "acme"}}));
  EXPECT_EQ(body["person_properties"], (Json{{"plan", "pro"}}));
  EXPECT_EQ(body["group_properties"], (Json{{"company", {{"size", 3}}}}));
  EXPECT_EQ(body["evaluation_contexts"], Json::array({"web"}));
  EXPECT_FALSE(lastRequest().raw.header("Content-Encoding").has_value());
  EXPECT_EQ(service.problems(), std::vector<std::string>{});
}

TEST_F(DiziZozApiWireTest, TimeoutsAndLostConnectionsAreRetriedOnceAfterAShortDelayWithTheSameBody) {
  struct Case {
    const char* name;
    std::vector<ScriptedReply> answers;
    HttpErrorKind kind;
    bool succeedsOnRetry;
    int maxRetries = 1;
  };
  const std::vector<Case> cases = {
      {"timeout, then flags", {reply::hanging()}, HttpErrorKind::timedOut, true},
      {"dropped, then flags", {reply::dropped()}, HttpErrorKind::connectionLost, true},
      {"dropped twice", {reply::dropped(), reply::dropped()}, HttpErrorKind::connectionLost, false},
      {"dropped with no retries", {reply::dropped()}, HttpErrorKind::connectionLost, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A fresh server each time: a connection dropped after it served a request would be retried by the
    // transport itself on a new connection.
    AnalyticsServiceStandIn flaky({.projectToken = kToken, .port = 0, .snapshotPath = "/s/"});
    flaky.setFlags(Json{{"flags", Json::object()}});
    for (const auto& answer : c.answers) flaky.script(AnalyticsEndpoint::flags, answer);
    DiziZozApiEnvironment env = environment();
    env.timeout = 500ms;
    auto settings = std::make_shared<DiziZozConfig>(kToken, flaky.baseURL());
    settings->featureFlagRequestMaxRetries = c.maxRetries;
    DiziZozApi client(settings, std::move(env));
    log.lines.clear();

    std::optional<Fetched> fetched;
    noFlags(client, [&](auto object, auto error) { fetched = Fetched{object, error}; });
    if (c.maxRetries == 0) {
      ASSERT_TRUE(completions->runUntil([&] { return fetched.has_value(); }));
      EXPECT_EQ(retries->pendingCount(), 0u);
      EXPECT_EQ(flaky.requests().size(), 1u);
      ASSERT_TRUE(fetched->error && std::holds_alternative<platform::HttpError>(*fetched->error));
      EXPECT_EQ(std::get<platform::HttpError>(*fetched->error).kind, c.kind);
      continue;
    }
    ASSERT_TRUE(completions->runUntil([&] { return retries->pendingCount() == 1; }));
    EXPECT_FALSE(fetched.has_value());
    EXPECT_TRUE(log.mentions("Retrying in 0.3 seconds (attempt 1/1)."));

    retries->advance(299ms);
    EXPECT_EQ(retries->pendingCount(), 1u);
    EXPECT_EQ(flaky.requests().size(), 1u);
    retries->advance(1ms);
    ASSERT_TRUE(completions->runUntil([&] { return fetched.has_value(); }));

    const auto sent = flaky.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].raw.body, sent[0].raw.body);
    EXPECT_EQ(sent[1].raw.target, "/flags?v=2");
    EXPECT_EQ(retries->pendingCount(), 0u);
    if (c.succeedsOnRetry) {
      EXPECT_EQ(fetched->object, (Json{{"flags", Json::object()}}));
      EXPECT_FALSE(fetched->error.has_value());
    } else {
      EXPECT_FALSE(fetched->object.has_value());
      ASSERT_TRUE(fetched->error && std::holds_alternative<platform::HttpError>(*fetched->error));
      EXPECT_EQ(std::get<platform::HttpError>(*fetched->error).kind, c.kind);
    }
    flaky.stop();
  }
}

TEST_F(DiziZozApiWireTest, BadGatewayAnswersAreRetriedOtherStatusesAndZeroRetriesAreNot) {
  struct Case {
    const char* name;
    ScriptedReply first;
    int maxRetries;
    bool retried;
  };
  const std::vector<Case> cases = {
      {"502", reply::status(502), 1, true},
      {"504", reply::status(504), 1, true},
      {"500", reply::status(500), 1, false},
      {"502 with no retries", reply::status(502), 0, false},
  };
  auto settings = config();
  auto client = api(settings);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings->featureFlagRequestMaxRetries = c.maxRetries;
    service.script(AnalyticsEndpoint::flags, c.first);
    const std::size_t before = service.requests().size();
    std::optional<Fetched> fetched;
    noFlags(*client, [&](auto object, auto error) { fetched = Fetched{object, error}; });
    ASSERT_TRUE(completions->runUntil([&] { return fetched.has_value() || retries->pendingCount() == 1; }));
    EXPECT_EQ(retries->pendingCount() == 1, c.retried);
    if (c.retried) {
      retries->advance(300ms);
      ASSERT_TRUE(completions->runUntil([&] { return fetched.has_value(); }));
      EXPECT_EQ(fetched->object, Json::object());
    }
    EXPECT_EQ(service.requests().size(), before + (c.retried ? 2 : 1));
    if (!c.retried) {
      EXPECT_TRUE(fetched->error.has_value());
    }
  }
  settings->featureFlagRequestMaxRetries = 1;
  service.script(AnalyticsEndpoint::flags, reply::json(Json{{"error", "boom"}}, 500));
  const Fetched failed = fetch([&](auto done) { noFlags(*client, std::move(done)); });
  ASSERT_TRUE(failed.error && std::holds_alternative<dizizoz::InternalDiziZozError>(*failed.error));
  const std::string text = dizizoz::describe(*failed.error);
  EXPECT_TRUE(
      text.starts_with(R"(Error calling flags API: status: 500, body: {"error":"boom"}. (DiziZozApi.cpp:)"))
      << text;
  EXPECT_TRUE(log.mentions(R"([DiziZoz] Error calling flags API: status: 500, body: {"error":"boom"}.)"));
}

// After close() the embedder may take the transport down: no request reaches it any more, a flags retry
// that comes due after the close included. Each completes at once, on the caller's thread, as cancelled.
TEST_F(DiziZozApiWireTest, AClosedClientSendsNothingNotEvenARetryThatComesDueLater) {
  auto client = api();
  service.script(AnalyticsEndpoint::flags, reply::status(502));
  std::optional<Fetched> retried;
  noFlags(*client, [&](auto object, auto error) { retried = Fetched{object, error}; });
  ASSERT_TRUE(completions->runUntil([&] { return retries->pendingCount() == 1; }));
  client->close();
  retries->advance(300ms);
  ASSERT_TRUE(retried && retried->error);
  ASSERT_TRUE(std::holds_alternative<platform::HttpError>(*retried->error));
  EXPECT_EQ(std::get<platform::HttpError>(*retried->error).kind, HttpErrorKind::cancelled);

  std::optional<DiziZozUploadInfo> batch;
  client->batch({event("after close")}, [&](DiziZozUploadInfo info) { batch = std::move(info); });
  ASSERT_TRUE(batch.has_value());
  EXPECT_FALSE(batch->statusCode) << "no answer: the batch stays queued";
  std::optional<Fetched> remote;
  client->remoteConfig([&](auto object, auto error) { remote = Fetched{object, error}; });
  ASSERT_TRUE(remote && remote->error);
  EXPECT_EQ(service.requests().size(), 1u);
}

TEST_F(DiziZozApiWireTest, AnswersThatAreNotAJsonObjectGiveNoFlagsNorConfiguration) {
  struct Case {
    const char* name;
    ScriptedReply answer;
    bool parseError;
  };
  const std::vector<Case> cases = {
      {"array", reply::json(Json::array({1, 2})), false},
      {"number", reply::text("42"), false},
      {"invalid JSON", reply::text("{\"flags\":"), true},
      {"empty body", reply::text(""), true},
  };
  auto client = api();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service.script(AnalyticsEndpoint::flags, c.answer);
    service.script(AnalyticsEndpoint::remoteConfig, c.answer);
    for (const Fetched& fetched : {fetch([&](auto done) { noFlags(*client, std::move(done)); }),
                                   fetch([&](auto done) { client->remoteConfig(std::move(done)); })}) {
      EXPECT_FALSE(fetched.object.has_value());
      EXPECT_EQ(fetched.error.has_value(), c.parseError);
      if (fetched.error) {
        EXPECT_TRUE(std::holds_alternative<dizizoz::JsonParseError>(*fetched.error));
      }
    }
  }
  EXPECT_TRUE(log.mentions("[DiziZoz] Error parsing the flags response: "));
  EXPECT_TRUE(log.mentions("[DiziZoz] Error parsing the remote config response: "));
}

TEST_F(DiziZozApiWireTest, RemoteConfigErrorsAreReportedAndNeverRetried) {
  auto client = api();
  service.setRemoteConfig(Json{{"hasFeatureFlags", false}});
  EXPECT_EQ(fetch([&](auto done) { client->remoteConfig(std::move(done)); }).object,
            (Json{{"hasFeatureFlags", false}}));
  EXPECT_TRUE(log.mentions("[DiziZoz] Remote config called successfully."));

  service.script(AnalyticsEndpoint::remoteConfig, reply::status(502));
  const Fetched bad = fetch([&](auto done) { client->remoteConfig(std::move(done)); });
  ASSERT_TRUE(bad.error && std::holds_alternative<dizizoz::InternalDiziZozError>(*bad.error));
  EXPECT_TRUE(dizizoz::describe(*bad.error)
                  .starts_with(
                      R"(Error calling the remote config API: status: 502, body: {"detail":"scripted"}. ()"));
  EXPECT_EQ(retries->pendingCount(), 0u);

  EXPECT_EQ(service.requests(AnalyticsEndpoint::remoteConfig).size(), 2u);

  auto refusing = api(std::make_shared<DiziZozConfig>(kToken, LoopbackHttpServer::closedBaseURL()));
  const Fetched refused = fetch([&](auto done) { refusing->remoteConfig(std::move(done)); });
  ASSERT_TRUE(refused.error && std::holds_alternative<platform::HttpError>(*refused.error));
  EXPECT_EQ(std::get<platform::HttpError>(*refused.error).kind, HttpErrorKind::cannotConnect);
  EXPECT_EQ(retries->pendingCount(), 0u);
  EXPECT_TRUE(log.mentions("[DiziZoz] Error calling the remote config API: "));
}

// An HTTPS peer whose certificate no authority vouches for: the handshake fails and nothing is sent.
TEST_F(DiziZozApiWireTest, SelfSignedHttpsPeerEndsAsATransportErrorBeforeAnyBodyIsSent) {
  quorvelle::test::TempDir dir;
  const std::string key = (dir / "key.pem").string();
  const std::string cert = (dir / "cert.pem").string();
  ChildProcess makeCert({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                         "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=127.0.0.1", "-addext",
                         "subjectAltName=IP:127.0.0.1", "-days", "1", "-keyout", key, "-out", cert});
  ASSERT_EQ(makeCert.wait(), 0) << makeCert.output();
  // -www: the peer never reads its standard input (at its end it would quit).
  ChildProcess peer({"openssl", "s_server", "-www", "-accept", "127.0.0.1:0", "-cert", cert, "-key", key});
  ASSERT_TRUE(peer.waitForOutput("ACCEPT 127.0.0.1:")) << peer.output();
  ASSERT_TRUE(peer.waitForOutput("\n", 10s, peer.output().find("ACCEPT")));
  const auto at = peer.output().find("ACCEPT 127.0.0.1:") + std::string("ACCEPT 127.0.0.1:").size();
  const std::string port = peer.output().substr(at, peer.output().find('\n', at) - at);

  auto settings = std::make_shared<DiziZozConfig>(kToken, "https://127.0.0.1:" + port);
  settings->featureFlagRequestMaxRetries = 3;
  auto client = api(settings);
  const DiziZozUploadInfo info =
      upload([&](auto done) { client->batch({event("secret_event")}, std::move(done)); });
  ASSERT_TRUE(info.error.has_value());
  EXPECT_EQ(info.error->kind, HttpErrorKind::tls) << info.error->message;
  EXPECT_FALSE(info.statusCode.has_value());

  const Fetched flags = fetch([&](auto done) {
    client->flags("device-1", std::nullopt, std::nullopt, {}, Properties::object(), std::nullopt,
                  std::move(done));
  });
  ASSERT_TRUE(flags.error && std::holds_alternative<platform::HttpError>(*flags.error));
  EXPECT_EQ(std::get<platform::HttpError>(*flags.error).kind, HttpErrorKind::tls);
  EXPECT_EQ(retries->pendingCount(), 0u);  // a refused certificate is not worth a retry

  // The peer saw both handshakes end on the client's alert, before any application data can flow.
  EXPECT_TRUE(peer.waitForOutput("unknown ca")) << peer.output();
  const std::size_t first = peer.output().find("unknown ca");
  EXPECT_TRUE(peer.waitForOutput("unknown ca", 10s, first + 1)) << peer.output();
}

}  // namespace
