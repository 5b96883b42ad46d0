#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// The file format of a loaded image. The symbolication service picks its symbol reader by it.
enum class DiziZozBinaryImageFormat { elf, macho };

// One loaded image that frames point into, shared by handled exceptions and crash reports. Plain value.
struct DiziZozBinaryImageInfo {
  // The image's path.
  std::string name;
  // Its identifier for symbol lookup (for ELF the GNU build id in hex, see formattedAsUUID).
  std::optional<std::string> uuid{};
  // The link-time address of its first load segment.
  std::optional<std::uint64_t> vmAddress{};
  // Where it is loaded (where its header lies), and how far its code reaches from there.
  std::uint64_t address = 0;
  std::uint64_t size = 0;
  std::optional<std::string> arch{};
  DiziZozBinaryImageFormat format = DiziZozBinaryImageFormat::elf;

  // "type" ("elf" or "macho"), "code_file", "image_addr", "image_size", then "debug_id",
  // "image_vmaddr" (left out when 0) and "arch" when known.
  Properties toDictionary() const;
};

}  // namespace dizizoz
