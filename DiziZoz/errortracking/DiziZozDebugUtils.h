#pragma once

#include <sys/types.h>

#include <string>

namespace dizizoz {

// Facts about this process that error tracking needs. Stateless; any thread.
namespace DiziZozDebugUtils {

// Whether a debugger (any tracer) is attached to this process: its TracerPid in /proc/self/status is
// not 0. When the process table cannot be read, logs "Failed to check for debugger. sysctl failed with
// error code: -1" and answers false.
bool isDebuggerAttached();
// The same question about another process (the check above asks it of getpid()).
bool isDebuggerAttached(pid_t pid);

// The main program's real path (the target of /proc/self/exe); empty when it cannot be read.
std::string executablePath();

}  // namespace DiziZozDebugUtils
}  // namespace dizizoz
