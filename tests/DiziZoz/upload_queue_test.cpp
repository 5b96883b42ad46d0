#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozReplayQueueing.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/delivery/DeliveryQueues.h"
#include "DiziZoz/delivery/DiziZozQueue.h"
#include "DiziZoz/delivery/QueueEndpoint.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualSerialQueue.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/DiziZoz/QueueTestFolder.h"
#include "tests/support/dizizoz/FakeReachability.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozLogRecord;
using dizizoz::DiziZozQueue;
using dizizoz::DiziZozStorage;
using dizizoz::DiziZozUploadInfo;
using dizizoz::Properties;
using dizizoz::QueueEndpoint;
using dizizoz::test::CapturedLog;

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}
std::size_t countOf(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(text) != std::string::npos;
  }));
}

// A queue of one stream on real files, a virtual clock, a hand-driven main executor and serial queue,
// and the stream's real endpoint whose sender records each batch and lets the test answer it.
template <typename T>
class QueueHarness {
 public:
  struct Sent {
    std::vector<T> records;
    typename QueueEndpoint<T>::Completion completion;
  };

  QueueHarness(QueueEndpoint<T> endpoint, const DiziZozConfig& config,
               std::shared_ptr<dizizoz::DiziZozReachabilityMonitoring> network = nullptr)
      : executor(clock),
        reachability(std::move(network)),
        files(config),
        folder(files.folder),
        storage(files.storage) {
    endpoint.send = [this](std::vector<T> records, typename QueueEndpoint<T>::Completion completion) {
      sent.push_back({std::move(records), std::move(completion)});
    };
    endpoint_ = endpoint;
    reopen(config);
  }
  // A new queue on the same folder, as at the next start of the program.
  void reopen(const DiziZozConfig& config) {
    queue.reset();
    typename DiziZozQueue<T>::Environment environment;
    environment.mainExecutor = &executor;
    environment.makeSerialQueue = [this](const std::string&) { return serial; };
    environment.clock = &clock;
    queue = DiziZozQueue<T>::create(config, *storage, endpoint_, reachability, environment);
  }
  ~QueueHarness() { queue.reset(); }

  // Answers the oldest unanswered batch and runs what follows.
  void answer(std::optional<std::int64_t> status, std::optional<double> retryAfter = std::nullopt) {
    ASSERT_LT(answered, sent.size());
    sent[answered++].completion(DiziZozUploadInfo{status, std::nullopt, retryAfter});
    serial->drain();
  }
  void flush() {
    queue->flush();
    serial->drain();
  }
  std::size_t unanswered() const { return sent.size() - answered; }

  platform::fake::ManualClock clock;
  platform::fake::ManualExecutor executor;
  std::shared_ptr<platform::fake::ManualSerialQueue> serial =
      std::make_shared<platform::fake::ManualSerialQueue>();
  std::vector<Sent> sent;
  std::size_t answered = 0;
  std::shared_ptr<dizizoz::DiziZozReachabilityMonitoring> reachability;
  dizizoz::test::QueueTestFolder files;
  std::filesystem::path folder;
  std::shared_ptr<DiziZozStorage> storage;
  QueueEndpoint<T> endpoint_;
  std::shared_ptr<DiziZozQueue<T>> queue;
};

DiziZozEvent event(const std::string& name) {
  return DiziZozEvent(name, "device-1", Properties::object(), dizizoz::Date{std::chrono::seconds(1704067200)},
                      dizizoz::TimeBasedEpochGenerator::shared().v7());
}

DiziZozLogRecord logRecord(const std::string& body) {
  DiziZozLogRecord record;
  record.body = body;
  record.timeUnixNano = record.observedTimeUnixNano = "1704067200000000000";
  return record;
}

using EventHarness = QueueHarness<DiziZozEvent>;

