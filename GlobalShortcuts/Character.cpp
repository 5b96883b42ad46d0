#include "GlobalShortcuts/Character.h"

#include <QChar>
#include <QString>

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

std::string capitalized(std::string_view text) {
  const QString string = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (string.isEmpty()) return std::string(text);
  const bool pair = string.size() > 1 && string.at(0).isHighSurrogate() && string.at(1).isLowSurrogate();
  const char32_t first = pair ? QChar::surrogateToUcs4(string.at(0), string.at(1)) : string.at(0).unicode();
  const char32_t titled = QChar::toTitleCase(first);
  if (titled == first) return std::string(text);
  const qsizetype firstLength = pair ? 2 : 1;
  return (QString::fromUcs4(&titled, 1) + string.mid(firstLength)).toStdString();
}

}  // namespace GlobalShortcuts
