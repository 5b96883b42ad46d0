#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozLogSeverity.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

// One structured log record on its way to the logs queue. A plain value like DiziZozEvent: log capture
// fills it on the calling thread and hands it on; it has no lock of its own.
struct DiziZozLogRecord {
  std::string body{};
  DiziZozLogSeverity level = DiziZozLogSeverity::info;
  Properties attributes = Properties::object();
  std::optional<std::string> traceId{};
  std::optional<std::string> spanId{};
  std::optional<std::int64_t> traceFlags{};
  std::optional<std::string> distinctId{};
  std::optional<std::string> sessionId{};
  std::optional<std::string> screenName{};
  std::optional<std::string> appState{};  // "foreground" or "background"
  std::vector<std::string> featureFlagKeys{};
  std::string timeUnixNano{};          // nanoseconds since 1970, in decimal
  std::string observedTimeUnixNano{};  // likewise

  bool operator==(const DiziZozLogRecord&) const = default;
};

}  // namespace dizizoz
