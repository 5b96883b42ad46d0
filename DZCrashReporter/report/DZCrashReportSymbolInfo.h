#pragma once

// The symbol that holds a stack frame's address. Immutable value; any thread.

#include <cstdint>
#include <string>
#include <utility>

namespace dzcrash {

class DZCrashReportSymbolInfo {
 public:
  DZCrashReportSymbolInfo(std::string symbolName, uint64_t startAddress, uint64_t endAddress)
      : symbolName_(std::move(symbolName)), startAddress_(startAddress), endAddress_(endAddress) {}

  // As the image names it (with a leading underscore where the image has one).
  const std::string& symbolName() const { return symbolName_; }
  uint64_t startAddress() const { return startAddress_; }
  // 0 when the report does not say.
  uint64_t endAddress() const { return endAddress_; }

 private:
  std::string symbolName_;
  uint64_t startAddress_;
  uint64_t endAddress_;
};

}  // namespace dzcrash
