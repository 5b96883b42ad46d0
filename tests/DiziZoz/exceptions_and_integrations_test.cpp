#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/DiziZozBasicExceptionProcessor.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/errortracking/DiziZozExceptionStepsBuffer.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/FixedStepsBuffer.h"
#include "tests/support/dizizoz/TestServices.h"

namespace dizizoz {

// The install loop is private: set-up runs it, and so will opting in again.
struct DiziZozSDKTestAccess {
  static void installIntegrations(DiziZozSDK& client) { client.installIntegrations(); }
};

}  // namespace dizizoz

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozIntegration;
using dizizoz::DiziZozIntegrationInstallSkipReason;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using dizizoz::Value;
using dizizoz::test::CapturedLog;
using dizizoz::test::DiziZozAppLifeCycleIntegration;
using dizizoz::test::DiziZozErrorTrackingAutoCaptureIntegration;
using dizizoz::test::DiziZozPushNotificationOpenIntegration;
using dizizoz::test::DiziZozScreenViewIntegration;
using dizizoz::test::TestServices;

const std::string notSetUp(DiziZozSDK::notSetUpMessage);
const std::string optedOut(DiziZozSDK::optOutMessage);

std::vector<std::string> installedNames(DiziZozSDK& client) {
  std::vector<std::string> names;
  for (const auto& integration : client.installedIntegrations())
    names.push_back(dizizoz::integrationTypeName(*integration));
  return names;
}

class ExceptionsAndIntegrationsTest : public ::testing::Test {
 protected:
  ExceptionsAndIntegrationsTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozConfig> config(const std::string& suffix = "") {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_exc_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + suffix);
    options->disableFlushOnBackgroundForTesting = true;
    options->debug = true;
    return options;
  }
  std::shared_ptr<DiziZozSDK> setUp(std::shared_ptr<DiziZozConfig> options) {
    auto client = DiziZozSDK::create(options, services);
    client->setup(options);
    return client;
  }

  std::vector<DiziZozEvent> events() const { return ts.lastEventQueue()->records(); }
  Properties lastProperties() const {
    auto queued = events();
    return queued.empty() ? Properties() : queued.back().properties;
  }

  TestServices ts;
  dizizoz::DiziZozServices services = ts.services();
};

// --- The install loop, additions and removals. ---

TEST_F(ExceptionsAndIntegrationsTest, InstallLoopSkipsSwizzlingIntegrationsWhenSwizzlingIsOff) {
  auto options = config();
  options->enableSwizzling = false;
  options->errorTrackingConfig->autoCapture = true;
  auto client = DiziZozSDK::create(options, services);
  CapturedLog log;
  client->setup(options);

  const std::string swizzling =
      " skipped. Integration requires swizzling but enableSwizzling is disabled in config";
  const std::vector<std::string> loop = {
      "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration installed",
      "[DiziZoz] Integration DiziZozScreenViewIntegration" + swizzling,
      "[DiziZoz] Integration DiziZozAppLifeCycleIntegration installed",
      "[DiziZoz] Integration DiziZozPushNotificationOpenIntegration" + swizzling,
  };
  std::vector<std::string> integrationLines;
  for (const auto& line : log.lines) {
    if (line.starts_with("[DiziZoz] Integration")) integrationLines.push_back(line);
  }
  EXPECT_EQ(integrationLines, loop);
  EXPECT_EQ(installedNames(*client), (std::vector<std::string>{"DiziZozErrorTrackingAutoCaptureIntegration",
                                                               "DiziZozAppLifeCycleIntegration"}));
  EXPECT_FALSE(DiziZozScreenViewIntegration::integrationInstallState().installed) << "never asked to install";
  EXPECT_FALSE(DiziZozPushNotificationOpenIntegration::integrationInstallState().installed);

  // A second loop without an uninstall changes nothing.
  log.lines.clear();
  dizizoz::DiziZozSDKTestAccess::installIntegrations(*client);
  EXPECT_EQ(log.lines, std::vector<std::string>{
                           "[DiziZoz] Integrations already installed. Call uninstallIntegrations() first."});
  EXPECT_EQ(installedNames(*client).size(), 2u);
}

