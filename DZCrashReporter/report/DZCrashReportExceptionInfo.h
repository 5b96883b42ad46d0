#pragma once

// The uncaught language exception that ended the process, when there was one. Immutable value; any
// thread.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DZCrashReporter/report/DZCrashReportStackFrameInfo.h"

namespace dzcrash {

class DZCrashReportExceptionInfo {
 public:
  DZCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason,
                             std::optional<std::vector<DZCrashReportStackFrameInfo>> stackFrames)
      : exceptionName_(std::move(exceptionName)),
        exceptionReason_(std::move(exceptionReason)),
        stackFrames_(std::move(stackFrames)) {}

  const std::string& exceptionName() const { return exceptionName_; }
  // "" when the exception had none.
  const std::string& exceptionReason() const { return exceptionReason_; }
  // The exception's own call stack; none (never an empty list) when it carried no frames.
  const std::optional<std::vector<DZCrashReportStackFrameInfo>>& stackFrames() const { return stackFrames_; }

 private:
  std::string exceptionName_;
  std::string exceptionReason_;
  std::optional<std::vector<DZCrashReportStackFrameInfo>> stackFrames_;
};

}  // namespace dzcrash
