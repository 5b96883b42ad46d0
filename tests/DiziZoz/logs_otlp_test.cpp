#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/DiziZozLogsConfig.h"
#include "DiziZoz/core/DiziZozLogsOTLP.h"
#include "DiziZoz/core/Value.h"
#include "DiziZoz/core/Versions.h"

namespace {

using dizizoz::DiziZozLogRecord;
using dizizoz::DiziZozLogSeverity;
using dizizoz::DiziZozLogsOTLP;
using dizizoz::Properties;
using dizizoz::Value;

// The upload body for two records, written out as the OTLP/JSON encoding of the logs data model has it:
// lowerCamelCase field names, 64-bit integers ("timeUnixNano", "intValue") as decimal strings,
// "severityNumber" and "flags" as numbers, key-value lists sorted by key.
constexpr const char* goldenPayload = R"({
  "resourceLogs": [{
    "resource": {"attributes": [
      {"key": "deployment.environment", "value": {"stringValue": "staging"}},
      {"key": "service.name", "value": {"stringValue": "com.quorvelle.app"}}
    ]},
    "scopeLogs": [{
      "scope": {"name": "dizizoz-ios", "version": "3.69.5"},
      "logRecords": [
        {
          "timeUnixNano": "1704067200123456789",
          "observedTimeUnixNano": "1704067200123456789",
          "severityNumber": 17,
          "severityText": "error",
          "body": {"stringValue": "payment failed"},
          "attributes": [
            {"key": "app.state", "value": {"stringValue": "background"}},
            {"key": "dizizozDistinctId", "value": {"stringValue": "device-1"}},
            {"key": "feature_flags", "value": {"arrayValue": {"values": [
              {"stringValue": "a"}, {"stringValue": "c"}]}}},
            {"key": "order", "value": {"intValue": "42"}},
            {"key": "screen.name", "value": {"stringValue": "Checkout"}},
            {"key": "sessionId", "value": {"stringValue": "caller's session"}}
          ],
          "traceId": "4bf92f3577b34da6a3ce929d0e0e4736",
          "spanId": "00f067aa0ba902b7",
          "flags": 1
        },
        {
          "timeUnixNano": "5",
          "observedTimeUnixNano": "6",
          "severityNumber": 1,
          "severityText": "trace",
          "body": {"stringValue": "bare"}
        }
      ]
    }]
  }]
})";

TEST(LogsOTLPTest, PayloadMatchesTheGoldenBody) {
  DiziZozLogRecord full;
  full.body = "payment failed";
  full.level = DiziZozLogSeverity::error;
  // A caller's attribute wins over the built-in one of the same name.
  full.attributes = {{"order", 42}, {"sessionId", "caller's session"}, {"gone", nullptr}};
  full.traceId = "4bf92f3577b34da6a3ce929d0e0e4736";
  full.spanId = "00f067aa0ba902b7";
  full.traceFlags = 1;
  full.distinctId = "device-1";
  full.sessionId = "0190c2a4-0000-7000-8000-000000000001";
  full.screenName = "Checkout";
  full.appState = "background";
  full.featureFlagKeys = {"a", "c"};
  full.timeUnixNano = full.observedTimeUnixNano = "1704067200123456789";

  DiziZozLogRecord bare;
  bare.body = "bare";
  bare.level = DiziZozLogSeverity::trace;
  bare.timeUnixNano = "5";
  bare.observedTimeUnixNano = "6";

  const Properties resource{{"service.name", "com.quorvelle.app"}, {"deployment.environment", "staging"}};
  const Value payload = DiziZozLogsOTLP::buildPayload({full, bare}, resource, "3.69.5");
  EXPECT_EQ(payload, Value::parse(goldenPayload));
  // Sorted by key in the text that is sent, too.
  const std::string text = payload.dump();
  EXPECT_LT(text.find("app.state"), text.find("dizizozDistinctId"));
}

TEST(LogsOTLPTest, NoRecordsStillGiveOneResourceAndOneScope) {
  const Value payload = DiziZozLogsOTLP::buildPayload({}, Properties::object(), "1.0");
  EXPECT_EQ(payload, Value::parse(R"({"resourceLogs": [{"resource": {"attributes": []},
      "scopeLogs": [{"scope": {"name": "dizizoz-ios", "version": "1.0"}, "logRecords": []}]}]})"));
}

TEST(LogsOTLPTest, SeverityNumbersAreTheFirstOfEachRange) {
  const std::pair<DiziZozLogSeverity, int> table[] = {
      {DiziZozLogSeverity::trace, 1}, {DiziZozLogSeverity::debug, 5},  {DiziZozLogSeverity::info, 9},
      {DiziZozLogSeverity::warn, 13}, {DiziZozLogSeverity::error, 17}, {DiziZozLogSeverity::fatal, 21},
  };
  for (const auto& [severity, number] : table) {
    DiziZozLogRecord record;
    record.level = severity;
    const Value built = DiziZozLogsOTLP::buildLogRecord(record);
    EXPECT_EQ(built["severityNumber"], number);
    EXPECT_EQ(built["severityText"], dizizoz::logSeverityName(severity));
  }
}

