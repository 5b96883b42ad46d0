#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/HedgeLog.h"
#include "tests/DiziZoz/CapturedLog.h"

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozIntegration;
using dizizoz::DiziZozIntegrationKind;

using dizizoz::test::CapturedLog;

TEST(DiziZozConfigTest, DefaultsOfEveryOptionAndSubRecord) {
  DiziZozConfig config("token");
  EXPECT_EQ(config.host(), "https://us.i.dizizoz.com");
  EXPECT_EQ(config.flushAt, 20);
  EXPECT_EQ(config.maxQueueSize, 1000);
  EXPECT_EQ(config.maxBatchSize, 50);
  EXPECT_EQ(config.flushIntervalSeconds, 30.0);
  EXPECT_EQ(config.maxRetries, 3);
  EXPECT_EQ(config.featureFlagRequestMaxRetries, 1);
  EXPECT_EQ(config.dataMode, dizizoz::DiziZozDataMode::any);
  EXPECT_TRUE(config.sendFeatureFlagEvent && config.preloadFeatureFlags &&
              config.captureApplicationLifecycleEvents && config.captureScreenViews &&
              config.enableSwizzling && config.capturePushNotificationSubscriptions &&
              config.capturePushNotificationOpened && config.setDefaultPersonProperties && config.surveys &&
              config.remoteConfig());
  EXPECT_FALSE(config.debug || config.optOut || config.reuseAnonymousId ||
               config.disableReachabilityForTesting || config.disableQueueTimerForTesting ||
               config.disableFlushOnBackgroundForTesting || config.disableRemoteConfigForTesting);
  EXPECT_FALSE(config.pushIdentityProvider || config.bootstrap || config.propertiesSanitizer ||
               config.evaluationContexts || config.appGroupIdentifier || config.requestHeaders ||
               config.storageManager);
  EXPECT_EQ(config.personProfiles, dizizoz::DiziZozPersonProfiles::identifiedOnly);
  EXPECT_EQ(config.snapshotEndpoint, "/s/");
  dizizoz::Uuid id = *dizizoz::Uuid::fromString("01890a5d-ac96-774b-bcce-b302099a8057");
  EXPECT_EQ(config.getAnonymousId(id), id);

  const auto& errors = *config.errorTrackingConfig;
  EXPECT_FALSE(errors.autoCapture);
  EXPECT_TRUE(errors.inAppByDefault);
  EXPECT_TRUE(errors.inAppExcludes.empty());
  EXPECT_EQ(errors.inAppIncludes, std::vector<std::string>{"com.dizizoz.unknown"});
  EXPECT_EQ(errors.ignoredExceptionTypes, std::vector<std::string>{"RCTFatalException"});
  EXPECT_TRUE(errors.exceptionSteps->enabled);
  EXPECT_EQ(errors.exceptionSteps->maxBytes, 32768);

  const auto& logs = *config.logs;
  EXPECT_EQ(logs.flushIntervalSeconds, 30.0);
  EXPECT_EQ(logs.maxBufferSize, 1000);
  EXPECT_EQ(logs.flushAt, 20);
  EXPECT_EQ(logs.maxBatchSize, 50);
  EXPECT_EQ(logs.serviceName, "com.dizizoz.unknown");
  EXPECT_EQ(logs.serviceVersion, "");
  EXPECT_FALSE(logs.environment);
  EXPECT_TRUE(logs.resourceAttributes.is_object() && logs.resourceAttributes.empty());
  EXPECT_EQ(logs.rateCapMaxLogs, 500);
  EXPECT_EQ(logs.rateCapWindowSeconds, 10.0);

  ASSERT_TRUE(config.surveysConfig->surveysDelegate);
  EXPECT_FALSE(config.surveysConfig->overrideDisplayLanguage);

  EXPECT_EQ(dizizoz::diziZozSdkName, "dizizoz-ios");
  EXPECT_EQ(dizizoz::diziZoziOSSdkName, "dizizoz-ios");
  EXPECT_EQ(dizizoz::diziZozVersion, "3.69.5");
}

TEST(DiziZozConfigTest, BundleGivesTheApplicationDependentDefaults) {
  DiziZozConfig config("token", dizizoz::DiziZozBundleInfo{"com.quorvelle.app", "1.4.2", "quorvelle"});
  EXPECT_EQ(config.logs->serviceName, "com.quorvelle.app");
  EXPECT_EQ(config.logs->serviceVersion, "1.4.2");
  EXPECT_EQ(config.errorTrackingConfig->inAppIncludes,
            (std::vector<std::string>{"com.quorvelle.app", "quorvelle"}));
}

TEST(DiziZozConfigTest, TokenIsTrimmedAndHostFallsBackToTheDefault) {
  struct Case {
    std::string token, host, expectedToken, expectedHost;
  };
  const std::string fallback(DiziZozConfig::defaultHost);
  const std::vector<Case> cases{
      {"  phc_abc\n", "https://eu.example.com", "phc_abc", "https://eu.example.com"},
      {"\t tok \u00a0", "  http://127.0.0.1:8080/base \n", "tok", "http://127.0.0.1:8080/base"},
      {"", "   ", "", fallback},  // empty token accepted here; set-up refuses it
      {"t", "", "t", fallback},
      {"t", "not a url", "t", fallback},
      {"t", "example.com", "t", fallback},  // no scheme: every request would fail
      {"t", "ftp://example.com", "t", fallback},
      {"t", "https://", "t", fallback},
      {"t", "https://exa mple.com", "t", fallback},
  };
  for (const auto& c : cases) {
    DiziZozConfig config(c.token, c.host);
    EXPECT_EQ(config.projectToken(), c.expectedToken) << c.token;
    EXPECT_EQ(config.host(), c.expectedHost) << c.host;
  }
}