TEST(UploadQueueTest, ThresholdStartsOneBatchOfCapInOrder) {
  DiziZozConfig config("key");
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  for (int i = 0; i < 19; ++i) h.queue->add(event("e" + std::to_string(i)));
  h.serial->drain();
  EXPECT_TRUE(h.sent.empty());
  h.queue->add(event("e19"));
  h.serial->drain();
  ASSERT_EQ(h.sent.size(), 1u);
  ASSERT_EQ(h.sent[0].records.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(h.sent[0].records[i].event, "e" + std::to_string(i));
  h.answer(200);
  EXPECT_EQ(h.queue->depth(), 0u);
}

TEST(UploadQueueTest, SingleFlightAndFilesStayUntilAFinalAnswer) {
  CapturedLog log;
  DiziZozConfig config("key");
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  h.queue->add(event("a"));
  h.flush();
  h.flush();
  EXPECT_EQ(h.sent.size(), 1u);
  EXPECT_TRUE(contains(log.lines, "[DiziZoz] Already flushing"));
  EXPECT_EQ(h.queue->depth(), 1u);
  h.answer(400);  // final: deleted without a pause
  EXPECT_EQ(h.queue->depth(), 0u);
  EXPECT_FALSE(h.queue->pauseReason());
}

TEST(UploadQueueTest, BackOffThenDropAllAndSuccessResets) {
  DiziZozConfig config("key");
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  CapturedLog log;
  h.queue->add(event("a"));
  for (int failure = 1; failure <= 3; ++failure) {
    SCOPED_TRACE(failure);
    h.flush();
    h.answer(503);
    EXPECT_TRUE(contains(log.lines, "Pausing queue consumption for " + std::to_string(failure) +
                                        ".0 seconds due to " + std::to_string(failure) + " API failure(s)."));
    EXPECT_EQ(h.queue->depth(), 1u);
    h.flush();  // still backing off
    EXPECT_EQ(h.unanswered(), 0u);
    h.executor.advance(std::chrono::seconds(failure) + 1ms);
  }
  h.flush();
  h.answer(std::nullopt);  // a transport failure counts too
  EXPECT_TRUE(contains(log.lines, "Queue: dropping all queued records \u2014 max retries (3) exceeded"));
  EXPECT_EQ(h.queue->depth(), 0u);
  EXPECT_FALSE(h.queue->pauseReason());

  // Two failures, a success, then the next failure waits one second again.
  h.queue->add(event("b"));
  for (auto status : {503, 502, 200}) {
    h.flush();
    h.answer(status);
    h.executor.advance(3s);
  }
  h.queue->add(event("c"));
  h.flush();
  h.answer(504);
  EXPECT_TRUE(h.queue->pauseReason());
  h.executor.advance(1001ms);
  EXPECT_FALSE(h.queue->pauseReason());
}

TEST(UploadQueueTest, RetryAfterLongerThanTheBackOffWins) {
  CapturedLog log;
  DiziZozConfig config("key");
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  h.queue->add(event("a"));
  h.flush();
  h.answer(503, 120.0);
  EXPECT_TRUE(contains(log.lines, "Pausing queue consumption for 120.0 seconds due to 1 API failure(s)."));
  h.executor.advance(119s);
  EXPECT_TRUE(h.queue->pauseReason());
  h.executor.advance(2s);
  EXPECT_FALSE(h.queue->pauseReason());
}

TEST(UploadQueueTest, TooLargeHalvesCapAndThresholdThenDropsTheStream) {
  CapturedLog log;
  DiziZozConfig config("key");  // cap 50, flushAt 20
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  // The threshold flushes queue up behind the first one, which reads all 50 when the serial queue runs.
  for (int i = 0; i < 50; ++i) h.queue->add(event("e"));
  h.serial->drain();
  ASSERT_EQ(h.sent.size(), 1u);
  ASSERT_EQ(h.sent.back().records.size(), 50u);
  h.answer(413);
  EXPECT_EQ(h.queue->cap(), 25);
  EXPECT_EQ(h.queue->flushAt(), 10);  // min(25, 20 / 2)
  EXPECT_TRUE(contains(log.lines, "Queue: HTTP 413, halved batch cap to 25"));
  EXPECT_EQ(h.queue->depth(), 50u);
  EXPECT_FALSE(h.queue->pauseReason());
  h.flush();
  EXPECT_EQ(h.sent.back().records.size(), 25u);
  h.answer(413);
  EXPECT_EQ(h.queue->cap(), 12);
  EXPECT_EQ(h.queue->flushAt(), 5);
  h.flush();
  EXPECT_EQ(h.sent.back().records.size(), 12u);
  h.answer(413);
  EXPECT_EQ(h.queue->cap(), 6);
  EXPECT_EQ(h.queue->flushAt(), 2);
  EXPECT_EQ(h.queue->depth(), 50u);
  h.flush();
  h.answer(413);  // the fourth in a row
  EXPECT_TRUE(contains(log.lines, "max retries (3) exceeded after repeated HTTP 413"));
  EXPECT_EQ(h.queue->depth(), 0u);
}

TEST(UploadQueueTest, TooLargeHalvesFromTheConfiguredThreshold) {
  DiziZozConfig config("key");  // cap 50, flushAt 20
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  for (int i = 0; i < 19; ++i) h.queue->add(event("e"));
  h.flush();
  h.answer(413);
  EXPECT_EQ(h.queue->cap(), 9);      // 19 / 2
  EXPECT_EQ(h.queue->flushAt(), 9);  // min(9, 20 / 2)
  h.flush();
  h.answer(413);
  EXPECT_EQ(h.queue->cap(), 4);
  EXPECT_EQ(h.queue->flushAt(), 4);
}

TEST(UploadQueueTest, TooLargeWithCapOneDeletesTheBatch) {
  CapturedLog log;
  DiziZozConfig config("key");
  config.maxBatchSize = 1;
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  h.queue->add(event("a"));
  h.queue->add(event("b"));
  h.flush();
  ASSERT_EQ(h.sent.back().records.size(), 1u);
  h.answer(413);
  EXPECT_TRUE(contains(log.lines, "[DiziZoz] Queue: dropping batch after HTTP 413 (cap == 1)"));
  EXPECT_EQ(h.queue->depth(), 1u);
}

TEST(UploadQueueTest, EventsRetryARedirectButLogsDeleteIt) {
  DiziZozConfig config("key");
  EventHarness events(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  events.queue->add(event("a"));
  events.flush();
  events.answer(301);
  EXPECT_EQ(events.queue->depth(), 1u);
  EXPECT_TRUE(events.queue->pauseReason());

  QueueHarness<DiziZozLogRecord> logs(QueueEndpoint<DiziZozLogRecord>::logs(nullptr, Properties::object()),
                                      config);
  logs.queue->add(logRecord("a"));
  logs.flush();
  logs.answer(301);
  EXPECT_EQ(logs.queue->depth(), 0u);
  logs.queue->add(logRecord("b"));
  logs.flush();
  logs.answer(501);
  EXPECT_EQ(logs.queue->depth(), 1u);
}

TEST(UploadQueueTest, UndecodableFilesFinishAtOnce) {
  DiziZozConfig config("key");
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  const auto folder = h.storage->url(DiziZozStorage::StorageKey::queue);
  std::ofstream(folder / "a") << "not json";
  std::ofstream(folder / "b") << "[1]";
  h.reopen(config);
  ASSERT_EQ(h.queue->depth(), 2u);
  h.flush();
  EXPECT_EQ(h.queue->depth(), 0u);
}

// The log and the tally tell what became of each record: one that could not be stored is dropped, not
// "Queued"; a stored one that does not decode is dropped with a line of its own; a 2xx delivers.
TEST(UploadQueueTest, LogAndTallyTellWhatBecameOfEachRecord) {
  DiziZozConfig config("key");
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  std::ofstream(h.storage->url(DiziZozStorage::StorageKey::queue) / "stray") << "not json";
  h.reopen(config);
  CapturedLog log;
  h.queue->add(event("kept"));
  h.queue->add(
      DiziZozEvent("too big", "device-1",
                   Properties{{"text", std::string(dizizoz::DiziZozFileBackedQueue::maxRecordBytes, 'x')}},
                   dizizoz::Date{}, dizizoz::TimeBasedEpochGenerator::shared().v7()));
  EXPECT_TRUE(contains(log.lines, "Queued event 'kept'. Depth: 2"));
  EXPECT_FALSE(contains(log.lines, "Queued event 'too big'"));
  EXPECT_TRUE(contains(log.lines, "[DiziZoz] Dropped event 'too big': it could not be stored"));

  h.flush();
  EXPECT_TRUE(contains(log.lines, "[DiziZoz] Dropped the stored record stray: it does not decode"));
  ASSERT_EQ(h.sent.size(), 1u);
  ASSERT_EQ(h.sent[0].records.size(), 1u);
  h.answer(200);
  EXPECT_EQ(h.queue->depth(), 0u);
  const auto tally = h.queue->tally();
  EXPECT_EQ(tally.delivered, 1u);
  EXPECT_EQ(tally.unstored, 1u);
  EXPECT_EQ(tally.undecodable, 1u);
  EXPECT_EQ(tally.dropped(), 2u);
}

TEST(UploadQueueTest, SizeLimitDropsExactlyTheOldest) {
  DiziZozConfig config("key");
  config.maxQueueSize = 3;
  config.flushAt = 10;
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  for (auto name : {"a", "b", "c", "d"}) h.queue->add(event(name));
  EXPECT_EQ(h.queue->depth(), 3u);
  h.flush();
  ASSERT_EQ(h.sent.size(), 1u);
  ASSERT_EQ(h.sent[0].records.size(), 3u);
  EXPECT_EQ(h.sent[0].records[0].event, "b");
}

TEST(UploadQueueTest, RecordsRemovedDuringAFlightAreNotCountedAgainstLaterOnes) {
  DiziZozConfig config("key");
  config.maxQueueSize = 2;
  config.flushAt = 10;
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  h.queue->add(event("a"));
  h.queue->add(event("b"));
  h.flush();                 // a, b in flight
  h.queue->add(event("c"));  // pushes a out
  h.queue->add(event("d"));  // pushes b out
  h.answer(200);
  EXPECT_EQ(h.queue->depth(), 2u);  // c and d were never sent and stay
  h.flush();
  ASSERT_EQ(h.sent.size(), 2u);
  EXPECT_EQ(h.sent[1].records[0].event, "c");
}

TEST(UploadQueueTest, LogsRateCapDropsWithOneLinePerWindow) {
  CapturedLog log;
  DiziZozConfig config("key");
  config.logs->flushAt = 100000;  // no uploads in the way
  config.logs->maxBufferSize = 100000;
  QueueHarness<DiziZozLogRecord> h(QueueEndpoint<DiziZozLogRecord>::logs(nullptr, Properties::object()),
                                   config);
  for (int i = 0; i < 502; ++i) h.queue->add(logRecord("r"));
  EXPECT_EQ(h.queue->depth(), 500u);
  EXPECT_EQ(countOf(log.lines, "Queue rate cap exceeded (500 per 10.0s), dropping records this window"), 1u);
  h.executor.advance(10s);
  h.queue->add(logRecord("r"));
  EXPECT_EQ(h.queue->depth(), 501u);
}

TEST(UploadQueueTest, ZeroRateCapWindowNeverBites) {
  DiziZozConfig config("key");
  config.logs->flushAt = 100000;
  config.logs->maxBufferSize = 100000;
  config.logs->rateCapMaxLogs = 2;
  config.logs->rateCapWindowSeconds = 0;
  QueueHarness<DiziZozLogRecord> h(QueueEndpoint<DiziZozLogRecord>::logs(nullptr, Properties::object()),
                                   config);
  for (int i = 0; i < 5; ++i) h.queue->add(logRecord("r"));
  EXPECT_EQ(h.queue->depth(), 5u);
}

TEST(UploadQueueTest, TimerFlushesUntilStopped) {
  DiziZozConfig config("key");
  config.flushIntervalSeconds = 30;
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  h.queue->start(true, false);
  h.queue->add(event("a"));
  h.executor.runUntilIdle();
  h.executor.advance(29s);
  h.serial->drain();
  EXPECT_TRUE(h.sent.empty());
  h.executor.advance(1s);
  h.serial->drain();
  ASSERT_EQ(h.sent.size(), 1u);
  h.answer(200);
  h.queue->stop();
  h.queue->add(event("b"));
  h.executor.advance(120s);
  h.serial->drain();
  EXPECT_EQ(h.sent.size(), 1u);
  h.flush();  // explicit flushes still work
  EXPECT_EQ(h.sent.size(), 2u);
}

TEST(UploadQueueTest, ReleasedWhileInFlightIgnoresTheOutcome) {
  DiziZozConfig config("key");
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config);
  h.queue->add(event("a"));
  h.flush();
  h.queue.reset();
  h.answer(200);
  h.reopen(config);
  EXPECT_EQ(h.queue->depth(), 1u);
}

TEST(UploadQueueTest, ReachabilityPausesAndResumesUntilStopped) {
  using dizizoz::DiziZozConnection;
  CapturedLog log;
  DiziZozConfig config("key");
  auto network = std::make_shared<dizizoz::test::FakeReachability>();
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config, network);
  h.queue->start(false, true);
  h.queue->add(event("a"));
  network->setConnection(DiziZozConnection::unavailable);
  EXPECT_TRUE(contains(log.lines, "[DiziZoz] Queue is paused because network is unreachable"));
  h.flush();
  EXPECT_TRUE(h.sent.empty());
  EXPECT_TRUE(contains(log.lines, "The queue is paused due to the reachability check"));
  network->setConnection(DiziZozConnection::wifi);  // unpauses and flushes
  h.serial->drain();
  ASSERT_EQ(h.sent.size(), 1u);
  h.answer(200);

  h.queue->stop();
  network->setConnection(DiziZozConnection::unavailable);
  EXPECT_FALSE(h.queue->pauseReason());
}

