#pragma once

#include "platform/ReachabilitySource.h"

namespace platform {

// The program's reachability source: NetworkManager on the system bus when it owns its name there (it
// knows about captive portals and limited connectivity), else the kernel's routing table. Call it on the
// main thread, after the QCoreApplication exists.
OpenedReachabilitySource openSystemReachabilitySource();

}  // namespace platform
