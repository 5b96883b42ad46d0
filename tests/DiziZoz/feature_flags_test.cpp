#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::BootstrapCallMetadata;
using dizizoz::DiziZozConfig;
using dizizoz::DiziZozEvent;
using dizizoz::DiziZozSDK;
using dizizoz::Properties;
using dizizoz::Value;
using dizizoz::test::CapturedLog;
using dizizoz::test::FakeRemoteConfig;
using dizizoz::test::TestServices;

const std::string notSetUp(DiziZozSDK::notSetUpMessage);

class FeatureFlagsTest : public ::testing::Test {
 protected:
  FeatureFlagsTest() { dizizoz::test::registerFakeIntegrations(); }

  std::shared_ptr<DiziZozConfig> config() {
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_flags_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    options->disableFlushOnBackgroundForTesting = true;
    return options;
  }
  void setUp(std::shared_ptr<DiziZozConfig> options = nullptr) {
    this->options = options ? options : config();
    client = ts.client(this->options);
    client->setup(this->options);
    remote = ts.lastRemoteConfig();
  }

  std::vector<DiziZozEvent> eventsNamed(const std::string& name) const {
    std::vector<DiziZozEvent> found;
    for (auto& e : ts.lastEventQueue()->records()) {
      if (e.event == name) found.push_back(e);
    }
    return found;
  }
  std::vector<DiziZozEvent> flagCalls() const { return eventsNamed("$feature_flag_called"); }
  std::vector<Value> reportedResponses() const {
    std::vector<Value> responses;
    for (const auto& e : flagCalls()) responses.push_back(e.properties["$feature_flag_response"]);
    return responses;
  }

  TestServices ts;
  std::shared_ptr<DiziZozConfig> options;
  std::shared_ptr<DiziZozSDK> client;
  std::shared_ptr<FakeRemoteConfig> remote;
};

TEST_F(FeatureFlagsTest, EachDistinctValueOfAFlagIsReportedOnce) {
  setUp();
  const auto read = [&](Value value) {
    remote->setFlags({{"checkout", value}});
    client->getFeatureFlag("checkout");
  };
  read("v1");
  read("v1");
  read("v2");
  read("v1");
  EXPECT_EQ(reportedResponses(), (std::vector<Value>{"v1", "v2"}));

  // A flag without a result is reported once with a null response.
  EXPECT_EQ(client->getFeatureFlag("missing"), std::nullopt);
  EXPECT_EQ(client->getFeatureFlagResult("missing"), std::nullopt);
  EXPECT_FALSE(client->isFeatureEnabled("missing"));
  ASSERT_EQ(flagCalls().size(), 3u);
  EXPECT_EQ(flagCalls().back().properties["$feature_flag"], "missing");
  EXPECT_TRUE(flagCalls().back().properties["$feature_flag_response"].is_null());

  // true and the text "true" are different values.
  remote->setFlags({{"beta", true}});
  EXPECT_TRUE(client->isFeatureEnabled("beta"));
  remote->setFlags({{"beta", "true"}});
  EXPECT_TRUE(client->isFeatureEnabled("beta"));
  EXPECT_EQ(reportedResponses(), (std::vector<Value>{"v1", "v2", nullptr, true, "true"}));

  // The remote configuration's own reports go through the same record.
  remote->parts.flagCalled("beta", Value(true));
  remote->parts.flagCalled("fresh", Value(false));
  EXPECT_EQ(reportedResponses(), (std::vector<Value>{"v1", "v2", nullptr, true, "true", false}));
}

TEST_F(FeatureFlagsTest, TheOptionOrTheCallersBooleanDecidesWhetherAReadIsReported) {
  auto options = config();
  options->sendFeatureFlagEvent = false;
  setUp(options);
  remote->setFlags({{"a", "x"}, {"b", true}}, {{"a", {{"color", "red"}}}});

  EXPECT_EQ(client->getFeatureFlag("a"), Value("x"));
  EXPECT_TRUE(client->isFeatureEnabled("b"));
  EXPECT_TRUE(client->getFeatureFlagResult("a"));
  EXPECT_TRUE(flagCalls().empty());
  EXPECT_EQ(client->getFeatureFlag("a", true), Value("x"));
  EXPECT_EQ(reportedResponses(), std::vector<Value>{"x"});

  // Payload and whole-table reads never report, even with the option on, and record nothing.
  options->sendFeatureFlagEvent = true;
  EXPECT_EQ(client->getFeatureFlagPayload("a"), (Value{{"color", "red"}}));
  ASSERT_TRUE(client->getAllFeatureFlags());
  EXPECT_EQ(client->getAllFeatureFlags()->size(), 2u);
  EXPECT_TRUE(client->isFeatureEnabled("b", false));
  EXPECT_EQ(flagCalls().size(), 1u);
  EXPECT_TRUE(client->getFeatureFlag("b"));
  EXPECT_EQ(reportedResponses(), (std::vector<Value>{"x", true})) << "earlier reads were not recorded";
}

