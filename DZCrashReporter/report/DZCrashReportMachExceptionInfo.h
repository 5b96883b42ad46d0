#pragma once

// The Mach exception behind a crash report's signal. Immutable value; any thread.

#include <cstdint>
#include <utility>
#include <vector>

namespace dzcrash {

// A report carrying more codes than this is not decoded.
inline constexpr size_t DZCrashReportMachExceptionCodesMax = 255;

class DZCrashReportMachExceptionInfo {
 public:
  DZCrashReportMachExceptionInfo(uint64_t type, std::vector<uint64_t> codes)
      : type_(type), codes_(std::move(codes)) {}

  uint64_t type() const { return type_; }
  // In the order the report stores them.
  const std::vector<uint64_t>& codes() const { return codes_; }

 private:
  uint64_t type_;
  std::vector<uint64_t> codes_;
};

}  // namespace dzcrash
