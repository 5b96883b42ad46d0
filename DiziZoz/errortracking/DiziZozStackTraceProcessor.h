#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/errortracking/DiziZozStackFrame.h"

namespace dizizoz {

class DiziZozErrorTrackingConfig;

// Turns return addresses into frames and decides which frames are the application's own. Stateless and
// reentrant; any thread.
namespace DiziZozStackTraceProcessor {

// Module-name prefixes that are never the application's code.
extern const std::array<std::string_view, 43> systemPrefixes;

// One frame per address the loader can place (dladdr), in the given order; an address it cannot place
// gives no frame. Addresses are looked up as they are: this platform has no pointer-authentication bits
// to clear. The main program's frames name it by its real path (/proc/self/exe), not by argv[0]. With
// `stripTopDiziZozFrames`, leading frames of the "DiziZoz" module (or "DiziZoz.<suffix>") are dropped
// until the first frame of another module.
std::vector<DiziZozStackFrame> symbolicateAddresses(const std::vector<std::uint64_t>& addresses,
                                                    const DiziZozErrorTrackingConfig& config,
                                                    bool stripTopDiziZozFrames);

// First match wins: the options' includes (in-app), its excludes (not), the system prefixes (not), a
// system path (not), else the options' default.
bool isInApp(std::string_view module, const std::optional<std::string>& package,
             const DiziZozErrorTrackingConfig& config);

// True for the system's own library folders: paths beginning with "/System/", "/usr/lib/", "/lib/" or
// "/lib64/" (where the loader names libraries), or containing "/System/Library/" or "/usr/lib/".
bool isSystemPath(const std::optional<std::string>& path);

}  // namespace DiziZozStackTraceProcessor
}  // namespace dizizoz