TEST_F(ExceptionsAndIntegrationsTest, SkippedIntegrationsAreNotListedSoALaterLoopTriesAgain) {
  const DiziZozIntegrationInstallSkipReason reasons[] = {
      DiziZozIntegrationInstallSkipReason::alreadyInstalled,
      DiziZozIntegrationInstallSkipReason::disabledInRemoteConfig,
      DiziZozIntegrationInstallSkipReason::notAvailableOnPlatform,
  };
  int n = 0;
  for (const auto reason : reasons) {
    const std::string text(dizizoz::description(reason));
    SCOPED_TRACE(text);
    dizizoz::test::registerFakeIntegrations();
    DiziZozScreenViewIntegration::refusal = reason;
    DiziZozAppLifeCycleIntegration::refusal = reason;
    DiziZozPushNotificationOpenIntegration::refusal = reason;
    auto options = config(std::to_string(n++));
    auto client = DiziZozSDK::create(options, services);
    CapturedLog log;
    client->setup(options);

    for (const char* name : {"DiziZozScreenViewIntegration", "DiziZozAppLifeCycleIntegration",
                             "DiziZozPushNotificationOpenIntegration"}) {
      const std::string line = std::string("[DiziZoz] Integration ") + name + " skipped: " + text;
      EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), line), log.lines.end()) << line;
    }
    EXPECT_TRUE(client->installedIntegrations().empty());

    DiziZozAppLifeCycleIntegration::refusal.reset();
    dizizoz::DiziZozSDKTestAccess::installIntegrations(*client);
    EXPECT_EQ(installedNames(*client), std::vector<std::string>{"DiziZozAppLifeCycleIntegration"});
    client.reset();  // releases the install guards for the next case
  }
}

TEST_F(ExceptionsAndIntegrationsTest, AddedOncePerObjectAndRemovedByIdentity) {
  auto options = config();
  options->enableSwizzling = false;
  auto client = setUp(options);
  ASSERT_EQ(installedNames(*client), std::vector<std::string>{"DiziZozAppLifeCycleIntegration"});
  const auto lifeCycle = client->installedIntegrations().front();

  CapturedLog log;
  auto tracking = std::make_shared<DiziZozErrorTrackingAutoCaptureIntegration>();
  client->addIntegration(tracking);
  client->addIntegration(tracking);
  EXPECT_EQ(tracking->starts, 1);
  EXPECT_EQ(log.lines, std::vector<std::string>{
                           "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration added"});

  // Swizzling is the install loop's business only.
  auto screens = std::make_shared<DiziZozScreenViewIntegration>();
  client->addIntegration(screens);
  EXPECT_EQ(screens->starts, 1);

  // A skipped integration is dropped without a line.
  log.lines.clear();
  auto second = std::make_shared<DiziZozErrorTrackingAutoCaptureIntegration>();
  client->addIntegration(second);
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(second->starts, 0);
  EXPECT_EQ(installedNames(*client), (std::vector<std::string>{"DiziZozAppLifeCycleIntegration",
                                                               "DiziZozErrorTrackingAutoCaptureIntegration",
                                                               "DiziZozScreenViewIntegration"}));

  client->removeIntegration(tracking);
  EXPECT_EQ(tracking->stops, 1);
  EXPECT_EQ(log.lines, std::vector<std::string>{
                           "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration removed"});
  EXPECT_EQ(installedNames(*client),
            (std::vector<std::string>{"DiziZozAppLifeCycleIntegration", "DiziZozScreenViewIntegration"}));
  EXPECT_EQ(client->installedIntegrations().front(), lifeCycle);
  client->addIntegration(second);
  EXPECT_EQ(second->starts, 1) << "the class is free again";

  // The end of the client uninstalls the rest in order.
  log.lines.clear();
  client.reset();
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "[DiziZoz] Integration DiziZozAppLifeCycleIntegration uninstalled",
                           "[DiziZoz] Integration DiziZozScreenViewIntegration uninstalled",
                           "[DiziZoz] Integration DiziZozErrorTrackingAutoCaptureIntegration uninstalled"}));
}

// --- The context notification. ---

TEST_F(ExceptionsAndIntegrationsTest, ContextPayloadCarriesWhatTheNextEventWould) {
  auto client = setUp(config());
  ts.lastRemoteConfig()->setFlags({{"beta", "blue"}});
  client->storage()->setJson(dizizoz::DiziZozStorage::StorageKey::registerProperties, {{"plan", "pro"}});
  std::vector<Properties> notices;
  auto token = client->onEventContextChanged.subscribe([&](const Properties& p) { notices.push_back(p); });

  client->sessionManager().resetSession();
  ASSERT_EQ(notices.size(), 1u);
  const Properties& payload = notices[0];
  EXPECT_EQ(payload.size(), 2u);
  EXPECT_EQ(payload["distinct_id"], client->getDistinctId());

  client->capture("next");
  Properties expected = lastProperties();
  Properties announced = payload["event_properties"];
  for (const auto* key : {"$feature/beta", "plan", "$session_id", "$lib", "$is_identified", "$os_name"}) {
    EXPECT_EQ(announced[key], expected[key]) << key;
  }
}

// --- Exception steps. ---

