#include "ui/ChoiceCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "app/PopupSymbols.h"

namespace quorvelle {
namespace {

constexpr double kRadius = 12;
constexpr int kEmojiSize = 22;
constexpr int kSymbolSize = 18;
constexpr int kSymbolFrame = 26;

}  // namespace

ChoiceCard::ChoiceCard(std::optional<std::string> symbol, std::optional<std::string> emoji,
                       const QString& title, const QString& detail, QWidget* parent)
    : QAbstractButton(parent), symbol_(std::move(symbol)), emoji_(std::move(emoji)) {
  easing_ = new QVariantAnimation(this);
  easing_->setEasingCurve(QEasingCurve::OutCubic);
  easing_->setStartValue(0.0);
  easing_->setEndValue(1.0);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  // The button itself has no text: without these a screen reader announces a nameless button.
  setAccessibleName(title);
  setAccessibleDescription(detail);
  auto* row = new QHBoxLayout(this);
  row->setSpacing(10);
  if (emoji_) {
    leading_ = new QLabel(QString::fromStdString(*emoji_), this);
    QFont font = leading_->font();
    font.setPixelSize(kEmojiSize);
    leading_->setFont(font);
  } else if (symbol_) {
    leading_ = new QLabel(this);
    leading_->setFixedWidth(kSymbolFrame);
    leading_->setAlignment(Qt::AlignCenter);
    leading_->setPixmap(
        popupSymbolPixmap(*symbol_, palette().color(QPalette::Highlight), kSymbolSize, devicePixelRatioF()));
  }
  if (leading_) row->addWidget(leading_, 0, Qt::AlignVCenter);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  title_ = new QLabel(title, this);
  QFont titleFont = title_->font();
  titleFont.setWeight(QFont::DemiBold);
  title_->setFont(titleFont);
  texts->addWidget(title_);
  if (!detail.isEmpty()) {
    detail_ = new QLabel(detail, this);
    detail_->setWordWrap(true);
    QFont detailFont = detail_->font();
    detailFont.setPointSizeF(detailFont.pointSizeF() * 0.85);
    detail_->setFont(detailFont);
    QPalette secondary = detail_->palette();
    secondary.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
    detail_->setPalette(secondary);
    texts->addWidget(detail_);
  }
  row->addLayout(texts, 1);
  const int vertical = verticalPadding();
  row->setContentsMargins(kHorizontalPadding, vertical, kHorizontalPadding, vertical);
  // The labels never take the click: the card does.
  for (QLabel* label : {leading_, title_, detail_}) {
    if (label) label->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
}

QString ChoiceCard::leading() const {
  if (emoji_) return QString::fromStdString(*emoji_);
  if (symbol_) return QString::fromStdString(*symbol_);
  return {};
}

void ChoiceCard::setSelected(bool selected) {
  if (selected_ == selected) return;
  selected_ = selected;
  easeToState();
}

QSize ChoiceCard::sizeHint() const {
  return layout()->sizeHint();
}

int ChoiceCard::heightForWidth(int width) const {
  return layout()->totalHeightForWidth(width);
}

void ChoiceCard::resizeEvent(QResizeEvent* event) {
  QAbstractButton::resizeEvent(event);
  // The layouts above may not ask for the wrapped detail's height: the card asks for it itself.
  if (!detail_) return;
  const int needed = heightForWidth(width());
  if (needed > 0 && minimumHeight() != needed) setMinimumHeight(needed);
}

void ChoiceCard::easeToState() {
  easing_->stop();
  easing_->disconnect(this);
  const double fromScale = drawnScale_, toScale = scale();
  const double fromSelection = drawnSelection_, toSelection = selected_ ? 1.0 : 0.0;
  connect(easing_, &QVariantAnimation::valueChanged, this, [=, this](const QVariant& value) {
    const double t = value.toDouble();
    drawnScale_ = fromScale + (toScale - fromScale) * t;
    drawnSelection_ = fromSelection + (toSelection - fromSelection) * t;
    update();
  });
  if (!isVisible() || easingMs_ <= 0) {
    drawnScale_ = toScale;
    drawnSelection_ = toSelection;
    update();
    return;
  }
  easing_->setDuration(easingMs_);
  easing_->start();
}

void ChoiceCard::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  hovering_ = true;
  easeToState();
}

void ChoiceCard::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  hovering_ = false;
  easeToState();
}

void ChoiceCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The growth under the pointer stays inside the widget: the card is drawn a little smaller at rest.
  const double inset = (kHoverScale - 1.0) * width() / 2 + 1;
  QRectF box = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
  const double s = drawnScale_;
  const QPointF centre = box.center();
  box = QRectF(centre.x() - box.width() * s / 2, centre.y() - box.height() * s / 2, box.width() * s,
               box.height() * s);
  QPainterPath shape;
  shape.addRoundedRect(box, kRadius, kRadius);
  // The resting look blends into the selected one as the selection eases in.
  const double t = drawnSelection_;
  auto mix = [t](const QColor& a, const QColor& b) {
    return QColor::fromRgbF(
        float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
        float(a.blueF() + (b.blueF() - a.blueF()) * t), float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
  };
  const QColor tint = palette().color(QPalette::Highlight);
  QColor restFill = palette().color(QPalette::WindowText);
  restFill.setAlphaF(0.05f);
  QColor chosenFill = tint;
  chosenFill.setAlphaF(0.12f);
  painter.fillPath(shape, mix(restFill, chosenFill));
  QColor separator = palette().color(QPalette::Mid);
  separator.setAlphaF(hovering_ ? 1.0f : 0.6f);
  painter.setPen(QPen(mix(separator, tint), 1.0 + 0.5 * t));
  painter.drawPath(shape);
  if (hasFocus()) {
    QColor ring = tint;
    ring.setAlphaF(0.5f);
    painter.setPen(QPen(ring, 1, Qt::DotLine));
    painter.drawPath(shape);
  }
}

}  // namespace quorvelle
