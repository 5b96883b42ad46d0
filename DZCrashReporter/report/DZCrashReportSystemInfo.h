#pragma once

// The host system of a crash report. Immutable value; any thread.

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "DZCrashReporter/report/DZCrashReportProcessorInfo.h"

namespace dzcrash {

class DZCrashReportSystemInfo {
 public:
  // `operatingSystem` and `architecture` are the report's enumeration values, kept as numbers so that
  // values this build does not name survive. `processorInfo` is the machine's processor, or the one the
  // architecture stands for when the report has no machine section.
  DZCrashReportSystemInfo(int operatingSystem, std::string operatingSystemVersion,
                          std::optional<std::string> operatingSystemBuild, int architecture,
                          DZCrashReportProcessorInfo processorInfo,
                          std::optional<std::chrono::sys_seconds> timestamp)
      : operatingSystem_(operatingSystem),
        operatingSystemVersion_(std::move(operatingSystemVersion)),
        operatingSystemBuild_(std::move(operatingSystemBuild)),
        architecture_(architecture),
        processorInfo_(processorInfo),
        timestamp_(timestamp) {}

  int operatingSystem() const { return operatingSystem_; }
  const std::string& operatingSystemVersion() const { return operatingSystemVersion_; }
  const std::optional<std::string>& operatingSystemBuild() const { return operatingSystemBuild_; }
  int architecture() const { return architecture_; }
  const DZCrashReportProcessorInfo& processorInfo() const { return processorInfo_; }
  // When the report was written; none when the writer could not read the clock.
  const std::optional<std::chrono::sys_seconds>& timestamp() const { return timestamp_; }

 private:
  int operatingSystem_;
  std::string operatingSystemVersion_;
  std::optional<std::string> operatingSystemBuild_;
  int architecture_;
  DZCrashReportProcessorInfo processorInfo_;
  std::optional<std::chrono::sys_seconds> timestamp_;
};

}  // namespace dzcrash
