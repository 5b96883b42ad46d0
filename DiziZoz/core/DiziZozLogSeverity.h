#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace dizizoz {

// The levels of a structured log record, least severe first; the raw values are 0 to 5.
enum class DiziZozLogSeverity { trace = 0, debug = 1, info = 2, warn = 3, error = 4, fatal = 5 };

// Every level in declaration order.
inline constexpr std::array<DiziZozLogSeverity, 6> allLogSeverities{
    DiziZozLogSeverity::trace, DiziZozLogSeverity::debug, DiziZozLogSeverity::info,
    DiziZozLogSeverity::warn,  DiziZozLogSeverity::error, DiziZozLogSeverity::fatal,
};

// The level's lower-case name: "trace" ... "fatal".
std::string_view logSeverityName(DiziZozLogSeverity severity);
// 0 to 5 give their level; anything else nothing.
std::optional<DiziZozLogSeverity> logSeverityFromRawValue(int rawValue);
// The level whose name equals `name` trimmed of white space and line breaks and lower-cased: " WARN "
// gives warn; "warning" and "" give nothing.
std::optional<DiziZozLogSeverity> logSeverityFromName(std::string_view name);

}  // namespace dizizoz
