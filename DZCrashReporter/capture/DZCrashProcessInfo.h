#pragma once

// Facts about a process from the kernel's process table (/proc/<pid>/stat and status): its short
// name, parent, start time and whether a debugger traces it. Read when the reporter is enabled and by
// the error-tracking integration (a traced process keeps its handlers off). Not for the crash path.
// Plain value; any thread.

#include <sys/time.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace dzcrash {

class DZCrashProcessInfo {
 public:
  // This process; nothing when its entry cannot be read.
  static std::optional<DZCrashProcessInfo> currentProcessInfo();
  // Any process; nothing when it does not exist or its entry cannot be read.
  static std::optional<DZCrashProcessInfo> forProcess(pid_t pid);

  pid_t processID() const { return processID_; }
  // The longest valid UTF-8 prefix of the kernel's short name (at most 15 bytes); nothing when that
  // is empty.
  const std::optional<std::string>& processName() const { return processName_; }
  pid_t parentProcessID() const { return parentProcessID_; }
  // A tracer (a debugger) is attached.
  bool isTraced() const { return traced_; }
  // When the process started, in wall-clock time.
  timeval startTime() const { return startTime_; }

 private:
  DZCrashProcessInfo() = default;

  pid_t processID_ = 0;
  std::optional<std::string> processName_;
  pid_t parentProcessID_ = 0;
  bool traced_ = false;
  timeval startTime_{};
};

}  // namespace dzcrash
