#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class Random;
}

namespace dizizoz {

// A 128-bit UUID, bytes in network order (byte 0 first). A plain value: copy it freely.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // The canonical 36-character hyphenated form in lower case: the form of anonymous ids, event ids in
  // stored events and queue file names.
  std::string toString() const;
  // Accepts the canonical hyphenated form in either case; anything else gives nothing.
  static std::optional<Uuid> fromString(std::string_view text);
  // A random version 4 UUID.
  static Uuid random4(platform::Random& random);

  int version() const { return bytes[6] >> 4; }

  friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

}  // namespace dizizoz
