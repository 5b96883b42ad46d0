#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/integrations/DiziZozPushRecords.h"
#include "DiziZoz/integrations/DiziZozPushSubscriptionHandler.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/fake/ScriptedHttpClient.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/dizizoz/LoopbackApiEnvironment.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozPushPendingRecord;
using dizizoz::DiziZozPushPendingUnregister;
using dizizoz::DiziZozPushSubscriptionHandler;
using dizizoz::Properties;
using Json = nlohmann::json;

using TokenCompletion = std::function<void(std::optional<std::string>)>;

// The handler on one manual queue (all four of its queues, and the service client's completions) whose
// virtual time also moves the clock, over the real service client writing to a scripted transport.
class PushSubscriptionHandlerTest : public ::testing::Test {
 protected:
  PushSubscriptionHandlerTest() { handler = makeHandler(); }

  std::shared_ptr<DiziZozPushSubscriptionHandler> makeHandler() {
    return DiziZozPushSubscriptionHandler::create(
        {.api = api,
         .storage = storage,
         .config = config,
         .providers = {.distinctId = [this] { return distinctId; },
                       .isConnected = [this] { return connected; },
                       .isAllowed = [this] { return allowed; },
                       .isEnabled = [this] { return enabled; }},
         .onEventContextChanged = &contextChanged},
        {.clock = std::shared_ptr<const platform::Clock>(std::shared_ptr<void>(), &clock),
         .mintQueue = queue,
         .workQueue = queue,
         .httpQueue = queue,
         .timeoutQueue = queue});
  }

  // A provider that keeps each completion for the test to call.
  void holdingProvider() {
    config->pushIdentityProvider = [this](const std::string&, const std::string&, TokenCompletion done) {
      mints.push_back(std::move(done));
    };
  }

  // Answers the oldest request still waiting and runs what follows.
  void answer(int status, std::optional<std::string> retryAfter = std::nullopt) {
    platform::HttpResult result;
    result.status = status;
    if (retryAfter) result.headers = platform::HttpHeaders{{"Retry-After", *retryAfter}};
    ASSERT_TRUE(http.complete(std::move(result)));
    queue->drain();
  }

  std::vector<platform::HttpRequest> sent() const { return http.requests(); }
  Json body(std::size_t index) const { return Json::parse(sent().at(index).body); }

