#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/BoxedBeforeSendLogBlock.h"
#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/DiziZozLogSeverity.h"
#include "DiziZoz/core/DiziZozLogsConfig.h"
#include "DiziZoz/core/Value.h"
#include "platform/fake/ManualClock.h"

namespace {

using dizizoz::DiziZozLogRecord;
using dizizoz::DiziZozLogsConfig;
using dizizoz::DiziZozLogSeverity;
using dizizoz::Properties;
using dizizoz::Value;

TEST(LogSeverityTest, NamesRawValuesAndNamesReadBack) {
  const char* names[] = {"trace", "debug", "info", "warn", "error", "fatal"};
  for (int raw = 0; raw < 6; ++raw) {
    const auto severity = dizizoz::allLogSeverities[static_cast<std::size_t>(raw)];
    EXPECT_EQ(static_cast<int>(severity), raw);
    EXPECT_EQ(dizizoz::logSeverityName(severity), names[raw]);
    EXPECT_EQ(dizizoz::logSeverityFromRawValue(raw), severity);
  }
  EXPECT_FALSE(dizizoz::logSeverityFromRawValue(-1));
  EXPECT_FALSE(dizizoz::logSeverityFromRawValue(6));

  struct Case {
    const char* name;
    std::optional<DiziZozLogSeverity> expected;
  };
  const Case cases[] = {
      {" WARN ", DiziZozLogSeverity::warn},
      {"Error", DiziZozLogSeverity::error},
      {"\n\tfatal\r\n", DiziZozLogSeverity::fatal},
      {"trace", DiziZozLogSeverity::trace},
      {"warning", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"in fo", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(dizizoz::logSeverityFromName(c.name), c.expected) << '"' << c.name << '"';
}

DiziZozLogRecord fullRecord() {
  DiziZozLogRecord record;
  record.body = "  payment failed  ";
  record.level = DiziZozLogSeverity::error;
  record.attributes = {{"order", 42}, {"retry", true}, {"tags", {"a", "b"}}};
  record.traceId = "4bf92f3577b34da6a3ce929d0e0e4736";
  record.spanId = "00f067aa0ba902b7";
  record.traceFlags = 1;
  record.distinctId = "device-1";
  record.sessionId = "0190c2a4-0000-7000-8000-000000000001";
  record.screenName = "Settings";
  record.appState = "foreground";
  record.featureFlagKeys = {"a", "c"};
  record.timeUnixNano = "1704067200123456789";
  record.observedTimeUnixNano = "1704067200123456790";
  return record;
}

TEST(LogRecordTest, StoredFormHoldsEveryFieldAndReadsBack) {
  const DiziZozLogRecord record = fullRecord();
  const Properties stored = record.toStorageJSON();
  EXPECT_EQ(stored, Value::parse(R"({
    "body": "  payment failed  ", "level": "error",
    "timeUnixNano": "1704067200123456789", "observedTimeUnixNano": "1704067200123456790",
    "featureFlagKeys": ["a", "c"], "attributes": {"order": 42, "retry": true, "tags": ["a", "b"]},
    "traceId": "4bf92f3577b34da6a3ce929d0e0e4736", "spanId": "00f067aa0ba902b7", "traceFlags": 1,
    "distinctId": "device-1", "sessionId": "0190c2a4-0000-7000-8000-000000000001",
    "screenName": "Settings", "appState": "foreground"})"));
  EXPECT_EQ(DiziZozLogRecord::fromStorageJSON(stored), record);

  // Through text, as the queue stores it.
  EXPECT_EQ(DiziZozLogRecord::fromStorageJSON(Value::parse(stored.dump())), record);
}

TEST(LogRecordTest, StoredFormLeavesOutWhatIsNotSetAndSanitisesAttributes) {
  DiziZozLogRecord bare;
  bare.body = "hello";
  bare.timeUnixNano = bare.observedTimeUnixNano = "5";
  const Properties stored = bare.toStorageJSON();
  EXPECT_EQ(stored, (Properties{{"body", "hello"},
                                {"level", "info"},
                                {"timeUnixNano", "5"},
                                {"observedTimeUnixNano", "5"},
                                {"featureFlagKeys", Value::array()}}));
  const auto back = DiziZozLogRecord::fromStorageJSON(stored);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->attributes, Properties::object());
  EXPECT_EQ(*back, bare);

  DiziZozLogRecord odd = bare;
  odd.attributes = {{"when", dizizoz::value::date(dizizoz::Date(std::chrono::seconds(1704067200)))},
                    {"link", dizizoz::value::url("https://example.com/a")},
                    {"thing", dizizoz::value::opaque("a window")}};
  odd.body = "broken \xC3 text";
  const Properties oddStored = odd.toStorageJSON();
  EXPECT_EQ(oddStored["attributes"],
            (Properties{{"when", "2024-01-01T00:00:00Z"}, {"link", "https://example.com/a"}}));
  EXPECT_EQ(oddStored["body"], "broken \xEF\xBF\xBD text") << "the stored form can always be written";
  EXPECT_NO_THROW(oddStored.dump());

  // Attributes of which nothing can be kept still store an (empty) attributes object.
  odd.attributes = {{"thing", dizizoz::value::opaque("a window")}};
  EXPECT_EQ(odd.toStorageJSON()["attributes"], Properties::object());
}

TEST(LogRecordTest, StoredFieldsOfTheWrongTypeTakeTheirDefaults) {
  const platform::fake::ManualClock clock{
      platform::fake::ManualClock::WallTime{std::chrono::seconds(1704067200)}};
  struct Case {
    const char* name;
    const char* stored;
    std::optional<DiziZozLogRecord> expected;
  };
  DiziZozLogRecord defaults;
  defaults.body = "b";
  defaults.timeUnixNano = defaults.observedTimeUnixNano = "1704067200000000000";
  auto with = [&](auto change) {
    DiziZozLogRecord record = defaults;
    change(record);
    return record;
  };
  const Case cases[] = {
      {"no body", R"({"level": "warn"})", std::nullopt},
      {"body not text", R"({"body": 3})", std::nullopt},
      {"empty object", R"({})", std::nullopt},
      {"not an object", R"(["body"])", std::nullopt},
      {"only a body", R"({"body": "b"})", defaults},
      {"stored warning reads as info", R"({"body": "b", "level": "warning"})", defaults},
      {"level of another type", R"({"body": "b", "level": 3})", defaults},
      {"level by name", R"({"body": "b", "level": " Fatal"})",
       with([](auto& r) { r.level = DiziZozLogSeverity::fatal; })},
      {"no observed time", R"({"body": "b", "timeUnixNano": "7"})",
       with([](auto& r) { r.timeUnixNano = r.observedTimeUnixNano = "7"; })},
      {"times of another type", R"({"body": "b", "timeUnixNano": 7, "observedTimeUnixNano": 8})", defaults},
      {"attributes not an object", R"({"body": "b", "attributes": [1]})", defaults},
      {"flag keys with a number", R"({"body": "b", "featureFlagKeys": ["a", 1]})", defaults},
      {"optional texts of another type",
       R"({"body": "b", "traceId": 1, "spanId": {}, "distinctId": null, "sessionId": [], "screenName": 2,
           "appState": true})",
       defaults},
      {"trace flags as text", R"({"body": "b", "traceFlags": "1"})", defaults},
      {"trace flags beyond 64 bits", R"({"body": "b", "traceFlags": 18446744073709551615})", defaults},
      {"trace flags with a fraction", R"({"body": "b", "traceFlags": 3.9})",
       with([](auto& r) { r.traceFlags = 3; })},
      {"unknown keys", R"({"body": "b", "extra": 1})", defaults},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DiziZozLogRecord::fromStorageJSON(Value::parse(c.stored), clock), c.expected) << c.name;
  }
}

