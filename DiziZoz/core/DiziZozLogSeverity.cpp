#include "DiziZoz/core/DiziZozLogSeverity.h"

#include <string>

#include "DiziZoz/core/DiziZozConfig.h"

namespace dizizoz {
namespace {

constexpr std::array<std::string_view, allLogSeverities.size()> names{"trace", "debug", "info",
                                                                      "warn",  "error", "fatal"};

}  // namespace

std::string_view logSeverityName(DiziZozLogSeverity severity) {
  return names[static_cast<std::size_t>(severity)];
}

std::optional<DiziZozLogSeverity> logSeverityFromRawValue(int rawValue) {
  if (rawValue < 0 || rawValue >= static_cast<int>(allLogSeverities.size())) return std::nullopt;
  return static_cast<DiziZozLogSeverity>(rawValue);
}

std::optional<DiziZozLogSeverity> logSeverityFromName(std::string_view name) {
  std::string folded = trimmedWhitespace(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (DiziZozLogSeverity severity : allLogSeverities) {
    if (logSeverityName(severity) == folded) return severity;
  }
  return std::nullopt;
}

}  // namespace dizizoz
