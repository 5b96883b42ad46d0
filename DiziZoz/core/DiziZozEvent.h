#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/Uuid.h"
#include "DiziZoz/core/Value.h"

namespace platform {
class Clock;
}

namespace dizizoz {

class TimeBasedEpochGenerator;

// One analytics event. A plain value: the capture path builds it on the capturing thread and hands it
// on (before-send hooks, the queue, the captured-event subscribers); it has no lock of its own.
struct DiziZozEvent {
  std::string event;                  // the event name
  std::string distinctId;             // the person the event belongs to
  Properties properties;              // already built and sanitised; always an object
  Date timestamp;                     // when it happened
  Uuid uuid;                          // a version 7 UUID for new events
  std::optional<std::string> apiKey;  // the project key carried by a stored record; empty for new events

  DiziZozEvent(std::string event, std::string distinctId, Properties properties, Date timestamp, Uuid uuid,
               std::optional<std::string> apiKey = std::nullopt);

  // The stored and sent JSON object: "event", "distinct_id", "properties", "timestamp" (UTC with
  // milliseconds), "uuid" (lower case) and "api_key" only when set. Person properties travel inside
  // "properties"; no top-level "$set" or "message_id" is ever written.
  Properties toJSON() const;

  // Rebuilds an event from a stored object, also reading older forms: "message_id" for the id, a
  // timestamp without milliseconds, and a top-level "$set" (moved into the properties). Nothing when
  // "event" is not text or no distinct id is found; a missing or malformed time becomes the current time
  // and a missing or malformed id a fresh version 7 id.
  static std::optional<DiziZozEvent> fromJSON(const Value& json);
  static std::optional<DiziZozEvent> fromJSON(const Value& json, const platform::Clock& clock,
                                              TimeBasedEpochGenerator& ids);

  bool operator==(const DiziZozEvent&) const = default;
};

// Events the client itself produces and relies on; a before-send hook that drops one of them is warned.
enum class DiziZozKnownUnsafeEditableEvent {
  snapshot,
  screen,
  set,
  surveyDismissed,
  surveySent,
  surveyShown,
  identify,
  groupIdentify,
  createAlias,
  featureFlagCalled,
};

std::string_view rawValue(DiziZozKnownUnsafeEditableEvent event);
// Whole, case-sensitive comparison with the event names; nothing for any other text.
std::optional<DiziZozKnownUnsafeEditableEvent> knownUnsafeEditableEvent(std::string_view name);

}  // namespace dizizoz