TEST(UploadQueueTest, WifiOnlyModePausesWithoutWifi) {
  using dizizoz::DiziZozConnection;
  CapturedLog log;
  DiziZozConfig config("key");
  config.dataMode = dizizoz::DiziZozDataMode::wifi;
  auto network = std::make_shared<dizizoz::test::FakeReachability>(DiziZozConnection::unavailable);
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config, network);
  h.queue->start(false, true);
  network->setConnection(DiziZozConnection::cellular);
  EXPECT_TRUE(contains(log.lines, "[DiziZoz] Queue is paused because its not in WiFi mode"));
  EXPECT_TRUE(h.queue->pauseReason());
  network->setConnection(DiziZozConnection::wifi);
  EXPECT_FALSE(h.queue->pauseReason());
}

TEST(UploadQueueTest, NotifierFailureIsLoggedAndTheQueueStaysUsable) {
  CapturedLog log;
  DiziZozConfig config("key");
  auto network = std::make_shared<dizizoz::test::FakeReachability>();
  network->startFailure = "no netlink";
  EventHarness h(QueueEndpoint<DiziZozEvent>::batch(nullptr), config, network);
  h.queue->start(false, true);
  EXPECT_TRUE(contains(log.lines, "Error: Unable to monitor network reachability: no netlink"));
  h.queue->add(event("a"));
  h.flush();
  EXPECT_EQ(h.sent.size(), 1u);
}

