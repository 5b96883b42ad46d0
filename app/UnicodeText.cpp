#include "app/UnicodeText.h"

#include <QString>
#include <QTextBoundaryFinder>

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

namespace {

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::string trimmedWhitespaceAndNewlines(std::string_view text) {
  const std::u32string scalars = fromUtf8(text).toStdU32String();
  std::size_t begin = 0;
  std::size_t end = scalars.size();
  while (begin < end && isWhitespaceOrNewline(scalars[begin])) ++begin;
  while (end > begin && isWhitespaceOrNewline(scalars[end - 1])) --end;
  return QString::fromStdU32String(scalars.substr(begin, end - begin)).toStdString();
}

std::size_t graphemeCount(std::string_view text) {
  const QString string = fromUtf8(text);
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, string);
  std::size_t count = 0;
  while (finder.toNextBoundary() != -1) ++count;
  return count;
}

std::string lastGraphemes(std::string_view text, std::size_t count) {
  const QString string = fromUtf8(text);
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, string);
  finder.toEnd();
  qsizetype start = string.size();
  for (std::size_t i = 0; i < count; ++i) {
    const qsizetype previous = finder.toPreviousBoundary();
    if (previous < 0) break;
    start = previous;
  }
  return string.mid(start).toStdString();
}

}  // namespace quorvelle
