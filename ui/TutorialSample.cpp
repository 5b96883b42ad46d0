#include "ui/TutorialSample.h"

#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSequentialAnimationGroup>
#include <QVariantAnimation>
#include <QWheelEvent>

#include "ui/Easing.h"

namespace quorvelle {
namespace {

constexpr int kPaddingSide = 10;
constexpr int kPaddingTop = 11;
constexpr int kPaddingBottom = 5;
constexpr double kCornerRadius = 10;
constexpr double kBorderWidth = 1.5;
constexpr double kFillOpacity = 0.12;
constexpr double kDoneBorderOpacity = 0.7;
constexpr int kFontSize = 19;

QColor withOpacity(QColor color, double opacity) {
  color.setAlphaF(static_cast<float>(opacity));
  return color;
}

QVariantAnimation* halfBreath(double from, double to, QObject* parent) {
  auto* animation = new QVariantAnimation(parent);
  animation->setStartValue(from);
  animation->setEndValue(to);
  animation->setDuration(static_cast<int>(TutorialSample::kPulseSeconds * 1000));
  animation->setEasingCurve(QEasingCurve::InOutSine);
  return animation;
}

}  // namespace

TutorialSample::TutorialSample(const QString& text, Editing editing, int lines, QWidget* parent)
    : QPlainTextEdit(text, parent) {
  QFont font = this->font();
  font.setPixelSize(kFontSize);
  font.setWeight(QFont::Medium);
  setFont(font);
  setFrameShape(QFrame::NoFrame);
  setViewportMargins(kPaddingSide, kPaddingTop, kPaddingSide, kPaddingBottom);
  setFixedHeight(heightFor(lines));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The field's own background shows through the text area.
  viewport()->setAutoFillBackground(false);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Base, Qt::transparent);
  setPalette(palette);
  document()->setDocumentMargin(0);
  // Longer text is cut, never scrolled into view: the scroll range is held at nothing.
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
    if (maximum != 0) verticalScrollBar()->setRange(0, 0);
  });
  verticalScrollBar()->setRange(0, 0);
  if (editing == Editing::fixed) {
    // Read-only keeps selection (and with it the X11 primary selection the hot key reads) but no edit.
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }

  pulseAnimation_ = new QSequentialAnimationGroup(this);
  for (auto* half : {halfBreath(0, 1, pulseAnimation_), halfBreath(1, 0, pulseAnimation_)}) {
    connect(half, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setPulse(value.toDouble()); });
    pulseAnimation_->addAnimation(half);
  }
  pulseAnimation_->setLoopCount(-1);

  doneEasing_ = new QVariantAnimation(this);
  doneEasing_->setObjectName(QStringLiteral("sampleDone"));
  doneEasing_->setEasingCurve(easeOut());
  connect(doneEasing_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
    doneProgress_ = value.toDouble();
    update();
  });
}

TutorialSample::~TutorialSample() = default;

QColor TutorialSample::doneColor() {
  return QColor(52, 199, 89);
}

QColor TutorialSample::accent() const {
  return palette().color(QPalette::Highlight);
}

void TutorialSample::setDone(bool done) {
  if (done == done_) return;
  done_ = done;
  doneEasing_->stop();
  const double target = done ? 1.0 : 0.0;
  if (easingMs_ <= 0 || !isVisible()) {
    doneProgress_ = target;
    update();
    return;
  }
  doneEasing_->setDuration(easingMs_);
  doneEasing_->setStartValue(doneProgress_);
  doneEasing_->setEndValue(target);
  doneEasing_->start();
}

void TutorialSample::setPulse(double pulse) {
  pulse_ = pulse;
  if (doneProgress_ < 1) update();
}

QColor TutorialSample::fillColor() const {
  return fillColor(done_);
}

QColor TutorialSample::fillColor(bool done) const {
  return withOpacity(done ? doneColor() : accent(), kFillOpacity);
}

QPen TutorialSample::borderPen() const {
  return borderPen(done_);
}

QPen TutorialSample::borderPen(bool done) const {
  QPen pen;
  pen.setWidthF(kBorderWidth);
  pen.setMiterLimit(10);
  if (done) {
    pen.setColor(withOpacity(doneColor(), kDoneBorderOpacity));
    return pen;
  }
  pen.setColor(withOpacity(accent(), kQuietOpacity + (kLoudOpacity - kQuietOpacity) * pulse_));
  // Qt measures dashes in pen widths.
  pen.setDashPattern({6 / kBorderWidth, 4 / kBorderWidth});
  pen.setDashOffset(0);
  return pen;
}

bool TutorialSample::event(QEvent* event) {
  if (event->type() == QEvent::Paint) {
    // The field's own area (the text area above it is transparent).
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF inside =
        QRectF(rect()).adjusted(kBorderWidth / 2, kBorderWidth / 2, -kBorderWidth / 2, -kBorderWidth / 2);
    QPainterPath shape;
    shape.addRoundedRect(inside, kCornerRadius, kCornerRadius);
    // Between the looks, each is drawn at its share.
    for (const bool done : {false, true}) {
      const double share = done ? doneProgress_ : 1 - doneProgress_;
      if (share <= 0) continue;
      painter.setOpacity(share);
      painter.fillPath(shape, fillColor(done));
      painter.strokePath(shape, borderPen(done));
    }
    return true;
  }
  return QPlainTextEdit::event(event);
}

void TutorialSample::wheelEvent(QWheelEvent* event) {
  event->ignore();
}

void TutorialSample::showEvent(QShowEvent* event) {
  QPlainTextEdit::showEvent(event);
  // Each appearance breathes from the quiet end.
  pulse_ = 0;
  pulseAnimation_->start();
}

void TutorialSample::hideEvent(QHideEvent* event) {
  pulseAnimation_->stop();
  QPlainTextEdit::hideEvent(event);
}

}  // namespace quorvelle
