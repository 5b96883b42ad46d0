#include "DiziZoz/core/DiziZozLogsOTLP.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozLogsConfig.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/core/Versions.h"
#include "platform/JsonDepth.h"

namespace dizizoz {
namespace {

// The operating system's name in the resource attributes.
constexpr std::string_view osName = "Linux";

Value stringValue(std::string_view text) {
  return Value{{"stringValue", toValidUtf8(text)}};
}

Value doubleAnyValue(double value) {
  if (std::isnan(value)) return stringValue("NaN");
  if (std::isinf(value)) return stringValue(value > 0 ? "Infinity" : "-Infinity");
  return Value{{"doubleValue", value}};
}

// What a binary value stands for: an address or a date by their texts, anything else by its description.
Value taggedAnyValue(const Value& value) {
  if (auto url = value::urlString(value)) return stringValue(*url);
  if (auto date = value::dateValue(value)) return stringValue(toISO8601String(*date));
  const auto& bytes = value.get_binary();
  return stringValue(std::string(bytes.begin(), bytes.end()));
}

std::optional<Value> anyValueAt(const Value& value, std::size_t depth);

Value keyValueListAt(const Properties& dictionary, std::size_t depth) {
  Value list = Value::array();
  if (!dictionary.is_object()) return list;
  // nlohmann keeps object members in ascending byte order, which for UTF-8 keys is code-point order.
  for (const auto& [key, element] : dictionary.items()) {
    if (element.is_null()) continue;
    auto converted = anyValueAt(element, depth);
    if (!converted) continue;
    list.push_back(Value{{"key", toValidUtf8(key)}, {"value", std::move(*converted)}});
  }
  return list;
}

// `depth` is the nesting level of `value` (1 for an attribute's value).
std::optional<Value> anyValueAt(const Value& value, std::size_t depth) {
  switch (value.type()) {
    case Value::value_t::null:
    case Value::value_t::discarded:
      return std::nullopt;
    case Value::value_t::string:
      return stringValue(value.get_ref<const std::string&>());
    case Value::value_t::boolean:
      return Value{{"boolValue", value.get<bool>()}};
    case Value::value_t::number_float:
      return doubleAnyValue(value.get<double>());
    case Value::value_t::number_integer:
      return Value{{"intValue", std::to_string(value.get<std::int64_t>())}};
    case Value::value_t::number_unsigned: {
      // Beyond the signed range an intValue would be read as another number: keep the exact text.
      const auto number = value.get<std::uint64_t>();
      if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return stringValue(std::to_string(number));
      }
      return Value{{"intValue", std::to_string(number)}};
    }
    case Value::value_t::array: {
      if (depth > platform::maxJsonDepth) return std::nullopt;
      Value values = Value::array();
      for (const auto& element : value) {
        if (auto converted = anyValueAt(element, depth + 1)) values.push_back(std::move(*converted));
      }
      return Value{{"arrayValue", {{"values", std::move(values)}}}};
    }
    case Value::value_t::object:
      if (depth > platform::maxJsonDepth) return std::nullopt;
      return Value{{"kvlistValue", {{"values", keyValueListAt(value, depth + 1)}}}};
    case Value::value_t::binary:
      return taggedAnyValue(value);
  }
  return std::nullopt;
}

}  // namespace

int DiziZozLogsOTLP::severityNumber(DiziZozLogSeverity severity) {
  switch (severity) {
    case DiziZozLogSeverity::trace:
      return 1;
    case DiziZozLogSeverity::debug:
      return 5;
    case DiziZozLogSeverity::info:
      return 9;
    case DiziZozLogSeverity::warn:
      return 13;
    case DiziZozLogSeverity::error:
      return 17;
    case DiziZozLogSeverity::fatal:
      return 21;
  }
  return 9;
}

std::optional<Value> DiziZozLogsOTLP::toAnyValue(const Value& value) {
  return anyValueAt(value, 1);
}

Value DiziZozLogsOTLP::toKeyValueList(const Properties& dictionary) {
  return keyValueListAt(dictionary, 1);
}

Properties DiziZozLogsOTLP::buildLogRecord(const DiziZozLogRecord& record) {
  Properties merged = Properties::object();
  if (record.distinctId) merged["dizizozDistinctId"] = *record.distinctId;
  if (record.sessionId) merged["sessionId"] = *record.sessionId;
  if (record.screenName) merged["screen.name"] = *record.screenName;
  if (record.appState) merged["app.state"] = *record.appState;
  if (!record.featureFlagKeys.empty()) merged["feature_flags"] = record.featureFlagKeys;
  if (record.attributes.is_object()) {
    for (const auto& [key, value] : record.attributes.items()) merged[key] = value;
  }

  Properties json = Properties::object();
  json["timeUnixNano"] = toValidUtf8(record.timeUnixNano);
  json["observedTimeUnixNano"] = toValidUtf8(record.observedTimeUnixNano);
  json["severityNumber"] = severityNumber(record.level);
  json["severityText"] = logSeverityName(record.level);
  json["body"] = stringValue(record.body);
  if (!merged.empty()) json["attributes"] = toKeyValueList(merged);
  if (record.traceId) json["traceId"] = toValidUtf8(*record.traceId);
  if (record.spanId) json["spanId"] = toValidUtf8(*record.spanId);
  if (record.traceFlags) json["flags"] = static_cast<std::uint32_t>(*record.traceFlags);
  return json;
}

Properties DiziZozLogsOTLP::buildPayload(const std::vector<DiziZozLogRecord>& records,
                                         const Properties& resourceAttributes,
                                         const std::string& scopeVersion) {
  Value logRecords = Value::array();
  for (const auto& record : records) logRecords.push_back(buildLogRecord(record));
  Properties scopeLog{{"scope", {{"name", diziZoziOSSdkName}, {"version", toValidUtf8(scopeVersion)}}},
                      {"logRecords", std::move(logRecords)}};
  Properties resourceLog{{"resource", {{"attributes", toKeyValueList(resourceAttributes)}}},
                         {"scopeLogs", Value::array({std::move(scopeLog)})}};
  return Properties{{"resourceLogs", Value::array({std::move(resourceLog)})}};
}

Properties DiziZozLogsOTLP::buildResourceAttributes(const DiziZozLogsConfig& config) {
  Properties attributes =
      config.resourceAttributes.is_object() ? config.resourceAttributes : Properties::object();
  attributes["service.name"] = config.serviceName;
  if (!config.serviceVersion.empty()) attributes["service.version"] = config.serviceVersion;
  if (config.environment) attributes["deployment.environment"] = *config.environment;
  attributes["telemetry.sdk.name"] = diziZozSdkName;
  attributes["telemetry.sdk.version"] = diziZozVersion;
  attributes["os.name"] = osName;
  attributes["os.version"] = osVersionString();
  return attributes;
}

}  // namespace dizizoz
