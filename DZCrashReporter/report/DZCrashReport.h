#pragma once

// A decoded crash report: the file a crashed run left behind (an 8-byte "dzcrash" header and one
// dzcrash.CrashReport message, see DZCrashReportFormat.h) turned into immutable values, one type per
// section. Decoding copies everything out of the protobuf-c message and frees it, so a report owns
// only plain values.
//
// Not for the crash path (it allocates). A report may be decoded on any thread and read from any
// thread afterwards; it never changes.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "DZCrashReporter/DZCrashReporterError.h"
#include "DZCrashReporter/report/DZCrashReportApplicationInfo.h"
#include "DZCrashReporter/report/DZCrashReportBinaryImageInfo.h"
#include "DZCrashReporter/report/DZCrashReportExceptionInfo.h"
#include "DZCrashReporter/report/DZCrashReportMachExceptionInfo.h"
#include "DZCrashReporter/report/DZCrashReportMachineInfo.h"
#include "DZCrashReporter/report/DZCrashReportProcessInfo.h"
#include "DZCrashReporter/report/DZCrashReportSignalInfo.h"
#include "DZCrashReporter/report/DZCrashReportSystemInfo.h"
#include "DZCrashReporter/report/DZCrashReportThreadInfo.h"

namespace dzcrash {

class DZCrashReport {
 public:
  // Decodes a report file's bytes. Every rejection is an error of code invalidCrashReport whose
  // description says what was wrong; nothing is logged.
  static DZCrashReporterResult<DZCrashReport> fromData(std::span<const uint8_t> data);

  const DZCrashReportSystemInfo& systemInfo() const { return systemInfo_; }
  bool hasMachineInfo() const { return machineInfo_.has_value(); }
  const std::optional<DZCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
  const DZCrashReportApplicationInfo& applicationInfo() const { return applicationInfo_; }
  bool hasProcessInfo() const { return processInfo_.has_value(); }
  const std::optional<DZCrashReportProcessInfo>& processInfo() const { return processInfo_; }
  const DZCrashReportSignalInfo& signalInfo() const { return signalInfo_; }
  const std::optional<DZCrashReportMachExceptionInfo>& machExceptionInfo() const {
    return machExceptionInfo_;
  }
  // At least one.
  const std::vector<DZCrashReportThreadInfo>& threads() const { return threads_; }
  // At least one, in the order the writer recorded them.
  const std::vector<DZCrashReportBinaryImageInfo>& images() const { return images_; }
  bool hasExceptionInfo() const { return exceptionInfo_.has_value(); }
  const std::optional<DZCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
  // The application's custom data at crash time, when it had set some.
  const std::optional<std::vector<uint8_t>>& customData() const { return customData_; }
  // The 16 bytes that identify the report, when the writer gave it an identity.
  const std::optional<std::array<uint8_t, 16>>& uuidRef() const { return uuidRef_; }

  // The first image, in images() order, with base <= address < base + size; null when none. The
  // pointer lives as long as this report.
  const DZCrashReportBinaryImageInfo* imageForAddress(uint64_t address) const;

 private:
  DZCrashReport(DZCrashReportSystemInfo systemInfo, std::optional<DZCrashReportMachineInfo> machineInfo,
                DZCrashReportApplicationInfo applicationInfo,
                std::optional<DZCrashReportProcessInfo> processInfo, DZCrashReportSignalInfo signalInfo,
                std::optional<DZCrashReportMachExceptionInfo> machExceptionInfo,
                std::vector<DZCrashReportThreadInfo> threads,
                std::vector<DZCrashReportBinaryImageInfo> images,
                std::optional<DZCrashReportExceptionInfo> exceptionInfo,
                std::optional<std::vector<uint8_t>> customData,
                std::optional<std::array<uint8_t, 16>> uuidRef);

  DZCrashReportSystemInfo systemInfo_;
  std::optional<DZCrashReportMachineInfo> machineInfo_;
  DZCrashReportApplicationInfo applicationInfo_;
  std::optional<DZCrashReportProcessInfo> processInfo_;
  DZCrashReportSignalInfo signalInfo_;
  std::optional<DZCrashReportMachExceptionInfo> machExceptionInfo_;
  std::vector<DZCrashReportThreadInfo> threads_;
  std::vector<DZCrashReportBinaryImageInfo> images_;
  std::optional<DZCrashReportExceptionInfo> exceptionInfo_;
  std::optional<std::vector<uint8_t>> customData_;
  std::optional<std::array<uint8_t, 16>> uuidRef_;
};

}  // namespace dzcrash