TEST_F(FeatureFlagsTest, ValuesAndEnabledAnswers) {
  setUp();
  remote->setFlags({{"empty", ""}, {"variant", "x"}, {"on", true}, {"off", false}, {"number", 3}},
                   {{"on", 42}});
  struct Case {
    const char* key;
    std::optional<Value> value;
    bool enabled;
  };
  const Case cases[] = {
      {"empty", Value(""), true},   {"variant", Value("x"), true},   {"on", Value(true), true},
      {"off", Value(false), false}, {"number", Value(false), false}, {"missing", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(client->getFeatureFlag(c.key, false), c.value);
    EXPECT_EQ(client->isFeatureEnabled(c.key, false), c.enabled);
  }
  EXPECT_EQ(client->getFeatureFlagPayload("on"), Value(42));
  EXPECT_EQ(client->getFeatureFlagPayload("off"), std::nullopt);
  EXPECT_EQ(client->getFeatureFlagResult("variant", false),
            (dizizoz::DiziZozFeatureFlagResult{.key = "variant", .enabled = true, .variant = "x"}));
}

TEST_F(FeatureFlagsTest, FlagCalledPropertiesFromTheLastAnswerAndTheBootstrap) {
  setUp();
  remote->setFlags({{"plain", true}, {"detailed", "blue"}, {"sparse", true}});

  // Nothing known of the last answer: an empty request id and no evaluation time.
  client->getFeatureFlag("plain");
  Properties p = flagCalls().back().properties;
  EXPECT_EQ(p["$feature_flag_request_id"], "");
  for (const auto* key : {"$feature_flag_evaluated_at", "$feature_flag_reason", "$feature_flag_id",
                          "$feature_flag_has_experiment", "$used_bootstrap_value"}) {
    EXPECT_FALSE(p.contains(key)) << key;
  }
  EXPECT_EQ(p["$feature/plain"], true) << "a full event";

  remote->requestId = "req-1";
  remote->evaluatedAt = 1700000000;
  remote->setDetails("detailed", {{"reason", {{"description", "Matched condition set 1"}}},
                                  {"metadata", {{"id", 7}, {"version", 3}, {"has_experiment", true}}}});
  remote->setBootstrapMetadata(
      "detailed",
      BootstrapCallMetadata{.response = "red", .payload = Value{{"k", 1}}, .usedBootstrapValue = false});
  client->getFeatureFlag("detailed");
  p = flagCalls().back().properties;
  EXPECT_EQ(p["$feature_flag"], "detailed");
  EXPECT_EQ(p["$feature_flag_response"], "blue");
  EXPECT_EQ(p["$feature_flag_request_id"], "req-1");
  EXPECT_EQ(p["$feature_flag_evaluated_at"], 1700000000);
  EXPECT_EQ(p["$feature_flag_reason"], "Matched condition set 1");
  EXPECT_EQ(p["$feature_flag_id"], 7);
  EXPECT_EQ(p["$feature_flag_version"], 3);
  EXPECT_EQ(p["$feature_flag_has_experiment"], true);
  EXPECT_EQ(p["$feature_flag_bootstrapped_response"], "red");
  EXPECT_EQ(p["$feature_flag_bootstrapped_payload"], (Value{{"k", 1}}));
  EXPECT_EQ(p["$used_bootstrap_value"], false);

  // Objects without the entries give nulls; a "has_experiment" that is not a Boolean is left out.
  remote->setDetails("sparse", {{"reason", Properties::object()}, {"metadata", {{"has_experiment", "yes"}}}});
  remote->setBootstrapMetadata("sparse", BootstrapCallMetadata{.response = true, .usedBootstrapValue = true});
  client->getFeatureFlag("sparse");
  p = flagCalls().back().properties;
  EXPECT_TRUE(p["$feature_flag_reason"].is_null());
  EXPECT_TRUE(p["$feature_flag_id"].is_null());
  EXPECT_TRUE(p["$feature_flag_version"].is_null());
  EXPECT_FALSE(p.contains("$feature_flag_has_experiment"));
  EXPECT_FALSE(p.contains("$feature_flag_bootstrapped_payload"));
  EXPECT_EQ(p["$used_bootstrap_value"], true);
}

TEST_F(FeatureFlagsTest, MinimalEventsOnlyForFlagsWithoutAnExperiment) {
  setUp();
  struct Case {
    const char* name;
    std::optional<bool> minimal;
    std::optional<Value> hasExperiment;
    bool expectMinimal;
  };
  const Case cases[] = {
      {"minimal, no experiment", true, Value(false), true},
      {"minimal, experiment", true, Value(true), false},
      {"minimal, experiment unknown", true, std::nullopt, false},
      {"minimal, experiment not a Boolean", true, Value("false"), false},
      {"not minimal", false, Value(false), false},
      {"never told", std::nullopt, Value(false), false},
  };
  const auto& allowed = DiziZozSDK::minimalFeatureFlagCalledProperties();
  EXPECT_EQ(allowed.size(), 19u);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string key = "flag" + std::to_string(n++);
    remote->setFlags({{key, true}});
    remote->minimalFlagCalledEvents = c.minimal;
    Properties metadata{{"id", 1}};
    if (c.hasExperiment) metadata["has_experiment"] = *c.hasExperiment;
    remote->setDetails(key, {{"metadata", metadata}});

    client->getFeatureFlag(key);
    const Properties p = flagCalls().back().properties;
    EXPECT_EQ(p["$feature_flag"], key);
    EXPECT_EQ(p.contains("$is_identified"), !c.expectMinimal);
    EXPECT_EQ(p.contains("$feature/" + key), !c.expectMinimal);
    if (c.expectMinimal) {
      for (const auto& [name, value] : p.items()) EXPECT_TRUE(allowed.contains(name)) << name;
      for (const auto* kept : {"$feature_flag_response", "$feature_flag_id", "$feature_flag_has_experiment",
                               "$feature_flag_request_id", "$session_id", "$lib", "$lib_version", "$os_name",
                               "$process_person_profile"}) {
        EXPECT_TRUE(p.contains(kept)) << kept;
      }
    }
  }
}