TEST(DiziZozConfigTest, DeprecatedFormsLogAndForward) {
  CapturedLog log;
  auto config = DiziZozConfig::withApiKey(" key ", "https://h.example");
  EXPECT_EQ(config->projectToken(), "key");
  EXPECT_EQ(config->host(), "https://h.example");
  EXPECT_EQ(config->apiKey(), "key");

  config->setRemoteConfig(true);
  config->setRemoteConfig(false);
  EXPECT_TRUE(config->remoteConfig());

  config->setEvaluationEnvironments(std::vector<std::string>{"web", "ios"});
  EXPECT_EQ(config->evaluationContexts, (std::vector<std::string>{"web", "ios"}));
  config->setEvaluationEnvironments(std::nullopt);
  EXPECT_FALSE(config->evaluationEnvironments());

  const std::string apiKeyLine =
      "[DiziZoz] apiKey is deprecated and will be removed in the next major version. Use projectToken "
      "instead.";
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{
                apiKeyLine,
                apiKeyLine,
                "[DiziZoz] remoteConfig is deprecated and is now always enabled. Setting it to false has "
                "no effect.",
                "[DiziZoz] evaluationEnvironments is deprecated. Use evaluationContexts instead.",
            }));
}

TEST(DiziZozConfigTest, EnumerationsFromRawValues) {
  EXPECT_EQ(dizizoz::dataModeFromRawValue(0), dizizoz::DiziZozDataMode::wifi);
  EXPECT_EQ(dizizoz::dataModeFromRawValue(1), dizizoz::DiziZozDataMode::cellular);
  EXPECT_EQ(dizizoz::dataModeFromRawValue(2), dizizoz::DiziZozDataMode::any);
  EXPECT_FALSE(dizizoz::dataModeFromRawValue(3));
  EXPECT_FALSE(dizizoz::dataModeFromRawValue(-1));
  EXPECT_EQ(dizizoz::personProfilesFromRawValue(0), dizizoz::DiziZozPersonProfiles::never);
  EXPECT_EQ(dizizoz::personProfilesFromRawValue(1), dizizoz::DiziZozPersonProfiles::always);
  EXPECT_EQ(dizizoz::personProfilesFromRawValue(2), dizizoz::DiziZozPersonProfiles::identifiedOnly);
  EXPECT_FALSE(dizizoz::personProfilesFromRawValue(3));
}

TEST(DiziZozConfigTest, BeforeSendFormsReplaceTheWholeChain) {
  DiziZozConfig config("token");
  dizizoz::DiziZozEvent event("e", "d", {{"k", 1}}, {}, {});
  EXPECT_EQ(config.runBeforeSend(event), event);

  using Event = dizizoz::DiziZozEvent;
  config.setBeforeSend(
      [](Event e) -> std::optional<Event> {
        e.event += "1";
        return e;
      },
      [](Event e) -> std::optional<Event> {
        e.event += "2";
        return e;
      });
  EXPECT_EQ(config.runBeforeSend(event)->event, "e12");
  config.setBeforeSend(
      std::vector<DiziZozConfig::BeforeSendBlock>{[](Event) -> std::optional<Event> { return {}; }});
  EXPECT_FALSE(config.runBeforeSend(event));
  config.setBeforeSend(std::vector<DiziZozConfig::BeforeSendBlock>{});
  EXPECT_EQ(config.runBeforeSend(event), event);
}

// The integrations are never dereferenced here: each factory hands out a distinct marker pointer.
// The table is process-wide: other tests of this program fill it too, so each test starts from an empty one.
class IntegrationTableTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  void clear() {
    for (auto kind : kinds) DiziZozConfig::setIntegrationFactory(kind, {});
  }
  void registerAll() {
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      DiziZozConfig::setIntegrationFactory(kinds[i], [this, i] {
        ++made[i];
        return marker(i);
      });
    }
  }
  std::shared_ptr<DiziZozIntegration> marker(std::size_t i) {
    return std::shared_ptr<DiziZozIntegration>(std::shared_ptr<void>(),
                                               reinterpret_cast<DiziZozIntegration*>(&tags[i]));
  }
  const std::array<DiziZozIntegrationKind, 4> kinds{
      DiziZozIntegrationKind::errorTrackingAutoCapture, DiziZozIntegrationKind::screenViews,
      DiziZozIntegrationKind::appLifecycle, DiziZozIntegrationKind::pushNotificationOpened};
  std::array<int, 4> tags{};
  std::array<int, 4> made{};
};

TEST_F(IntegrationTableTest, EmptyUntilTheIntegrationFoldersRegister) {
  DiziZozConfig config("token");
  EXPECT_TRUE(config.getIntegrations().empty());
}

TEST_F(IntegrationTableTest, OptionsPickNewIntegrationsInInstallOrder) {
  registerAll();
  DiziZozConfig config("token");
  auto defaults = config.getIntegrations();
  ASSERT_EQ(defaults.size(), 3u);  // error tracking is off by default
  EXPECT_EQ(defaults[0], marker(1));
  EXPECT_EQ(defaults[1], marker(2));
  EXPECT_EQ(defaults[2], marker(3));

  config.errorTrackingConfig->autoCapture = true;
  config.captureScreenViews = false;
  config.capturePushNotificationOpened = false;
  auto chosen = config.getIntegrations();
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0], marker(0));
  EXPECT_EQ(chosen[1], marker(2));
  EXPECT_EQ(made, (std::array<int, 4>{1, 1, 2, 1}));  // a new object on every call
}

}  // namespace
