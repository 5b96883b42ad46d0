#include "app/PopupStyle.h"

#include <QFontDatabase>

namespace quorvelle::popup_style {
namespace {

QColor withAlpha(QColor c, double alpha) {
  c.setAlphaF(static_cast<float>(alpha));
  return c;
}

int pixelSize(TextStyle style) {
  switch (style) {
    case TextStyle::title3:
      return 15;
    case TextStyle::body:
    case TextStyle::headline:
      return 13;
    case TextStyle::callout:
      return 12;
    case TextStyle::subheadline:
      return 11;
    case TextStyle::caption2:
      return 10;
  }
  return 13;
}

}  // namespace

QFont font(TextStyle style, QFont::Weight weight) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  f.setPixelSize(pixelSize(style));
  f.setWeight(style == TextStyle::headline && weight == QFont::Normal ? QFont::DemiBold : weight);
  return f;
}

QFont monospacedSubheadline() {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setPixelSize(pixelSize(TextStyle::subheadline));
  return f;
}

QFont paneLabelFont() {
  QFont f = font(TextStyle::caption2, QFont::DemiBold);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
  return f;
}

QColor primary(const QPalette& palette) {
  return palette.color(QPalette::WindowText);
}
QColor secondary(const QPalette& palette) {
  return withAlpha(primary(palette), 0.55);
}
QColor tertiary(const QPalette& palette) {
  return withAlpha(primary(palette), 0.3);
}
QColor quaternaryFill(const QPalette& palette) {
  return withAlpha(primary(palette), 0.1);
}
QColor separator(const QPalette& palette) {
  return withAlpha(primary(palette), 0.15);
}
QColor errorText() {
  return QColor(0xE0, 0x2B, 0x2B);
}
QColor material(const QPalette& palette) {
  return withAlpha(palette.color(QPalette::Window), 0.97);
}

}  // namespace quorvelle::popup_style
