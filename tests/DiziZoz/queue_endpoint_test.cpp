#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozLogsOTLP.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/delivery/QueueEndpoint.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozLogRecord;
using dizizoz::DiziZozLogSeverity;
using dizizoz::DiziZozUploadInfo;
using dizizoz::Properties;
using dizizoz::QueueEndpoint;
using dizizoz::Value;
using dizizoz::test::CapturedLog;
using Key = dizizoz::DiziZozStorage::StorageKey;
using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsServiceStandIn;
using quorvelle::test::WaitingExecutor;

using EventEndpoint = QueueEndpoint<DiziZozEvent>;
using LogsEndpoint = QueueEndpoint<DiziZozLogRecord>;

// 2024-01-01T00:00:00.123Z: stored events keep milliseconds.
const dizizoz::Date kNow{std::chrono::milliseconds(1704067200123)};

DiziZozEvent event(std::string name, Properties properties = Properties::object()) {
  return DiziZozEvent(std::move(name), "device-1", std::move(properties), kNow,
                      dizizoz::TimeBasedEpochGenerator::shared().v7());
}

DiziZozLogRecord logRecord(std::string body) {
  DiziZozLogRecord record;
  record.body = std::move(body);
  record.level = DiziZozLogSeverity::warn;
  record.timeUnixNano = record.observedTimeUnixNano = "1704067200123000000";
  return record;
}

TEST(QueueEndpointTest, RetriableStatusCodesOfEachStream) {
  const auto events = EventEndpoint::batch(nullptr);
  const auto snapshots = EventEndpoint::snapshot(nullptr);
  const auto logs = LogsEndpoint::logs(nullptr, Properties::object());
  struct Case {
    std::int64_t code;
    bool events;
    bool logs;
  };
  const Case cases[] = {
      {200, false, false}, {300, true, false},  {304, true, false},  {399, true, false}, {400, false, false},
      {401, false, false}, {408, true, true},   {413, false, false}, {429, true, true},  {500, true, true},
      {501, false, true},  {502, true, true},   {503, true, true},   {504, true, true},  {505, false, true},
      {599, false, true},  {600, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(dizizoz::isEventsRetriableStatusCode(c.code), c.events);
    EXPECT_EQ(events.isRetriableStatusCode(c.code), c.events);
    EXPECT_EQ(snapshots.isRetriableStatusCode(c.code), c.events);
    EXPECT_EQ(logs.isRetriableStatusCode(c.code), c.logs);
  }
}

TEST(QueueEndpointTest, EachStreamNamesItsFolderQueueAndLimits) {
  DiziZozConfig config("phc_endpoints");
  config.maxBatchSize = 7;
  config.flushAt = 0;  // handed on as configured; the queue raises it
  config.maxQueueSize = 70;
  config.flushIntervalSeconds = 3.5;
  config.logs->maxBatchSize = 9;
  config.logs->flushAt = 4;
  config.logs->maxBufferSize = 90;
  config.logs->flushIntervalSeconds = 1.5;

  const auto events = EventEndpoint::batch(nullptr);
  const auto snapshots = EventEndpoint::snapshot(nullptr);
  const auto logs = LogsEndpoint::logs(nullptr, Properties::object());

  EXPECT_EQ(events.storageKey, Key::queue);
  EXPECT_EQ(events.oldStorageKeys, (std::vector{Key::oldQueueFolder, Key::oldQueuePlist}));
  EXPECT_EQ(events.dispatchQueueLabel, "com.dizizoz.Queue");
  EXPECT_EQ(snapshots.storageKey, Key::replayQeueue);
  EXPECT_EQ(snapshots.oldStorageKeys, std::vector{Key::oldReplayQueue});
  EXPECT_EQ(snapshots.dispatchQueueLabel, "com.dizizoz.ReplayQueue");
  EXPECT_EQ(logs.storageKey, Key::logsQueue);
  EXPECT_TRUE(logs.oldStorageKeys.empty());
  EXPECT_EQ(logs.dispatchQueueLabel, "com.dizizoz.LogsQueue");

  for (const auto* endpoint : {&events, &snapshots}) {
    EXPECT_EQ(endpoint->initialCap(config), 7);
    EXPECT_EQ(endpoint->initialFlushAt(config), 0);
    EXPECT_EQ(endpoint->maxQueueSize(config), 70);
    EXPECT_EQ(endpoint->flushIntervalSeconds(config), 3.5);
    EXPECT_EQ(endpoint->rateCapMax(config), 0);
    EXPECT_EQ(endpoint->rateCapWindowSeconds(config), 0.0);
  }
  EXPECT_EQ(logs.initialCap(config), 9);
  EXPECT_EQ(logs.initialFlushAt(config), 4);
  EXPECT_EQ(logs.maxQueueSize(config), 90);
  EXPECT_EQ(logs.flushIntervalSeconds(config), 1.5);

  // The limits are read at each call: the queue reads them when it is built.
  struct RateCap {
    int maxLogs;
    double windowSeconds;
    int expectedMax;
    double expectedWindow;
  };
  for (const auto& c : {RateCap{500, 10.0, 500, 10.0}, RateCap{-5, -1.0, 0, 0.0}, RateCap{0, 0.0, 0, 0.0}}) {
    config.logs->rateCapMaxLogs = c.maxLogs;
    config.logs->rateCapWindowSeconds = c.windowSeconds;
    EXPECT_EQ(logs.rateCapMax(config), c.expectedMax) << c.maxLogs;
    EXPECT_EQ(logs.rateCapWindowSeconds(config), c.expectedWindow) << c.windowSeconds;
  }
}

TEST(QueueEndpointTest, RecordsBecomeBytesAndBack) {
  CapturedLog log;
  const auto events = EventEndpoint::batch(nullptr);
  const auto logs = LogsEndpoint::logs(nullptr, Properties::object());

  const DiziZozEvent plain = event("signed up", {{"plan", "pro"}, {"seats", 3}});
  EXPECT_EQ(events.decode(*events.encode(plain)), plain);

  // A value JSON cannot hold is dropped on its own, with its line; the other properties stay.
  const DiziZozEvent withNaN = event("signed up", {{"plan", "pro"}, {"ratio", std::nan("")}});
  const auto bytes = events.encode(withNaN);
  ASSERT_TRUE(bytes);
  const auto decoded = events.decode(*bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->properties, (Properties{{"plan", "pro"}}));
  EXPECT_EQ(decoded->uuid, withNaN.uuid);
  EXPECT_EQ(log.lines.back(), "[DiziZoz] property: ratio isn't serializable, dropping the item");

  DiziZozLogRecord record = logRecord("disk almost full");
  record.attributes = {{"free", 3}, {"ratio", std::nan("")}};
  const auto stored = logs.decode(*logs.encode(record));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->attributes, (Properties{{"free", 3}}));
  EXPECT_EQ(stored->body, "disk almost full");

  // Bytes that are not a JSON object of the record's form decode to nothing.
  for (const char* bad : {"[1]", "not json", "{}", "{\"event\":\"e\"}", "\"text\""}) {
    EXPECT_FALSE(events.decode(bad)) << bad;
    EXPECT_FALSE(logs.decode(bad)) << bad;
  }
}

