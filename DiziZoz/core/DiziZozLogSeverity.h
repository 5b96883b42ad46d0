#pragma once

namespace dizizoz {

// The levels of a structured log record, least severe first.
enum class DiziZozLogSeverity { trace, debug, info, warn, error, fatal };

}  // namespace dizizoz