TEST(LogsConfigTest, DefaultsComeFromTheBundle) {
  const DiziZozLogsConfig none;
  EXPECT_EQ(none.serviceName, "com.dizizoz.unknown");
  EXPECT_EQ(none.serviceVersion, "");
  EXPECT_FALSE(none.environment);
  EXPECT_EQ(none.flushIntervalSeconds, 30.0);
  EXPECT_EQ(none.maxBufferSize, 1000);
  EXPECT_EQ(none.flushAt, 20);
  EXPECT_EQ(none.maxBatchSize, 50);
  EXPECT_EQ(none.rateCapMaxLogs, 500);
  EXPECT_EQ(none.rateCapWindowSeconds, 10.0);
  EXPECT_EQ(none.resourceAttributes, Properties::object());

  const DiziZozLogsConfig app(
      dizizoz::DiziZozBundleInfo{.identifier = "com.quorvelle.app", .shortVersion = "1.4"});
  EXPECT_EQ(app.serviceName, "com.quorvelle.app");
  EXPECT_EQ(app.serviceVersion, "1.4");
}

TEST(LogsConfigTest, TheBeforeSendChainRunsInOrderReplacesAndDrops) {
  DiziZozLogRecord record;
  record.body = "message";
  DiziZozLogsConfig config;
  EXPECT_EQ(config.runBeforeSend(record), record) << "no hooks: the record passes unchanged";

  std::vector<std::string> calls;
  auto tag = [&](std::string name) {
    return [&calls, name](DiziZozLogRecord r) -> std::optional<DiziZozLogRecord> {
      calls.push_back(name);
      r.body += " " + name;
      return r;
    };
  };
  config.setBeforeSend(tag("first"), tag("second"));
  EXPECT_EQ(config.runBeforeSend(record)->body, "message first second");

  config.setBeforeSend(std::vector<DiziZozLogsConfig::BeforeSendBlock>{tag("only")});
  calls.clear();
  EXPECT_EQ(config.runBeforeSend(record)->body, "message only") << "a new list replaces the old one";
  EXPECT_EQ(calls, std::vector<std::string>{"only"});

  calls.clear();
  config.setBeforeSend([](DiziZozLogRecord) -> std::optional<DiziZozLogRecord> { return std::nullopt; },
                       tag("never"));
  EXPECT_FALSE(config.runBeforeSend(record));
  EXPECT_TRUE(calls.empty()) << "hooks after one that dropped the record are not called";

  config.setBeforeSend([](DiziZozLogRecord r) -> std::optional<DiziZozLogRecord> {
    r.body = " \n\t ";
    return r;
  });
  EXPECT_FALSE(config.runBeforeSend(record)) << "a blanked body drops the record";

  calls.clear();
  config.setBeforeSend({std::make_shared<dizizoz::BoxedBeforeSendLogBlock>(tag("boxed one")),
                        std::make_shared<dizizoz::BoxedBeforeSendLogBlock>(tag("boxed two"))});
  EXPECT_EQ(config.runBeforeSend(record)->body, "message boxed one boxed two");
}

}  // namespace
