#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace quorvelle::popup_style {

// The popup's type scale, in pixels (one pixel is one point of the screen coordinates).
enum class TextStyle { title3, body, callout, headline, subheadline, caption2 };

QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
// The subheadline in a monospaced face, for IPA.
QFont monospacedSubheadline();
// Caption 2, semibold, letters spaced 0.8: the small upper-case pane labels.
QFont paneLabelFont();

// Shades of the palette's text colour, from the text itself down to the faint fills behind hovered rows.
QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor quaternaryFill(const QPalette& palette);
QColor separator(const QPalette& palette);
QColor errorText();
// The card's background: the window colour, barely translucent.
QColor material(const QPalette& palette);

}  // namespace quorvelle::popup_style