TEST(QueueEndpointTest, DescribesRecordsForTheQueuedLine) {
  EXPECT_EQ(EventEndpoint::batch(nullptr).describe(event("Deep Link Opened")), "event 'Deep Link Opened'");
  EXPECT_EQ(EventEndpoint::snapshot(nullptr).describe(event("$snapshot")), "snapshot");
  EXPECT_EQ(LogsEndpoint::logs(nullptr, Properties::object()).describe(logRecord("x")), "log");
}

class QueueEndpointSendTest : public testing::Test {
 protected:
  QueueEndpointSendTest() {
    config->snapshotEndpoint = "/s/";
    api = std::make_shared<dizizoz::DiziZozApi>(
        config, dizizoz::test::loopbackApiEnvironment(http, completions, retries, clock));
  }

  template <typename T>
  DiziZozUploadInfo send(const QueueEndpoint<T>& endpoint, std::vector<T> records) {
    std::optional<DiziZozUploadInfo> info;
    endpoint.send(std::move(records), [&](DiziZozUploadInfo i) { info = std::move(i); });
    EXPECT_TRUE(completions->runUntil([&] { return info.has_value(); }));
    return info.value_or(DiziZozUploadInfo{});
  }

  AnalyticsServiceStandIn service{{.projectToken = "phc_send", .port = 0, .snapshotPath = "/s/"}};
  std::shared_ptr<DiziZozConfig> config = std::make_shared<DiziZozConfig>("phc_send", service.baseURL());
  platform::fake::ManualClock clock{kNow};
  std::shared_ptr<WaitingExecutor> completions = std::make_shared<WaitingExecutor>();
  std::shared_ptr<platform::fake::ManualSerialQueue> retries =
      std::make_shared<platform::fake::ManualSerialQueue>();
  platform::CurlHttpClient http;
  std::shared_ptr<dizizoz::DiziZozApi> api;
};

TEST_F(QueueEndpointSendTest, EachStreamSendsItsBatchToItsRoute) {
  const auto first = event("first");
  const auto second = event("second");
  EXPECT_EQ(send(EventEndpoint::batch(api), {first, second}).statusCode, 200);
  EXPECT_EQ(send(EventEndpoint::snapshot(api), {event("$snapshot")}).statusCode, 200);
  const Properties resource{{"service.name", "com.quorvelle.app"}};
  // A body that is not UTF-8 is carried with U+FFFD: one such record never keeps its batch from going.
  EXPECT_EQ(send(LogsEndpoint::logs(api, resource), {logRecord("ok"), logRecord("bad \xff byte")}).statusCode,
            200);

  EXPECT_EQ(service.problems(), std::vector<std::string>{});
  const auto batches = service.requests(AnalyticsEndpoint::batch);
  ASSERT_EQ(batches.size(), 1u);
  const auto sent = batches[0].events();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["uuid"], first.uuid.toString());
  EXPECT_EQ(sent[1]["uuid"], second.uuid.toString());
  EXPECT_EQ(service.requests(AnalyticsEndpoint::snapshot).size(), 1u);

  const auto logRequests = service.requests(AnalyticsEndpoint::logs);
  ASSERT_EQ(logRequests.size(), 1u);
  const Value expected = dizizoz::DiziZozLogsOTLP::buildPayload({logRecord("ok"), logRecord("bad \xff byte")},
                                                                resource, dizizoz::diziZozVersion);
  EXPECT_EQ(logRequests[0].body, expected);
  EXPECT_EQ(logRequests[0].body["resourceLogs"][0]["scopeLogs"][0]["logRecords"][1]["body"]["stringValue"],
            "bad \xEF\xBF\xBD byte");
}

TEST(QueueEndpointTest, WithoutAServiceClientABatchCompletesWithAnEmptyOutcome) {
  std::optional<DiziZozUploadInfo> info;
  LogsEndpoint::logs(nullptr, Properties::object()).send({logRecord("x")}, [&](DiziZozUploadInfo i) {
    info = i;
  });
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->statusCode || info->error || info->retryAfter);
}

}  // namespace