TEST(LogsOTLPTest, AnyValueOfEachKind) {
  struct Case {
    const char* name;
    Value value;
    std::optional<Value> expected;
  };
  const Case cases[] = {
      {"null", nullptr, std::nullopt},
      {"text", "hi", Value::parse(R"({"stringValue": "hi"})")},
      {"text that is not UTF-8", "a\xFF", Value{{"stringValue", "a\xEF\xBF\xBD"}}},
      {"true", true, Value::parse(R"({"boolValue": true})")},
      {"integer", 3, Value::parse(R"({"intValue": "3"})")},
      {"negative integer", -9223372036854775807LL - 1,
       Value::parse(R"({"intValue": "-9223372036854775808"})")},
      {"unsigned beyond the signed range", std::numeric_limits<std::uint64_t>::max(),
       Value::parse(R"({"stringValue": "18446744073709551615"})")},
      {"double", 3.5, Value::parse(R"({"doubleValue": 3.5})")},
      {"whole double", 2.0, Value::parse(R"({"doubleValue": 2.0})")},
      {"NaN", std::nan(""), Value::parse(R"({"stringValue": "NaN"})")},
      {"infinity", std::numeric_limits<double>::infinity(), Value::parse(R"({"stringValue": "Infinity"})")},
      {"minus infinity", -std::numeric_limits<double>::infinity(),
       Value::parse(R"({"stringValue": "-Infinity"})")},
      {"array with a null", Value::array({nullptr, "x"}),
       Value::parse(R"({"arrayValue": {"values": [{"stringValue": "x"}]}})")},
      {"nested object", Value{{"z", 1}, {"a", {{"y", false}, {"b", nullptr}}}},
       Value::parse(R"({"kvlistValue": {"values": [
          {"key": "a", "value": {"kvlistValue": {"values": [{"key": "y", "value": {"boolValue": false}}]}}},
          {"key": "z", "value": {"intValue": "1"}}]}})")},
      {"address", dizizoz::value::url("https://example.com/a?b=1"),
       Value::parse(R"({"stringValue": "https://example.com/a?b=1"})")},
      {"date", dizizoz::value::date(dizizoz::Date(std::chrono::milliseconds(1704067200123))),
       Value::parse(R"({"stringValue": "2024-01-01T00:00:00.123Z"})")},
      {"something else", dizizoz::value::opaque("a window"), Value::parse(R"({"stringValue": "a window"})")},
  };
  for (const auto& c : cases) EXPECT_EQ(DiziZozLogsOTLP::toAnyValue(c.value), c.expected) << c.name;

  // Attribute values true, 3, 3.5, +infinity and null as one list: the null leaves no entry.
  const Properties attributes{
      {"a", true}, {"b", 3}, {"c", 3.5}, {"d", std::numeric_limits<double>::infinity()}, {"e", nullptr}};
  EXPECT_EQ(DiziZozLogsOTLP::toKeyValueList(attributes), Value::parse(R"([
      {"key": "a", "value": {"boolValue": true}}, {"key": "b", "value": {"intValue": "3"}},
      {"key": "c", "value": {"doubleValue": 3.5}}, {"key": "d", "value": {"stringValue": "Infinity"}}])"));
  EXPECT_EQ(DiziZozLogsOTLP::toKeyValueList(Value::array({1})), Value::array());
}

TEST(LogsOTLPTest, TraceFlagsAreAnUnsigned32BitNumber) {
  DiziZozLogRecord record;
  record.traceFlags = -1;
  EXPECT_EQ(DiziZozLogsOTLP::buildLogRecord(record)["flags"], 4294967295u);
  EXPECT_FALSE(DiziZozLogsOTLP::buildLogRecord(DiziZozLogRecord{}).contains("flags"));
}

TEST(LogsOTLPTest, ResourceAttributesPutTheServiceOverTheCallersOwn) {
  dizizoz::DiziZozLogsConfig config(dizizoz::DiziZozBundleInfo{.identifier = "com.quorvelle.app"});
  config.resourceAttributes = {{"team", "core"}, {"service.name", "mine"}, {"os.name", "mine"}};
  const Properties built = DiziZozLogsOTLP::buildResourceAttributes(config);
  EXPECT_EQ(built, (Properties{{"team", "core"},
                               {"service.name", "com.quorvelle.app"},
                               {"telemetry.sdk.name", dizizoz::diziZozSdkName},
                               {"telemetry.sdk.version", dizizoz::diziZozVersion},
                               {"os.name", "Linux"},
                               {"os.version", dizizoz::osVersionString()}}))
      << "no version or environment: left out";

  config.serviceVersion = "1.4";
  config.environment = "staging";
  const Properties withBoth = DiziZozLogsOTLP::buildResourceAttributes(config);
  EXPECT_EQ(withBoth["service.version"], "1.4");
  EXPECT_EQ(withBoth["deployment.environment"], "staging");
}

}  // namespace
