#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/Value.h"

namespace dzcrash {
class DZCrashReport;
class DZCrashReportMachExceptionInfo;
class DZCrashReportSignalInfo;
}  // namespace dzcrash

namespace dizizoz {

class DiziZozErrorTrackingConfig;

// Turns the report a crashed run left behind into the properties of a fatal "$exception" event. Stateless
// apart from tables and two expressions built once; any thread.
namespace DiziZozCrashReportProcessor {

// {"$exception_level": "fatal"}, then "$exception_list" with the one entry the report describes (its
// uncaught exception, else its signal, else its Mach exception; nothing when it describes none of them:
// a signal with neither name nor code counts as none) and "$debug_images" of the
// named images its frames point into (when there are any). Frames are outermost first: the uncaught
// exception's own trace when it has one, else the crashed thread's (the first thread when none is
// marked). Never fails; missing parts of the report leave keys out.
Properties processReport(const dzcrash::DZCrashReport& report, const DiziZozErrorTrackingConfig& config);

// The failure kind ("Assertion failed", "Fatal error", "Precondition failed", in the message's own case)
// of a language runtime's fatal-error message, either "<kind>: [<text>: ]file <f>, line <n>" or
// "<f>.swift:<n>: <kind>: <text>". Nothing for any other message, and for messages too long to match
// safely (the expression engine recurses once per character).
std::optional<std::string> parseSwiftFatalErrorType(std::string_view message);

// "<name> (code <code>) at address 0x<16 hex digits>"; nothing without a name or a code.
std::optional<std::string> signalMessage(const dzcrash::DZCrashReportSignalInfo& signal);

// The exception type's name ("EXC_BAD_ACCESS"), or "EXC_UNKNOWN_<type>".
std::string machExceptionName(std::uint64_t type);
// "<name>", "<name>, Code <code>" or "<name>, Code <code>, Subcode 0x<16 hex digits>", where a code the
// type's table names reads "<NAME> (<code>)".
std::string machExceptionMessage(const dzcrash::DZCrashReportMachExceptionInfo& exception);

}  // namespace DiziZozCrashReportProcessor
}  // namespace dizizoz