TEST_F(FeatureFlagsTest, AValueReadWhileOptedOutCountsAsReported) {
  setUp();
  remote->setFlags({{"beta", "on"}});
  options->optOut = true;
  CapturedLog log;
  EXPECT_EQ(client->getFeatureFlag("beta"), Value("on")) << "reads still answer";
  EXPECT_EQ(log.lines, std::vector<std::string>{std::string(DiziZozSDK::optOutMessage)});
  options->optOut = false;
  client->getFeatureFlag("beta");
  EXPECT_TRUE(flagCalls().empty());
}

TEST_F(FeatureFlagsTest, BeforeSetUpReadsAnswerNothingAndReloadCallbacksRunAtOnce) {
  auto options = config();
  options->debug = true;
  auto early = ts.client(options);
  CapturedLog log;
  EXPECT_EQ(early->getFeatureFlagResult("a"), std::nullopt);
  EXPECT_EQ(early->getFeatureFlag("a"), std::nullopt);
  EXPECT_FALSE(early->isFeatureEnabled("a"));
  EXPECT_EQ(early->getFeatureFlagPayload("a"), std::nullopt);
  EXPECT_EQ(early->getAllFeatureFlags(), std::nullopt);
  int called = 0;
  early->reloadFeatureFlags([&] { ++called; });
  early->reloadFeatureFlags();
  EXPECT_EQ(called, 1);
  EXPECT_EQ(log.lines, std::vector<std::string>(7, notSetUp));

  setUp();
  client->reloadFeatureFlags([&] { ++called; });
  client->reloadFeatureFlags();
  EXPECT_EQ(remote->reloads(), 2);
  EXPECT_EQ(called, 2);
}

TEST_F(FeatureFlagsTest, FeatureViewsAndInteractions) {
  auto options = config();
  options->debug = true;
  setUp(options);
  remote->setFlags({{"on", true}, {"colour", "blue"}});
  struct Case {
    const char* name;
    bool interaction;
    std::string flag;
    std::optional<std::string> variant;
    std::optional<Value> value;  // nothing: no event
  };
  const Case cases[] = {
      {"view of a variant flag", false, "colour", std::nullopt, Value("blue")},
      {"view of a Boolean flag", false, "on", std::nullopt, Value(true)},
      {"view with a given variant and no result", false, "gone", "red", Value("red")},
      {"given variant wins", true, "colour", "green", Value("green")},
      {"view without a value", false, "gone", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string event = c.interaction ? "$feature_interaction" : "$feature_view";
    const auto before = eventsNamed(event).size();
    CapturedLog log;
    if (c.interaction) {
      client->captureFeatureInteraction(c.flag, c.variant);
    } else {
      client->captureFeatureView(c.flag, c.variant);
    }
    if (!c.value) {
      EXPECT_EQ(eventsNamed(event).size(), before);
      EXPECT_EQ(log.lines,
                std::vector<std::string>{"[DiziZoz] captureFeatureView called for flag '" + c.flag +
                                         "' but no variant value is available. Event will not "
                                         "be captured."});
      continue;
    }
    ASSERT_EQ(eventsNamed(event).size(), before + 1);
    const Properties p = eventsNamed(event).back().properties;
    EXPECT_EQ(p["feature_flag"], c.flag);
    EXPECT_EQ(p.contains("feature_flag_variant"), c.value->is_string());
    if (c.value->is_string()) {
      EXPECT_EQ(p["feature_flag_variant"], *c.value);
    }
    EXPECT_EQ(p["$set"], (Properties{{event + "/" + c.flag, *c.value}}));
  }
  EXPECT_TRUE(flagCalls().empty()) << "looking the value up reports nothing";

  CapturedLog log;
  options->optOut = true;
  client->captureFeatureView("colour", "red");
  EXPECT_EQ(log.lines, std::vector<std::string>{std::string(DiziZozSDK::optOutMessage)});
}

}  // namespace
