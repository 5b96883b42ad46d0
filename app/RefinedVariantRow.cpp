#include "app/RefinedVariantRow.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "app/MiniActionButton.h"
#include "app/PopupStyle.h"
#include "app/PopupViewState.h"

namespace quorvelle {
namespace {

constexpr int kPadX = 8;
constexpr int kPadY = 6;
constexpr double kRadius = 6;
constexpr int kStripInset = 2;

// The strip behind the two buttons: the card's material with a thin border.
class ActionStrip : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(popup_style::material(palette()));
    painter.setPen(QPen(popup_style::separator(palette()), 0.5));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 5, 5);
  }
};

}  // namespace

RefinedVariantRow::RefinedVariantRow(std::string variant, TextAction onCopy, TextAction onReplace,
                                     QWidget* parent)
    : QWidget(parent),
      variant_(std::move(variant)),
      onCopy_(std::move(onCopy)),
      onReplace_(std::move(onReplace)) {
  setObjectName("variantRow");
  setToolTip(popup_text::kClickToReplace);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);

  label_ = new QLabel(QString::fromStdString(variant_), this);
  label_->setObjectName("variantText");
  label_->setTextFormat(Qt::PlainText);
  label_->setWordWrap(true);
  label_->setFont(popup_style::font(popup_style::TextStyle::callout));
  label_->setTextInteractionFlags(Qt::NoTextInteraction);
  // The whole row is the hit area: the text must not keep clicks for itself.
  label_->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kPadX, kPadY, kPadX, kPadY);
  layout->addWidget(label_);

  strip_ = new ActionStrip(this);
  strip_->setObjectName("actionStrip");
  auto* stripLayout = new QHBoxLayout(strip_);
  stripLayout->setContentsMargins(1, 1, 1, 1);
  stripLayout->setSpacing(0);
  copyButton_ = new MiniActionButton("doc.on.doc", popup_text::kCopy, [this] {
    if (onCopy_) onCopy_(variant_);
  });
  replaceButton_ = new MiniActionButton("arrow.2.squarepath", popup_text::kReplace, [this] {
    if (onReplace_) onReplace_(variant_);
  });
  copyButton_->setObjectName("copyButton");
  replaceButton_->setObjectName("replaceButton");
  stripLayout->addWidget(copyButton_);
  stripLayout->addWidget(replaceButton_);
  strip_->setCursor(Qt::ArrowCursor);
  strip_->hide();
}

void RefinedVariantRow::setHovering(bool hovering) {
  if (hovering_ == hovering) return;
  hovering_ = hovering;
  strip_->setVisible(hovering);
  if (hovering) {
    placeStrip();
    strip_->raise();
  }
  update();
}

void RefinedVariantRow::paintEvent(QPaintEvent*) {
  if (!hovering_) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(popup_style::quaternaryFill(palette()));
  painter.drawRoundedRect(QRectF(rect()), kRadius, kRadius);
}

void RefinedVariantRow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeStrip();
}

void RefinedVariantRow::placeStrip() {
  const QSize size = strip_->sizeHint();
  strip_->setGeometry(width() - kStripInset - size.width(), kStripInset, size.width(), size.height());
}

void RefinedVariantRow::enterEvent(QEnterEvent* event) {
  setHovering(true);
  QWidget::enterEvent(event);
}

void RefinedVariantRow::leaveEvent(QEvent* event) {
  setHovering(false);
  QWidget::leaveEvent(event);
}

void RefinedVariantRow::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void RefinedVariantRow::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click && onReplace_) {
    // The callback may close the popup and rebuild the rows: keep our own copy of the text.
    const std::string variant = variant_;
    onReplace_(variant);
  }
}

}  // namespace quorvelle
