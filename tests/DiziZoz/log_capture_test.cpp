#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "DiziZoz/core/ApplicationLifecyclePublisher.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozLogger.h"
#include "DiziZoz/core/DiziZozLogsOTLP.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/core/DiziZozStorageManager.h"
#include "DiziZoz/core/JsonUtils.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozLogRecord;
using dizizoz::DiziZozLogSeverity;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using dizizoz::test::CapturedLog;
using dizizoz::test::TestServices;

constexpr const char* emptyBodyLine = "[DiziZoz] captureLog: empty body, dropping";

class LogCaptureTest : public testing::Test {
 protected:
  LogCaptureTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozConfig> config() {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_logs_") + testing::UnitTest::GetInstance()->current_test_info()->name());
    options->disableFlushOnBackgroundForTesting = true;
    options->debug = true;  // set-up sets the diagnostic switch from it
    return options;
  }

  std::shared_ptr<DiziZozSDK> setUp(std::shared_ptr<DiziZozConfig> options) {
    auto client = DiziZozSDK::create(options, ts.services());
    client->setup(options);
    return client;
  }

  std::vector<DiziZozLogRecord> records() const { return ts.lastLogsQueue()->records(); }

  TestServices ts;
  CapturedLog log;
};

TEST_F(LogCaptureTest, ARecordCarriesTheClientsStateAtTheMoment) {
  auto client = setUp(config());
  ts.lastRemoteConfig()->setFlags({{"b", false}, {"a", true}, {"c", "v"}});
  client->screen("Checkout");
  ts.clock.advance(1500ms);
  const std::string session = *client->getSessionId();

  client->captureLog("  payment failed\n", DiziZozLogSeverity::error, Properties{{"order", 42}}, "trace-1",
                     "span-1", 1);

  ASSERT_EQ(records().size(), 1u);
  const DiziZozLogRecord record = records()[0];
  EXPECT_EQ(record.body, "  payment failed\n") << "the body is kept as given";
  EXPECT_EQ(record.level, DiziZozLogSeverity::error);
  EXPECT_EQ(record.attributes, (Properties{{"order", 42}}));
  EXPECT_EQ(record.traceId, "trace-1");
  EXPECT_EQ(record.spanId, "span-1");
  EXPECT_EQ(record.traceFlags, 1);
  EXPECT_EQ(record.distinctId, client->getDistinctId());
  EXPECT_EQ(record.sessionId, session);
  EXPECT_EQ(record.screenName, "Checkout");
  EXPECT_EQ(record.appState, "foreground");
  EXPECT_EQ(record.featureFlagKeys, (std::vector<std::string>{"a", "c"}))
      << "false flags are left out, sorted";
  EXPECT_EQ(record.timeUnixNano, "1704067201500000000") << "the services' clock";
  EXPECT_EQ(record.observedTimeUnixNano, record.timeUnixNano);

  client->captureLog("plain");
  ASSERT_EQ(records().size(), 2u);
  EXPECT_EQ(records()[1].level, DiziZozLogSeverity::info);
  EXPECT_EQ(records()[1].attributes, Properties::object());
  EXPECT_FALSE(records()[1].traceId || records()[1].spanId || records()[1].traceFlags);
}

TEST_F(LogCaptureTest, BlankBodiesAreDroppedWithTheirLine) {
  auto client = setUp(config());
  for (const char* body : {"", "   ", " \n\t\r\n "}) {
    log.lines.clear();
    client->captureLog(body);
    EXPECT_TRUE(log.has(emptyBodyLine)) << '"' << body << '"';
  }
  EXPECT_TRUE(records().empty());
}

TEST_F(LogCaptureTest, ALogLineNeverStartsASession) {
  auto client = setUp(config());
  // In the foreground an event would start a new session here.
  client->endSession();
  client->captureLog("no session");
  EXPECT_FALSE(client->getSessionId());

  dizizoz::ApplicationLifecyclePublisher::shared().appDidEnterBackground();
  client->captureLog("in the background");
  dizizoz::ApplicationLifecyclePublisher::shared().appDidBecomeActive();

  const auto logged = records();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_FALSE(logged[0].sessionId);
  EXPECT_EQ(logged[0].appState, "foreground");
  EXPECT_FALSE(logged[1].sessionId);
  EXPECT_EQ(logged[1].appState, "background");
}

