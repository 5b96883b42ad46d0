#pragma once

// One register of the crashed thread. Immutable value; any thread.

#include <cstdint>
#include <string>
#include <utility>

namespace dzcrash {

class DZCrashReportRegisterInfo {
 public:
  DZCrashReportRegisterInfo(std::string registerName, uint64_t registerValue)
      : registerName_(std::move(registerName)), registerValue_(registerValue) {}

  const std::string& registerName() const { return registerName_; }
  // 0 when the writer could not read it.
  uint64_t registerValue() const { return registerValue_; }

 private:
  std::string registerName_;
  uint64_t registerValue_;
};

}  // namespace dzcrash
