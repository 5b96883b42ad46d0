#include "app/UnicodeText.h"

#include <QString>

namespace quorvelle {

bool isWhitespaceOrNewline(char32_t c) {
  if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
  switch (QChar::category(c)) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
      return true;
    default:
      return false;
  }
}

bool isNewline(char32_t c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string trimmedWhitespaceAndNewlines(std::string_view text) {
  const std::u32string scalars =
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdU32String();
  std::size_t begin = 0;
  std::size_t end = scalars.size();
  while (begin < end && isWhitespaceOrNewline(scalars[begin])) ++begin;
  while (end > begin && isWhitespaceOrNewline(scalars[end - 1])) --end;
  return QString::fromStdU32String(scalars.substr(begin, end - begin)).toStdString();
}

}  // namespace quorvelle
