#pragma once

// The crash reporter's diagnostics outside the crash path: one line "[DZCrashReporter] " + message,
// written to the system log (syslog, LOG_NOTICE) unless a sink is installed. Tests install a sink to read
// the lines; tools install one to keep them off the system log.
//
// Any thread. Not async-signal-safe: never call it from the crash path (it allocates and may lock).

#include <functional>
#include <string_view>

namespace dzcrash {

inline constexpr std::string_view DZCrashReporterLogPrefix = "[DZCrashReporter] ";

// Sends "[DZCrashReporter] " + message.
void DZCrashReporterLog(std::string_view message);

// Receives each line with its prefix and without a line feed.
using DZCrashReporterLogSink = std::function<void(std::string_view line)>;
// Installs `sink` (an empty function restores the system log) and returns the previous one. The sink is
// called with no lock held and must not call DZCrashReporterSetLogSink.
DZCrashReporterLogSink DZCrashReporterSetLogSink(DZCrashReporterLogSink sink);

}  // namespace dzcrash
