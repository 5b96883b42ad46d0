#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace GlobalShortcuts {

// The character made of the one Unicode scalar `value`; nothing when the value is negative, a surrogate
// (U+D800 to U+DFFF) or above U+10FFFF. Private-use scalars are characters too (U+F704 is the character
// that key events carry for F1). Any thread.
std::optional<char32_t> characterFromUnicodeScalarValue(std::int64_t value) noexcept;

// UTF-8 of a valid scalar (as returned above).
std::string utf8(char32_t scalar);

// `text` (UTF-8) with its first character in title case ("t" gives "T", "été" gives "Été"), by the
// Unicode case mapping of one scalar, whatever the locale: a character without a one-scalar title case
// ("ß") stays as it is. The rest of the text is left alone. Any thread.
std::string capitalized(std::string_view text);

}  // namespace GlobalShortcuts