  std::string fileText(dizizoz::DiziZozStorage::StorageKey key) const {
    std::ifstream in(storage->url(key), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  dizizoz::test::CapturedLog log;
  quorvelle::test::TempDir folder;
  std::shared_ptr<dizizoz::DiziZozConfig> config =
      std::make_shared<dizizoz::DiziZozConfig>("phc_push", "https://push.example");
  platform::fake::ManualClock clock;
  std::shared_ptr<platform::fake::ManualSerialQueue> queue =
      std::make_shared<platform::fake::ManualSerialQueue>(clock);
  platform::fake::ScriptedHttpClient http;
  std::shared_ptr<dizizoz::DiziZozApi> api = [this] {
    auto environment = dizizoz::test::loopbackApiEnvironment(http, queue, queue, clock);
    // Bodies go uncompressed here, so that the test can read them off the scripted transport.
    environment.compress = [](std::string_view) { return dizizoz::GzipResult{{}, dizizoz::GzipError{}}; };
    return std::make_shared<dizizoz::DiziZozApi>(config, std::move(environment));
  }();
  std::shared_ptr<dizizoz::DiziZozStorage> storage = dizizoz::DiziZozStorage::open(
      *config, dizizoz::DiziZozStorageLocation{.applicationSupport = folder / "support",
                                               .bundleIdentifier = "com.quorvelle.app",
                                               .groupContainer = {},
                                               .isAppExtension = false});
  dizizoz::DiziZozMulticastCallback<Properties> contextChanged;
  std::string distinctId = "user-1";
  bool connected = true;
  bool allowed = true;
  bool enabled = true;
  std::vector<TokenCompletion> mints;
  std::shared_ptr<DiziZozPushSubscriptionHandler> handler;
};

TEST_F(PushSubscriptionHandlerTest, TransientFailuresPauseFiveTenTwentySecondsThenHaltUntilANewHandler) {
  dizizoz::writePushRecord(*storage, {"tok", "app", std::nullopt});
  const std::string recordFile = fileText(dizizoz::DiziZozStorage::StorageKey::pushSubscription);

  handler->retryIfNeeded();
  queue->drain();
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(sent()[0].method, "POST");
  EXPECT_EQ(body(0)["distinct_id"], "user-1");
  answer(500);
  EXPECT_TRUE(log.has("[DiziZoz] Push subscription failed (attempt 1/3). Retrying in 5.0s."));

  struct Step {
    std::chrono::milliseconds pause;
    std::function<void()> fail;
    const char* line;
  };
  const std::vector<Step> steps{
      // No answer within 30 s; the transfer's own end comes later and is ignored.
      {5s,
       [&] {
         queue->advance(30s);
         http.cancelPending();
         queue->drain();
       },
       "Push subscription failed (attempt 2/3). Retrying in 10.0s."},
      {10s, [&] { answer(503); }, "Push subscription failed (attempt 3/3). Retrying in 20.0s."},
      {20s, [&] { answer(429); },
       "Push subscription: max retries (3) exceeded. Keeping record for next launch."},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.line);
    const auto before = sent().size();
    queue->advance(step.pause - 1ms);
    handler->retryIfNeeded();
    queue->drain();
    EXPECT_EQ(sent().size(), before) << "sent while paused";
    queue->advance(1ms);
    handler->retryIfNeeded();
    queue->drain();
    ASSERT_EQ(sent().size(), before + 1);
    step.fail();
    EXPECT_TRUE(log.has(std::string("[DiziZoz] ") + step.line));
  }

  queue->advance(120s);
  handler->retryIfNeeded();
  queue->drain();
  EXPECT_EQ(sent().size(), 4u) << "halted";
  EXPECT_EQ(fileText(dizizoz::DiziZozStorage::StorageKey::pushSubscription), recordFile);

  // The next launch starts un-halted over the same files, and a success marks the record delivered.
  handler = makeHandler();
  handler->retryIfNeeded();
  queue->drain();
  ASSERT_EQ(sent().size(), 5u);
  answer(200);
  EXPECT_TRUE(log.has("[DiziZoz] Push subscription sent successfully."));
  EXPECT_EQ(dizizoz::loadPushRecord(*storage), (DiziZozPushPendingRecord{"tok", "app", "user-1"}));
  handler = makeHandler();
  handler->retryIfNeeded();
  queue->drain();
  EXPECT_EQ(sent().size(), 5u) << "already delivered for this distinct id";
}

TEST_F(PushSubscriptionHandlerTest, RetryAfterReplacesTheComputedPause) {
  dizizoz::writePushRecord(*storage, {"tok", "app", std::nullopt});
  handler->retryIfNeeded();
  queue->drain();
  answer(429, "2");
  EXPECT_TRUE(log.has("[DiziZoz] Push subscription failed (attempt 1/3). Retrying in 2.0s."));
  queue->advance(1999ms);
  handler->retryIfNeeded();
  queue->drain();
  EXPECT_EQ(sent().size(), 1u);
  queue->advance(1ms);
  handler->retryIfNeeded();
  queue->drain();
  EXPECT_EQ(sent().size(), 2u);
}

TEST_F(PushSubscriptionHandlerTest, UnauthorisedWithAProviderMintsOnceMoreThenHalts) {
  int calls = 0;
  config->pushIdentityProvider = [&](const std::string& id, const std::string& appId, TokenCompletion done) {
    EXPECT_EQ(id, "user-1");
    EXPECT_EQ(appId, "app");
    done("identity-" + std::to_string(++calls));
  };
  handler->reregisterAfterReset("tok", "app");
  queue->drain();
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(body(0)["identity_token"], "identity-1");
  answer(401);
  EXPECT_TRUE(
      log.has("[DiziZoz] Push subscription rejected (401). Retrying once with a fresh identity token."));
  queue->drain();
  ASSERT_EQ(sent().size(), 2u);
  EXPECT_EQ(calls, 2) << "the cached token was cleared";
  EXPECT_EQ(body(1)["identity_token"], "identity-2");
  answer(401);
  EXPECT_TRUE(log.has("[DiziZoz] Push subscription rejected (status 401). Keeping record for next launch."));
  handler->retryIfNeeded();
  queue->drain();
  EXPECT_EQ(sent().size(), 2u) << "halted";
}

TEST_F(PushSubscriptionHandlerTest, UnauthorisedWithoutAProviderHaltsAndOtherRejectionsToo) {
  for (const int status : {401, 400}) {
    SCOPED_TRACE(status);
    handler = makeHandler();
    const auto before = sent().size();
    dizizoz::writePushRecord(*storage, {"tok", "app", std::nullopt});
    handler->retryIfNeeded();
    queue->drain();
    ASSERT_EQ(sent().size(), before + 1);
    EXPECT_FALSE(body(before).contains("identity_token"));
    answer(status);
    handler->retryIfNeeded();
    queue->drain();
    EXPECT_EQ(sent().size(), before + 1) << "halted";
  }
  EXPECT_TRUE(
      log.has("[DiziZoz] Push subscription rejected (401): identity verification may be required — set "
              "config.pushIdentityProvider. Keeping record for next launch."));
  EXPECT_TRUE(log.has("[DiziZoz] Push subscription rejected (status 400). Keeping record for next launch."));
  EXPECT_TRUE(dizizoz::loadPushRecord(*storage));
}

TEST_F(PushSubscriptionHandlerTest,
       AProviderThatNeverCompletesIsOverruledAfterTenSecondsAndItsLateTokenKept) {
  holdingProvider();
  handler->reregisterAfterReset("tok", "app");
  queue->advance(9999ms);
  EXPECT_TRUE(sent().empty());
  queue->advance(1ms);
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_FALSE(body(0).contains("identity_token"));
  EXPECT_TRUE(log.has(
      "[DiziZoz] pushIdentityProvider did not complete within 10.0s; sending without identity token."));

  ASSERT_EQ(mints.size(), 1u);
  mints[0]("late");
  answer(500);
  queue->advance(5s);
  handler->retryIfNeeded();
  queue->drain();
  ASSERT_EQ(sent().size(), 2u);
  EXPECT_EQ(body(1)["identity_token"], "late");
  EXPECT_EQ(mints.size(), 1u) << "the late token came from the cache";
  EXPECT_TRUE(log.has("[DiziZoz] Attaching cached identity token to push request."));
}

TEST_F(PushSubscriptionHandlerTest, ADistinctIdChangedWhileMintingDropsTheAttempt) {
  holdingProvider();
  handler->reregisterAfterReset("tok", "app");
  queue->drain();
  ASSERT_EQ(mints.size(), 1u);
  distinctId = "user-2";
  mints[0]("identity");
  queue->advance(60s);
  EXPECT_TRUE(sent().empty());
  EXPECT_TRUE(
      log.has("[DiziZoz] Push subscription skipped: distinct id changed while minting the identity token."));
  // The drop leaves no attempt in flight: the next one goes out.
  handler->retryIfNeeded();
  queue->drain();
  ASSERT_EQ(mints.size(), 2u);
  mints[1]("identity-2");
  queue->drain();
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(body(0)["distinct_id"], "user-2");
}

TEST_F(PushSubscriptionHandlerTest, AnUnansweredUnregisterIsKeptForTheNextFlush) {
  handler->unregister("old-user", "tok", "app");
  queue->drain();
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(sent()[0].method, "DELETE");
  EXPECT_EQ(body(0)["distinct_id"], "old-user");
  queue->advance(30s);
  EXPECT_TRUE(log.has("[DiziZoz] Push unregister failed (status none); will retry on flush/next launch."));
  const DiziZozPushPendingUnregister pending{"old-user", "tok", "app"};
  EXPECT_EQ(dizizoz::loadPushPendingUnregister(*storage), pending);

  // Its late answer is ignored; the flush sends it again and a success clears it.
  answer(200);
  EXPECT_EQ(dizizoz::loadPushPendingUnregister(*storage), pending);
  handler->retryIfNeeded();
  queue->drain();
  ASSERT_EQ(sent().size(), 2u);
  answer(204);
  EXPECT_FALSE(dizizoz::loadPushPendingUnregister(*storage));
  EXPECT_TRUE(log.has("[DiziZoz] Push subscription unregistered successfully."));
}

TEST_F(PushSubscriptionHandlerTest, UnregisterResultsKeepOrDropThePendingRemoval) {
  struct Case {
    int status;
    bool kept;
    const char* line;
  };
  for (const Case& c :
       {Case{429, true, "Push unregister failed (status 429); will retry on flush/next launch."},
        Case{502, true, "Push unregister failed (status 502); will retry on flush/next launch."},
        Case{404, false, "Push unregister failed (status 404); dropping (best-effort)."},
        Case{401, false, "Push unregister failed (status 401); dropping (best-effort)."}}) {
    SCOPED_TRACE(c.line);
    handler->unregister("old-user", "tok", "app");
    queue->drain();
    answer(c.status);
    EXPECT_TRUE(log.has(std::string("[DiziZoz] ") + c.line));
    EXPECT_EQ(dizizoz::loadPushPendingUnregister(*storage).has_value(), c.kept);
  }
}

TEST_F(PushSubscriptionHandlerTest, RefusedInputsAndRecordsSendNothing) {
  handler->unregister("old-user", "tok", "");
  EXPECT_TRUE(log.has("[DiziZoz] Push unregister skipped: missing distinct id, token, or app id."));
  EXPECT_FALSE(
      std::filesystem::exists(storage->url(dizizoz::DiziZozStorage::StorageKey::pushPendingUnregister)));

  std::ofstream(storage->url(dizizoz::DiziZozStorage::StorageKey::pushSubscription))
      << R"({"deviceToken":"tok","appId":7})";
  handler->retryIfNeeded();
  queue->advance(60s);
  EXPECT_TRUE(sent().empty());
}

TEST_F(PushSubscriptionHandlerTest, RetryIfNeededDropsAnUnregisterForTheCurrentDistinctId) {
  dizizoz::writePushRecord(*storage, {"tok", "app", "user-1"});
  dizizoz::writePushPendingUnregister(*storage, {"user-1", "tok", "app"});
  handler->retryIfNeeded();
  queue->advance(60s);
  EXPECT_TRUE(sent().empty());
  EXPECT_FALSE(dizizoz::loadPushPendingUnregister(*storage));
}

TEST_F(PushSubscriptionHandlerTest, ContextChangesResendOnlyForANewDistinctId) {
  dizizoz::writePushRecord(*storage, {"tok", "app", "user-1"});
  handler->retryIfNeeded();  // loads the delivered id
  queue->drain();
  ASSERT_TRUE(sent().empty());

  contextChanged.invoke(Properties{{"distinct_id", "user-1"}});
  EXPECT_EQ(queue->pendingCount(), 0u) << "scheduled work for the delivered id";

  distinctId = "user-2";
  contextChanged.invoke(Properties{{"distinct_id", "user-2"}});
  queue->drain();
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(body(0)["distinct_id"], "user-2");
  answer(200);
  EXPECT_EQ(dizizoz::loadPushRecord(*storage), (DiziZozPushPendingRecord{"tok", "app", "user-2"}));
}

TEST_F(PushSubscriptionHandlerTest, ATriggerWhileSendingCollapsesIntoOneResend) {
  dizizoz::writePushRecord(*storage, {"tok", "app", std::nullopt});
  handler->retryIfNeeded();
  queue->drain();
  handler->retryIfNeeded();
  handler->retryIfNeeded();
  queue->drain();
  ASSERT_EQ(sent().size(), 1u);
  answer(200);
  // The resend finds the record delivered for this id and still sends once (the pending resend does not
  // compare ids), then nothing more.
  queue->drain();
  EXPECT_EQ(sent().size(), 2u);
}

TEST_F(PushSubscriptionHandlerTest, OptingOutForgetsTheCachedIdentityToken) {
  int calls = 0;
  config->pushIdentityProvider = [&](const std::string&, const std::string&, TokenCompletion done) {
    done("identity-" + std::to_string(++calls));
  };
  handler->reregisterAfterReset("tok", "app");
  queue->drain();
  answer(500);
  handler->optOut();
  queue->advance(5s);
  handler->retryIfNeeded();
  queue->drain();
  ASSERT_EQ(sent().size(), 2u);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(body(1)["identity_token"], "identity-2");
}

}  // namespace