TEST_F(ExceptionsAndIntegrationsTest, StepsAreAttachedToExceptionsWithTheirReservedKeys) {
  auto options = config();
  auto client = setUp(options);
  std::vector<std::vector<Properties>> published;
  auto token = client->onExceptionStepsChanged.subscribe(
      [&](const std::vector<Properties>& s) { published.push_back(s); });

  CapturedLog log;
  client->addExceptionStep("opened settings",
                           Properties{{"$message", "theirs"}, {"$timestamp", 1}, {"screen", "Settings"}});
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "[DiziZoz] addExceptionStep: reserved key $message in properties is ignored",
                           "[DiziZoz] addExceptionStep: reserved key $timestamp in properties is ignored"}));
  const Properties step{{"$message", "opened settings"},
                        {"$timestamp", dizizoz::toISO8601String(ts.clock.now())},
                        {"screen", "Settings"}};
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0], std::vector<Properties>{step});

  client->captureException(std::make_exception_ptr(std::runtime_error("boom")));
  EXPECT_EQ(lastProperties()["$exception_steps"], Value::array({step}));

  // The caller's own steps win.
  const Value own = Value::array({{{"$message", "mine"}}});
  client->captureException(std::make_exception_ptr(std::runtime_error("boom")),
                           Properties{{"$exception_steps", own}});
  EXPECT_EQ(lastProperties()["$exception_steps"], own);
}

TEST_F(ExceptionsAndIntegrationsTest, StepRefusals) {
  struct Case {
    const char* name;
    bool setUpFirst;
    bool optOut;
    bool enabled;
    std::string message;
    std::string line;
  };
  const Case cases[] = {
      {"not set up", false, false, true, "m", notSetUp},
      {"opted out", true, true, true, "m", optedOut},
      {"disabled", true, false, false, "m",
       "[DiziZoz] addExceptionStep called but exception steps are disabled, ignoring"},
      {"empty message", true, false, true, "",
       "[DiziZoz] addExceptionStep called with an empty message, ignoring"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = config(std::to_string(n++));
    auto client = DiziZozSDK::create(options, services);
    if (c.setUpFirst) client->setup(options);
    options->optOut = c.optOut;
    options->errorTrackingConfig->exceptionSteps->enabled = c.enabled;
    int published = 0;
    auto token =
        client->onExceptionStepsChanged.subscribe([&](const std::vector<Properties>&) { ++published; });
    CapturedLog log;
    client->addExceptionStep(c.message);
    EXPECT_EQ(log.lines, std::vector<std::string>{c.line});
    EXPECT_EQ(published, 0);
  }
}

TEST_F(ExceptionsAndIntegrationsTest, StepsBufferedBeforeSetUpAreAnnouncedAfterTheContext) {
  services.makeExceptionStepsBuffer = [](int, dizizoz::DiziZozExceptionStepsBuffering::OnStepsChanged) {
    return std::make_shared<dizizoz::test::FixedStepsBuffer>(std::vector<Properties>{{{"$message", "kept"}}});
  };
  auto options = config();
  auto client = DiziZozSDK::create(options, services);
  std::vector<std::string> order;
  auto context =
      client->onEventContextChanged.subscribe([&](const Properties&) { order.push_back("context"); });
  auto steps = client->onExceptionStepsChanged.subscribe([&](const std::vector<Properties>& s) {
    order.push_back("steps");
    EXPECT_EQ(s, (std::vector<Properties>{{{"$message", "kept"}}}));
  });
  client->setup(options);
  EXPECT_EQ(order, (std::vector<std::string>{"context", "steps"}));
}

TEST(ExceptionStepsBufferTest, KeepsTheNewestStepsWithinItsBudget) {
  std::vector<std::vector<Properties>> published;
  const auto step = [](const std::string& message) {
    return Properties{{"$message", message}, {"$timestamp", "t"}};
  };
  const auto bytes = [](const Properties& p) { return static_cast<int>(p.dump().size()); };
  // Room for exactly two of these steps.
  dizizoz::DiziZozExceptionStepsBuffer buffer(2 * bytes(step("aa")),
                                              [&](const auto& steps) { published.push_back(steps); });

  EXPECT_TRUE(buffer.add(step("aa")));
  EXPECT_TRUE(buffer.add(step("bb")));
  EXPECT_TRUE(buffer.add(step("cc")));
  EXPECT_EQ(buffer.getAttachable(), (std::vector<Properties>{step("bb"), step("cc")}));
  EXPECT_EQ(published.size(), 3u);
  EXPECT_EQ(published.back(), buffer.getAttachable());

  struct Refusal {
    const char* name;
    Properties step;
  };
  const Refusal refusals[] = {
      {"no message", {{"other", 1}, {"$timestamp", "t"}}},
      {"empty message", {{"$message", ""}, {"$timestamp", "t"}}},
      {"message not text", {{"$message", 3}, {"$timestamp", "t"}}},
      {"larger than the budget", step(std::string(64, 'x'))},
      {"not an object", Value::array({1})},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.name);
    EXPECT_FALSE(buffer.add(r.step));
  }
  EXPECT_EQ(published.size(), 3u) << "refusals change nothing";

  // What JSON cannot carry is dropped before the step is measured.
  EXPECT_TRUE(buffer.add(
      Properties{{"$message", "dd"}, {"$timestamp", "t"}, {"odd", dizizoz::value::opaque("handle")}}));
  EXPECT_EQ(buffer.getAttachable().back(), step("dd"));

  buffer.clear();
  EXPECT_TRUE(buffer.getAttachable().empty());
  EXPECT_EQ(published.back(), std::vector<Properties>{});
  EXPECT_FALSE(buffer.add(step("ee"))) << "a cleared buffer is closed";
}

