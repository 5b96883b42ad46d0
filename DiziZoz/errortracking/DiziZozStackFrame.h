#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// One symbolicated frame of a stack trace, shared by handled exceptions and crash reports. Plain value.
struct DiziZozStackFrame {
  // The return address, as it was looked up.
  std::uint64_t instructionAddress = 0;
  // The last path component of the image file that holds the address, and its full path.
  std::optional<std::string> module{};
  std::optional<std::string> package{};
  // The load address of that image.
  std::optional<std::uint64_t> imageAddress{};
  bool inApp = false;
  // The nearest symbol, as the loader names it (mangled for C++), and its address.
  std::optional<std::string> function{};
  std::optional<std::uint64_t> symbolAddress{};

  // The frame as the service reads it: "instruction_addr", "platform", "in_app", then "module",
  // "package", "image_addr", "function", "symbol_addr" when known. Addresses are "0x" and 16 lower-case
  // hex digits.
  Properties toDictionary() const;
};

// "0x" followed by the address as 16 lower-case hex digits: the form of every address on the wire.
std::string hexAddress(std::uint64_t address);

}  // namespace dizizoz
