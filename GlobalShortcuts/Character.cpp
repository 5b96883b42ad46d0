#include "GlobalShortcuts/Character.h"

namespace GlobalShortcuts {

std::optional<char32_t> characterFromUnicodeScalarValue(std::int64_t value) noexcept {
  if (value < 0 || value > 0x10FFFF) return std::nullopt;
  if (value >= 0xD800 && value <= 0xDFFF) return std::nullopt;
  return static_cast<char32_t>(value);
}

std::string utf8(char32_t scalar) {
  std::string out;
  const auto c = static_cast<std::uint32_t>(scalar);
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace GlobalShortcuts
