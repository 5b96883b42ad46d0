#include "DiziZoz/core/DiziZozEvent.h"

#include <array>
#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

constexpr std::array<std::string_view, 10> unsafeEditableEventNames{
    "$snapshot",    "$screen",   "$set",           "survey dismissed", "survey sent",
    "survey shown", "$identify", "$groupidentify", "$create_alias",    "$feature_flag_called",
};

const std::string* textMember(const Value& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return nullptr;
  return it->get_ptr<const std::string*>();
}

}  // namespace

DiziZozEvent::DiziZozEvent(std::string event, std::string distinctId, Properties properties, Date timestamp,
                           Uuid uuid, std::optional<std::string> apiKey)
    : event(std::move(event)),
      distinctId(std::move(distinctId)),
      properties(properties.is_object() ? std::move(properties) : Properties::object()),
      timestamp(timestamp),
      uuid(uuid),
      apiKey(std::move(apiKey)) {}

Properties DiziZozEvent::toJSON() const {
  Properties json = Properties::object();
  json["event"] = event;
  json["distinct_id"] = distinctId;
  json["properties"] = properties;
  json["timestamp"] = toISO8601String(timestamp);
  json["uuid"] = uuid.toString();
  if (apiKey) json["api_key"] = *apiKey;
  return json;
}

std::optional<DiziZozEvent> DiziZozEvent::fromJSON(const Value& json) {
  return fromJSON(json, platform::SystemClock::shared(), TimeBasedEpochGenerator::shared());
}

std::optional<DiziZozEvent> DiziZozEvent::fromJSON(const Value& json, const platform::Clock& clock,
                                                   TimeBasedEpochGenerator& ids) {
  if (!json.is_object()) return std::nullopt;
  const std::string* name = textMember(json, "event");
  if (!name) return std::nullopt;

  Date timestamp = clock.now();
  if (const std::string* text = textMember(json, "timestamp")) {
    if (auto parsed = toISO8601Date(*text)) timestamp = *parsed;
  }

  Properties properties = Properties::object();
  if (auto it = json.find("properties"); it != json.end() && it->is_object()) properties = *it;
  // Older records kept person properties at the top level.
  if (auto it = json.find("$set"); it != json.end() && it->is_object()) properties["$set"] = *it;

  std::string distinctId;
  if (const std::string* text = textMember(json, "distinct_id")) {
    distinctId = *text;
  } else if (const std::string* fromProperties = textMember(properties, "distinct_id")) {
    distinctId = *fromProperties;
  } else {
    return std::nullopt;
  }

  std::optional<Uuid> uuid;
  if (const std::string* text = textMember(json, "uuid")) {
    uuid = Uuid::fromString(*text);
  } else if (const std::string* legacy = textMember(json, "message_id")) {
    uuid = Uuid::fromString(*legacy);
  }
  if (!uuid) uuid = ids.v7();

  std::optional<std::string> apiKey;
  if (const std::string* text = textMember(json, "api_key")) apiKey = *text;

  return DiziZozEvent(*name, std::move(distinctId), std::move(properties), timestamp, *uuid,
                      std::move(apiKey));
}

std::string_view rawValue(DiziZozKnownUnsafeEditableEvent event) {
  return unsafeEditableEventNames[static_cast<std::size_t>(event)];
}

std::optional<DiziZozKnownUnsafeEditableEvent> knownUnsafeEditableEvent(std::string_view name) {
  for (std::size_t i = 0; i < unsafeEditableEventNames.size(); ++i) {
    if (unsafeEditableEventNames[i] == name) return static_cast<DiziZozKnownUnsafeEditableEvent>(i);
  }
  return std::nullopt;
}

}  // namespace dizizoz
