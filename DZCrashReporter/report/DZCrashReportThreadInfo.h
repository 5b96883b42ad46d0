#pragma once

// One thread of the crashed process. Immutable value; any thread.

#include <cstdint>
#include <utility>
#include <vector>

#include "DZCrashReporter/report/DZCrashReportRegisterInfo.h"
#include "DZCrashReporter/report/DZCrashReportStackFrameInfo.h"

namespace dzcrash {

class DZCrashReportThreadInfo {
 public:
  DZCrashReportThreadInfo(int64_t threadNumber, std::vector<DZCrashReportStackFrameInfo> stackFrames,
                          bool crashed, std::vector<DZCrashReportRegisterInfo> registers)
      : threadNumber_(threadNumber),
        stackFrames_(std::move(stackFrames)),
        crashed_(crashed),
        registers_(std::move(registers)) {}

  // Position among the threads the writer recorded, from 0.
  int64_t threadNumber() const { return threadNumber_; }
  // Innermost first; may be empty.
  const std::vector<DZCrashReportStackFrameInfo>& stackFrames() const { return stackFrames_; }
  bool crashed() const { return crashed_; }
  // Only the crashed thread has registers; may be empty.
  const std::vector<DZCrashReportRegisterInfo>& registers() const { return registers_; }

 private:
  int64_t threadNumber_;
  std::vector<DZCrashReportStackFrameInfo> stackFrames_;
  bool crashed_;
  std::vector<DZCrashReportRegisterInfo> registers_;
};

}  // namespace dzcrash
