#pragma once

// One image loaded in the crashed process. Immutable value; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DZCrashReporter/report/DZCrashReportProcessorInfo.h"

namespace dzcrash {

class DZCrashReportBinaryImageInfo {
 public:
  // `uuid`: the image's identifying bytes (a Mach-O UUID has 16, an ELF build id usually 20); none or
  // empty when the image has none.
  DZCrashReportBinaryImageInfo(std::optional<DZCrashReportProcessorInfo> codeType, uint64_t baseAddress,
                               uint64_t size, std::string name,
                               const std::optional<std::vector<uint8_t>>& uuid);

  const std::optional<DZCrashReportProcessorInfo>& codeType() const { return codeType_; }
  uint64_t imageBaseAddress() const { return imageBaseAddress_; }
  // Bytes of the image's code from its base; 0 when unknown.
  uint64_t imageSize() const { return imageSize_; }
  // The image's full path.
  const std::string& imageName() const { return imageName_; }
  bool hasImageUUID() const { return imageUUID_.has_value(); }
  // The identifying bytes as lower-case hexadecimal, two digits a byte, no separators.
  const std::optional<std::string>& imageUUID() const { return imageUUID_; }

 private:
  std::optional<DZCrashReportProcessorInfo> codeType_;
  uint64_t imageBaseAddress_;
  uint64_t imageSize_;
  std::string imageName_;
  std::optional<std::string> imageUUID_;
};

}  // namespace dzcrash
