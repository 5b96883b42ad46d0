#include "DiziZoz/core/DiziZozLogRecord.h"

#include <cmath>
#include <limits>
#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/JsonUtils.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

const std::string* textMember(const Value& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return nullptr;
  return it->get_ptr<const std::string*>();
}

std::optional<std::string> optionalText(const Value& object, const char* key) {
  if (const std::string* text = textMember(object, key)) return *text;
  return std::nullopt;
}

void setIfPresent(Properties& json, const char* key, const std::optional<std::string>& text) {
  if (text) json[key] = toValidUtf8(*text);
}

// A stored number as an integer; a fraction is cut off, and a number out of range reads as absent.
std::optional<std::int64_t> integerMember(const Value& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if (it->is_number_unsigned()) {
    const auto value = it->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(value);
  }
  if (it->is_number_integer()) return it->get<std::int64_t>();
  if (it->is_number_float()) {
    const double value = std::trunc(it->get<double>());
    if (!std::isfinite(value) || value < -9223372036854775808.0 || value >= 9223372036854775808.0) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
  }
  return std::nullopt;
}

std::vector<std::string> textArrayMember(const Value& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return {};
  std::vector<std::string> texts;
  for (const auto& element : *it) {
    // A list with anything but text in it is not a list of flag keys.
    if (!element.is_string()) return {};
    texts.push_back(element.get<std::string>());
  }
  return texts;
}

}  // namespace

Properties DiziZozLogRecord::toStorageJSON() const {
  Properties json = Properties::object();
  json["body"] = toValidUtf8(body);
  json["level"] = logSeverityName(level);
  json["timeUnixNano"] = toValidUtf8(timeUnixNano);
  json["observedTimeUnixNano"] = toValidUtf8(observedTimeUnixNano);
  Value keys = Value::array();
  for (const auto& key : featureFlagKeys) keys.push_back(toValidUtf8(key));
  json["featureFlagKeys"] = std::move(keys);
  if (attributes.is_object() && !attributes.empty()) {
    json["attributes"] = sanitizeDictionary(attributes).value_or(Properties::object());
  }
  setIfPresent(json, "traceId", traceId);
  setIfPresent(json, "spanId", spanId);
  if (traceFlags) json["traceFlags"] = *traceFlags;
  setIfPresent(json, "distinctId", distinctId);
  setIfPresent(json, "sessionId", sessionId);
  setIfPresent(json, "screenName", screenName);
  setIfPresent(json, "appState", appState);
  return json;
}

std::optional<DiziZozLogRecord> DiziZozLogRecord::fromStorageJSON(const Value& json) {
  return fromStorageJSON(json, platform::SystemClock::shared());
}

std::optional<DiziZozLogRecord> DiziZozLogRecord::fromStorageJSON(const Value& json,
                                                                  const platform::Clock& clock) {
  if (!json.is_object()) return std::nullopt;
  const std::string* body = textMember(json, "body");
  if (!body) return std::nullopt;

  DiziZozLogRecord record;
  record.body = *body;
  if (const std::string* name = textMember(json, "level")) {
    record.level = logSeverityFromName(*name).value_or(DiziZozLogSeverity::info);
  }
  if (auto it = json.find("attributes"); it != json.end() && it->is_object()) record.attributes = *it;
  const std::string* time = textMember(json, "timeUnixNano");
  record.timeUnixNano = time ? *time : nanosNow(clock);
  const std::string* observed = textMember(json, "observedTimeUnixNano");
  record.observedTimeUnixNano = observed ? *observed : record.timeUnixNano;
  record.featureFlagKeys = textArrayMember(json, "featureFlagKeys");
  record.traceId = optionalText(json, "traceId");
  record.spanId = optionalText(json, "spanId");
  record.traceFlags = integerMember(json, "traceFlags");
  record.distinctId = optionalText(json, "distinctId");
  record.sessionId = optionalText(json, "sessionId");
  record.screenName = optionalText(json, "screenName");
  record.appState = optionalText(json, "appState");
  return record;
}

}  // namespace dizizoz
