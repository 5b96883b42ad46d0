#pragma once

#include <QColor>
#include <QPixmap>
#include <QRectF>
#include <string_view>

class QPainter;

namespace quorvelle {

// Draws one of the popup's small symbols, by name, into `box` (kept square, centred): "speaker.wave.2.fill",
// "doc.on.doc", "arrow.2.squarepath", "arrow.up.right.square", "arrow.down", "arrow.right.to.line", and
// for the windows "globe", "wand.and.stars", "checkmark.seal.fill", "exclamationmark.triangle.fill",
// "checkmark.circle.fill", "circle.dashed", "key.fill", "accessibility", "book", "sparkles" (the filled ones
// draw their inner mark in white). Strokes are `weight` times the default width. An unknown name draws
// nothing. Main thread.
void paintPopupSymbol(QPainter& painter, std::string_view name, const QRectF& box, const QColor& color,
                      double weight = 1.0);
// The same symbol as a transparent square pixmap of `size` points at the device pixel `ratio`.
QPixmap popupSymbolPixmap(std::string_view name, const QColor& color, int size, qreal ratio);

}  // namespace quorvelle
