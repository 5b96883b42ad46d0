#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace dizizoz {

// The analytics client's diagnostics. Every line starts with "[DiziZoz] " and is printed only while debug
// logging is on; the client never reports a failure to its caller in any other way.
//
// All functions may be called from any thread. The switch is an atomic flag read without a lock.

inline constexpr std::string_view hedgeLogPrefix = "[DiziZoz] ";

bool hedgeLogEnabled();
void setHedgeLogEnabled(bool enabled);

// Prints "[DiziZoz] " + message + line feed when debug logging is on. A message that already begins with
// the prefix (the client's fixed refusal lines carry it in their text) is printed as it is.
void hedgeLog(std::string_view message);

// Receives each finished line without its line feed. The default sink writes to standard output.
using HedgeLogSink = std::function<void(std::string_view line)>;
// Installs `sink` (an empty function restores standard output) and returns the previous one. The sink is
// called with no lock held and must not call setHedgeLogSink.
HedgeLogSink setHedgeLogSink(HedgeLogSink sink);

}  // namespace dizizoz