TEST_F(LogCaptureTest, WithoutAStoredDistinctIdTheRecordCarriesNone) {
  auto options = config();
  auto client = setUp(options);
  options->storageManager->setDistinctId("");
  ASSERT_EQ(client->getDistinctId(), "");
  client->captureLog("anonymous");
  ASSERT_EQ(records().size(), 1u);
  EXPECT_FALSE(records()[0].distinctId);
}

TEST_F(LogCaptureTest, RefusedCallsBuildNothingAndRunNoHook) {
  int hookCalls = 0;
  auto options = config();
  options->logs->setBeforeSend([&](DiziZozLogRecord r) -> std::optional<DiziZozLogRecord> {
    ++hookCalls;
    return r;
  });

  auto notSetUp = DiziZozSDK::create(options, ts.services());
  notSetUp->captureLog("early");
  EXPECT_TRUE(log.has(DiziZozSDK::notSetUpMessage));

  auto client = setUp(options);
  options->optOut = true;
  log.lines.clear();
  client->captureLog("opted out");
  EXPECT_TRUE(log.has(DiziZozSDK::optOutMessage));
  EXPECT_EQ(hookCalls, 0);
  EXPECT_TRUE(records().empty());

  options->optOut = false;
  client->captureLog("back in");
  EXPECT_EQ(hookCalls, 1);
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(LogCaptureTest, TheLogsChainMayChangeOrDropTheRecord) {
  auto options = config();
  options->logs->setBeforeSend([](DiziZozLogRecord r) -> std::optional<DiziZozLogRecord> {
    if (r.body == "secret") return std::nullopt;
    if (r.body == "blank me") r.body = "  ";
    if (r.body == "throw") throw std::runtime_error("hook broke");
    r.attributes["scrubbed"] = true;
    return r;
  });
  auto client = setUp(options);
  for (const char* body : {"secret", "blank me", "throw", "kept"}) client->captureLog(body);

  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].body, "kept");
  EXPECT_EQ(records()[0].attributes, (Properties{{"scrubbed", true}}));
  EXPECT_TRUE(log.has("[DiziZoz] A logs before-send hook failed; the log record is dropped: hook broke"));
}

TEST_F(LogCaptureTest, TheLoggerLogsAtItsLevelsWhileItsClientLives) {
  auto client = setUp(config());
  auto logger = client->logger();
  ASSERT_TRUE(logger);
  logger->trace("t");
  logger->debug("d", Properties{{"k", 1}});
  logger->info("i");
  logger->warn("w", Properties{{"k", 2}});
  logger->error("e");
  logger->fatal("f", Properties{{"k", 3}});

  const auto logged = records();
  ASSERT_EQ(logged.size(), 6u);
  const DiziZozLogSeverity levels[] = {DiziZozLogSeverity::trace, DiziZozLogSeverity::debug,
                                       DiziZozLogSeverity::info,  DiziZozLogSeverity::warn,
                                       DiziZozLogSeverity::error, DiziZozLogSeverity::fatal};
  for (std::size_t i = 0; i < logged.size(); ++i) {
    EXPECT_EQ(logged[i].level, levels[i]);
    const Properties attributes =
        i % 2 ? Properties{{"k", static_cast<int>(i + 1) / 2}} : Properties::object();
    EXPECT_EQ(logged[i].attributes, attributes);
    EXPECT_FALSE(logged[i].traceId || logged[i].spanId || logged[i].traceFlags);
  }

  auto queue = ts.lastLogsQueue();
  client.reset();
  logger->error("after the client");
  EXPECT_EQ(queue->records().size(), 6u);
}

// Set-up builds the resource attributes once, from the logs options at that moment.
TEST_F(LogCaptureTest, TheDefaultServicesBuildTheResourceAttributesAndABoundedLogsQueue) {
  auto options = std::make_shared<DiziZozConfig>("phc_logs_defaults");
  options->logs->serviceName = "com.quorvelle.app";
  options->logs->maxBufferSize = 2;
  const auto services = dizizoz::DiziZozServices::inert();
  EXPECT_EQ(services.makeLogsResourceAttributes(*options),
            dizizoz::DiziZozLogsOTLP::buildResourceAttributes(*options->logs));
  auto queue = services.makeLogsQueue({.config = options}, Properties::object());
  for (int i = 0; i < 3; ++i) queue->add(DiziZozLogRecord{});
  EXPECT_EQ(queue->depth(), 2u) << "the logs buffer size, not the events queue's";
}

}  // namespace
