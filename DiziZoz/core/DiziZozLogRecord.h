#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozLogSeverity.h"
#include "DiziZoz/core/Value.h"

namespace platform {
class Clock;
}

namespace dizizoz {

// One structured log record on its way to the logs queue. A plain value like DiziZozEvent: log capture
// fills it on the calling thread, the logs before-send hooks may change it, and the logs queue keeps it
// on disk in its storage form; it has no lock of its own.
struct DiziZozLogRecord {
  std::string body{};  // kept as the caller gave it, surrounding white space included
  DiziZozLogSeverity level = DiziZozLogSeverity::info;
  Properties attributes = Properties::object();
  std::optional<std::string> traceId{};  // passed through untouched
  std::optional<std::string> spanId{};   // likewise
  std::optional<std::int64_t> traceFlags{};
  std::optional<std::string> distinctId{};
  std::optional<std::string> sessionId{};
  std::optional<std::string> screenName{};
  std::optional<std::string> appState{};  // "foreground" or "background"
  std::vector<std::string> featureFlagKeys{};
  std::string timeUnixNano{};          // nanoseconds since 1970, in decimal
  std::string observedTimeUnixNano{};  // likewise

  // The stored form: "body", "level" (its name), "timeUnixNano", "observedTimeUnixNano" and
  // "featureFlagKeys" always; "attributes" (sanitised: addresses and dates as text, values JSON cannot
  // hold dropped) only when there are attributes; each optional field only when set. Text that is not
  // UTF-8 is stored with U+FFFD in place of the broken bytes, so the object can always be written.
  Properties toStorageJSON() const;

  // A record from its stored form; nothing unless `json` is an object with a text "body". Every other
  // field of a missing or wrong type takes its default: level info (also for an unknown name), empty
  // attributes and flag keys, absent optional fields, "timeUnixNano" the current time (of `clock`) and
  // "observedTimeUnixNano" the time read or made. Other keys are ignored.
  static std::optional<DiziZozLogRecord> fromStorageJSON(const Value& json);
  static std::optional<DiziZozLogRecord> fromStorageJSON(const Value& json, const platform::Clock& clock);

  bool operator==(const DiziZozLogRecord&) const = default;
};

}  // namespace dizizoz