// --- Handled exceptions. ---

struct NotAnException {};

TEST_F(ExceptionsAndIntegrationsTest, HandledFailuresBecomeExceptionEvents) {
  auto options = config();
  auto client = setUp(options);
  const auto entry = [](const char* type, std::optional<std::string> value) {
    Properties e{{"type", type}};
    if (value) e["value"] = *value;
    e["mechanism"] = {{"type", "generic"}, {"handled", true}};
    return e;
  };
  struct Case {
    const char* name;
    std::function<void()> capture;
    Properties expected;  // properties the event must carry
  };
  const std::error_code missing = std::make_error_code(std::errc::no_such_file_or_directory);
  const Case cases[] = {
      {"exception",
       [&] { client->captureException(std::make_exception_ptr(std::out_of_range("index 4"))); },
       {{"$exception_level", "error"}, {"$exception_list", {entry("std::out_of_range", "index 4")}}}},
      {"error code",
       [&] { client->captureException(missing); },
       {{"$exception_level", "error"}, {"$exception_list", {entry("generic", missing.message())}}}},
      {"not a std::exception",
       [&] { client->captureException(std::make_exception_ptr(NotAnException{})); },
       {{"$exception_list", {entry("(anonymous namespace)::NotAnException", std::nullopt)}}}},
      {"message that is not UTF-8 keeps the list",
       [&] { client->captureException(std::make_exception_ptr(std::runtime_error("bad \xff"))); },
       {{"$exception_list", {entry("std::runtime_error", std::nullopt)}}}},
      {"caller's level",
       [&] {
         client->captureException(std::make_exception_ptr(std::runtime_error("x")),
                                  Properties{{"$exception_level", "warning"}, {"area", "sync"}});
       },
       {{"$exception_level", "warning"}, {"area", "sync"}}},
      {"caller's list",
       [&] {
         client->captureException(missing, Properties{{"$exception_list", {entry("Mine", "m")}}});
       },
       {{"$exception_level", "error"}, {"$exception_list", {entry("Mine", "m")}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = events().size();
    c.capture();
    ASSERT_EQ(events().size(), before + 1);
    EXPECT_EQ(events().back().event, "$exception");
    const Properties properties = lastProperties();
    for (const auto& [key, value] : c.expected.items()) EXPECT_EQ(properties[key], value) << key;
    EXPECT_EQ(properties["$lib"], "dizizoz-ios") << "built like any event";
  }

  // An ignored type is dropped by the pipeline; a null exception and a client before set-up send nothing.
  options->errorTrackingConfig->ignoredExceptionTypes = {"std::logic_error"};
  auto fresh = DiziZozSDK::create(config("fresh"), services);
  const auto before = events().size();
  CapturedLog log;
  client->captureException(std::make_exception_ptr(std::logic_error("ignored")));
  client->captureException(std::exception_ptr());
  fresh->captureException(missing);
  EXPECT_EQ(events().size(), before);
  EXPECT_EQ(
      log.lines,
      (std::vector<std::string>{
          "[DiziZoz] $exception skipped: exception type is in errorTrackingConfig.ignoredExceptionTypes",
          "[DiziZoz] captureException called without an exception, ignoring", notSetUp}));
}

TEST(BasicExceptionProcessorTest, AnEmptyListAttachesNothing) {
  dizizoz::DiziZozBasicExceptionProcessor processor;
  const dizizoz::DiziZozErrorTrackingConfig config;
  EXPECT_TRUE(processor.buildExceptionList(std::exception_ptr(), true, "generic", config, nullptr).empty());
  Properties properties{{"$exception_level", "error"}};
  processor.attachExceptionsAndDebugImages({}, properties);
  EXPECT_EQ(properties, (Properties{{"$exception_level", "error"}}));
}

}  // namespace
