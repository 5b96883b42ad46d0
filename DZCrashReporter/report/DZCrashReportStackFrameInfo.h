#pragma once

// One stack frame of a thread or an exception. Immutable value; any thread.

#include <cstdint>
#include <optional>
#include <utility>

#include "DZCrashReporter/report/DZCrashReportSymbolInfo.h"

namespace dzcrash {

class DZCrashReportStackFrameInfo {
 public:
  DZCrashReportStackFrameInfo(uint64_t instructionPointer, std::optional<DZCrashReportSymbolInfo> symbolInfo)
      : instructionPointer_(instructionPointer), symbolInfo_(std::move(symbolInfo)) {}

  // The frame's pc (a return address for callers' frames), without pointer-authentication bits.
  uint64_t instructionPointer() const { return instructionPointer_; }
  // Present only when the writer symbolicated the frame.
  const std::optional<DZCrashReportSymbolInfo>& symbolInfo() const { return symbolInfo_; }

 private:
  uint64_t instructionPointer_;
  std::optional<DZCrashReportSymbolInfo> symbolInfo_;
};

}  // namespace dzcrash
