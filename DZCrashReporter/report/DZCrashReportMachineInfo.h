#pragma once

// The hardware a crash report was written on. Immutable value; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "DZCrashReporter/report/DZCrashReportProcessorInfo.h"

namespace dzcrash {

class DZCrashReportMachineInfo {
 public:
  DZCrashReportMachineInfo(std::optional<std::string> modelName, DZCrashReportProcessorInfo processorInfo,
                           uint64_t processorCount, uint64_t logicalProcessorCount)
      : modelName_(std::move(modelName)),
        processorInfo_(processorInfo),
        processorCount_(processorCount),
        logicalProcessorCount_(logicalProcessorCount) {}

  const std::optional<std::string>& modelName() const { return modelName_; }
  const DZCrashReportProcessorInfo& processorInfo() const { return processorInfo_; }
  uint64_t processorCount() const { return processorCount_; }
  uint64_t logicalProcessorCount() const { return logicalProcessorCount_; }

 private:
  std::optional<std::string> modelName_;
  DZCrashReportProcessorInfo processorInfo_;
  uint64_t processorCount_;
  uint64_t logicalProcessorCount_;
};

}  // namespace dzcrash
