#include "DZCrashReporter/report/DZCrashReportBinaryImageInfo.h"

#include <utility>

namespace dzcrash {

DZCrashReportBinaryImageInfo::DZCrashReportBinaryImageInfo(std::optional<DZCrashReportProcessorInfo> codeType,
                                                           uint64_t baseAddress, uint64_t size,
                                                           std::string name,
                                                           const std::optional<std::vector<uint8_t>>& uuid)
    : codeType_(std::move(codeType)),
      imageBaseAddress_(baseAddress),
      imageSize_(size),
      imageName_(std::move(name)) {
  if (!uuid || uuid->empty()) return;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(uuid->size() * 2);
  for (const uint8_t byte : *uuid) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0xF]);
  }
  imageUUID_ = std::move(hex);
}

}  // namespace dzcrash
