#include "DiziZoz/errortracking/DiziZozDebugUtils.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "DZCrashReporter/capture/DZCrashProcessInfo.h"
#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz::DiziZozDebugUtils {
namespace {

// What the failed process-table read returns, as the failure line reports it.
constexpr int failedReadResult = -1;

}  // namespace

bool isDebuggerAttached() {
  return isDebuggerAttached(getpid());
}

bool isDebuggerAttached(pid_t pid) {
  const auto info = dzcrash::DZCrashProcessInfo::forProcess(pid);
  if (!info) {
    hedgeLog("Failed to check for debugger. sysctl failed with error code: " +
             std::to_string(failedReadResult));
    return false;
  }
  return info->isTraced();
}

std::string executablePath() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

}  // namespace dizizoz::DiziZozDebugUtils