TEST(UploadQueueTest, ServicesBuildFileBackedQueuesForEveryStream) {
  auto config = std::make_shared<DiziZozConfig>("key");
  dizizoz::test::QueueTestFolder files(*config);
  const auto storage = files.storage;
  auto services = dizizoz::DiziZozServices::inert();
  auto serial = std::make_shared<platform::fake::ManualSerialQueue>();
  dizizoz::useFileBackedQueues(services, [&](const std::string&) { return serial; });
  dizizoz::DiziZozServices::QueueParts parts{config, storage, nullptr, nullptr};
  auto events = services.makeEventQueue(parts);
  auto replay = services.makeReplayQueue(parts);
  auto logs = services.makeLogsQueue(parts, Properties::object());
  events->add(event("a"));
  replay->add(event("$snapshot"));
  logs->add(logRecord("l"));
  for (auto key : {DiziZozStorage::StorageKey::queue, DiziZozStorage::StorageKey::replayQeueue,
                   DiziZozStorage::StorageKey::logsQueue}) {
    SCOPED_TRACE(std::string(DiziZozStorage::rawValue(key)));
    auto entries = std::distance(std::filesystem::directory_iterator(storage->url(key)),
                                 std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
  }
  events.reset();
  replay.reset();
  logs.reset();
}

}  // namespace
