#pragma once

#include <functional>
#include <string_view>

namespace platform {

enum class LogLevel { debug, info, warning, error };

// Process-wide diagnostics. Lines go to stderr unless a sink is installed (tests capture lines with one).
// Thread-safe; the sink is called under no lock of the caller's and must not log recursively.
void log(LogLevel level, std::string_view message);

using LogSink = std::function<void(LogLevel, std::string_view)>;
// Installs `sink` (an empty function restores stderr) and returns the previous one.
LogSink setLogSink(LogSink sink);

}  // namespace platform
