#include "ui/OnboardingView.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <cmath>
#include <utility>

#include "GlobalShortcuts/Recorder.h"
#include "app/Language.h"
#include "app/PopupSymbols.h"
#include "ui/AccessibilityHelp.h"
#include "ui/ChoiceCard.h"
#include "ui/SplashStep.h"
#include "ui/TutorialSample.h"
#include "ui/TutorialStep.h"

namespace quorvelle {
namespace {

constexpr int kHeaderSymbolSize = 44;
constexpr int kHeaderSymbolFrame = 84;
constexpr int kHeaderTitleSize = 28;
constexpr int kHeaderSubtitleWidth = 480;
constexpr int kHeaderGap = 24;
constexpr int kChoiceWidth = 520;
constexpr int kGridSpacing = 10;
constexpr int kDotSize = 6;
constexpr int kDotSpacing = 6;

// The desktop's counterparts of the permission texts: on X11 the permission is the session itself.
constexpr const char* kAccessibilitySubtitle =
    "Quorvelle needs this permission to read the text you select. On Linux it comes with an X11 (Xorg) "
    "session that offers synthetic keystrokes (XTest).";
constexpr const char* kRelaunchQuestion = "Switched to an X11 session but the checkmark doesn't appear?";

QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* secondaryLabel(const QString& text, QWidget* parent, double scale) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * scale);
  label->setFont(font);
  QPalette secondary = label->palette();
  secondary.setColor(QPalette::WindowText, parent->palette().color(QPalette::PlaceholderText));
  label->setPalette(secondary);
  return label;
}

QPushButton* plainButton(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setFlat(true);
  button->setAutoDefault(false);
  QPalette secondary = button->palette();
  secondary.setColor(QPalette::ButtonText, parent->palette().color(QPalette::PlaceholderText));
  button->setPalette(secondary);
  return button;
}

QPushButton* prominentButton(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setAutoDefault(false);
  QPalette accent = button->palette();
  accent.setColor(QPalette::Active, QPalette::Button, parent->palette().color(QPalette::Highlight));
  accent.setColor(QPalette::Inactive, QPalette::Button, parent->palette().color(QPalette::Highlight));
  accent.setColor(QPalette::Active, QPalette::ButtonText, parent->palette().color(QPalette::HighlightedText));
  accent.setColor(QPalette::Inactive, QPalette::ButtonText,
                  parent->palette().color(QPalette::HighlightedText));
  // Disabled, it keeps the plain look, so that a Continue that does nothing yet does not invite a click.
  button->setPalette(accent);
  return button;
}

// Widgets that keep Return for themselves.
bool keepsReturn(QWidget* widget) {
  for (; widget; widget = widget->parentWidget()) {
    if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget) ||
        qobject_cast<QTextEdit*>(widget) || dynamic_cast<GlobalShortcuts::Recorder*>(widget)) {
      return true;
    }
  }
  return false;
}

}  // namespace

// The progress dots: one per visible step, the current one filled darker.
class OnboardingView::Dots final : public QWidget {
 public:
  using QWidget::QWidget;
  void set(std::vector<OnboardingStep> steps, OnboardingStep current) {
    steps_ = std::move(steps);
    current_ = current;
    updateGeometry();
    update();
  }
  const std::vector<OnboardingStep>& steps() const { return steps_; }
  std::optional<OnboardingStep> highlighted() const {
    for (OnboardingStep step : steps_) {
      if (step == current_) return step;
    }
    return std::nullopt;
  }
  QSize sizeHint() const override {
    const int count = static_cast<int>(steps_.size());
    return {count * kDotSize + std::max(0, count - 1) * kDotSpacing, kDotSize};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor primary = palette().color(QPalette::WindowText);
    QColor quaternary = primary;
    quaternary.setAlphaF(0.18f);
    double x = 0;
    const double y = (height() - kDotSize) / 2.0;
    for (OnboardingStep step : steps_) {
      painter.setBrush(step == current_ ? primary : quaternary);
      painter.drawEllipse(QRectF(x, y, kDotSize, kDotSize));
      x += kDotSize + kDotSpacing;
    }
  }

 private:
  std::vector<OnboardingStep> steps_;
  OnboardingStep current_ = OnboardingStep::splash;
};

// Where the pages lie: each fills it. A step change slides the pages across it as pictures, which the
// area paints itself, both in their places on every frame: the pages themselves stay hidden meanwhile,
// so that no copy of a moving page is left behind (a moving widget with an opacity effect leaves traces
// on a desktop with a window manager).
class OnboardingView::StepArea final : public QWidget {
 public:
  explicit StepArea(QWidget* parent) : QWidget(parent) {}

  // Slides `to` in from `shift` pixels to the side (negative: from the left) while `from` leaves to the
  // other side, each fading; `done` runs at the end, once `to` is shown. A slide still under way ends
  // first (its `done` runs).
  void slide(QWidget* from, QWidget* to, int shift, int milliseconds, std::function<void()> done) {
    finish();
    from_ = from->grab();
    to_ = to->grab();
    from->hide();
    to->hide();
    shift_ = shift;
    entering_ = to;
    done_ = std::move(done);
    progress_ = 0;
    animation_ = new QVariantAnimation(this);
    animation_->setObjectName(QStringLiteral("pageSlide"));
    animation_->setDuration(milliseconds);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    animation_->setStartValue(0.0);
    animation_->setEndValue(1.0);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
      progress_ = value.toDouble();
      update();
    });
    connect(animation_, &QVariantAnimation::finished, this, [this] { finish(); });
    animation_->start();
    update();
  }
  // Ends a slide under way at once.
  void finish() {
    if (!animation_) return;
    QVariantAnimation* animation = std::exchange(animation_, nullptr);
    animation->disconnect(this);
    animation->stop();
    animation->deleteLater();
    from_ = to_ = QPixmap();
    if (entering_) entering_->show();
    entering_ = nullptr;
    update();
    if (auto done = std::exchange(done_, {})) done();
  }
  QAbstractAnimation* slideAnimation() const { return animation_; }

 protected:
  void resizeEvent(QResizeEvent*) override {
    for (QObject* child : children()) {
      if (auto* page = qobject_cast<QWidget*>(child)) page->setGeometry(rect());
    }
  }
  void paintEvent(QPaintEvent*) override {
    if (!animation_) return;
    QPainter painter(this);
    const int offset = static_cast<int>(std::lround(shift_ * progress_));
    painter.setOpacity(1 - progress_);
    painter.drawPixmap(-offset, 0, from_);
    painter.setOpacity(progress_);
    painter.drawPixmap(shift_ - offset, 0, to_);
  }

 private:
  QPixmap from_;
  QPixmap to_;
  int shift_ = 0;
  double progress_ = 0;
  QPointer<QWidget> entering_;
  std::function<void()> done_;
  QVariantAnimation* animation_ = nullptr;
};

namespace {

// A scroll area that, once it has its size, brings one card to its vertical centre.
class CentringScrollArea final : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  void centreOn(QWidget* target) { target_ = target; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    centre();
  }
  void showEvent(QShowEvent* event) override {
    QScrollArea::showEvent(event);
    centre();
  }

 private:
  void centre() {
    if (!target_ || !widget() || viewport()->height() <= 0) return;
    widget()->adjustSize();
    if (widget()->layout()) widget()->layout()->activate();
    const int centreY = target_->mapTo(widget(), target_->rect().center()).y();
    verticalScrollBar()->setValue(centreY - viewport()->height() / 2);
  }
  QPointer<QWidget> target_;
};

}  // namespace

OnboardingView::OnboardingView(Services services, std::function<void()> onFinish, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
  const WindowServices& windows = services_.windows;
  flow_ = std::make_unique<OnboardingFlow>(
      OnboardingFlow::Services{windows.settings, services_.analytics, windows.executor, windows.accessibility,
                               services_.selection, services_.relauncher, services_.shell, services_.hotkeys},
      std::move(onFinish));

  setFixedSize(kWidth, kHeight);
  setFocusPolicy(Qt::ClickFocus);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(0);
  area_ = new StepArea(this);
  area_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  layout->addWidget(area_, 1);

  bottomBar_ = new QWidget(this);
  auto* bar = new QHBoxLayout(bottomBar_);
  bar->setContentsMargins(4, 16, 4, 0);
  back_ = plainButton(tr("Back"), bottomBar_);
  bar->addWidget(back_);
  bar->addStretch(1);
  dots_ = new Dots(bottomBar_);
  bar->addWidget(dots_, 0, Qt::AlignVCenter);
  bar->addStretch(1);
  skip_ = plainButton(tr("Skip"), bottomBar_);
  bar->addWidget(skip_);
  bar->addSpacing(12);
  continue_ = prominentButton(tr("Continue"), bottomBar_);
  continue_->setMinimumHeight(continue_->sizeHint().height() + 6);
  bar->addWidget(continue_);
  layout->addWidget(bottomBar_);
  // The bar keeps its place, so the pages above it never jump when Back comes and goes.
  QSizePolicy keep = back_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  back_->setSizePolicy(keep);

  connect(back_, &QPushButton::clicked, this, [this] { flow_->goBack(); });
  connect(skip_, &QPushButton::clicked, this, [this] { flow_->skipTapped(); });
  connect(continue_, &QPushButton::clicked, this, [this] { flow_->continueTapped(); });

  // Every change comes through here; finishing closes the window, which may delete this view.
  flow_->setOnChange([this] {
    if (!flow_->finished()) refresh();
  });
  page_ = makePage(flow_->step());
  page_->setGeometry(area_->rect());
  refresh();
  takeFocusFromPages();
}

void OnboardingView::takeFocusFromPages() {
  // Left to the toolkit, the focus would land on the first field of a new page, which on a tutorial page
  // is the shortcut recorder: focused, it records the next keys, and the hot key the page asks for
  // would not act. The user clicks into the page where they want to type.
  setFocus(Qt::OtherFocusReason);
}

OnboardingView::~OnboardingView() {
  // The pages hold the flow's done flags; they go before it.
  area_->finish();
  qDeleteAll(area_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
  page_ = nullptr;
}

QWidget* OnboardingView::header(const std::optional<std::string>& symbol, const QString& title,
                                const QString& subtitle, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, kHeaderGap);
  layout->setSpacing(12);
  if (symbol) {
    auto* image = new QLabel(box);
    image->setFixedHeight(kHeaderSymbolFrame);
    image->setAlignment(Qt::AlignCenter);
    image->setPixmap(popupSymbolPixmap(*symbol, box->palette().color(QPalette::Highlight), kHeaderSymbolSize,
                                       box->devicePixelRatioF()));
    layout->addWidget(image);
  }
  auto* titleLabel = new QLabel(title, box);
  titleLabel->setObjectName(QStringLiteral("headerTitle"));
  QFont titleFont = titleLabel->font();
  titleFont.setPixelSize(kHeaderTitleSize);
  titleFont.setBold(true);
  titleLabel->setFont(titleFont);
  titleLabel->setAlignment(Qt::AlignCenter);
  layout->addWidget(titleLabel);
  auto* subtitleLabel = secondaryLabel(subtitle, box, 1.0);
  subtitleLabel->setObjectName(QStringLiteral("headerSubtitle"));
  subtitleLabel->setWordWrap(true);
  subtitleLabel->setAlignment(Qt::AlignCenter);
  // A fixed width, so that the wrapped text's height is known before the page is laid out.
  subtitleLabel->setFixedWidth(kHeaderSubtitleWidth);
  subtitleLabel->setMinimumHeight(subtitleLabel->heightForWidth(kHeaderSubtitleWidth));
  layout->addWidget(subtitleLabel, 0, Qt::AlignHCenter);
  box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  return box;
}

void OnboardingView::setTransitionDuration(int milliseconds) {
  transitionMs_ = milliseconds;
  if (auto* splash = dynamic_cast<SplashStep*>(page_)) {
    splash->setAppearDuration(milliseconds > 0 ? SplashStep::kAppearMs : 0);
  }
  if (auto* tutorial = tutorialStep()) tutorial->setAnimated(milliseconds > 0);
}

std::vector<OnboardingStep> OnboardingView::dotSteps() const {
  return dots_->steps();
}

std::optional<OnboardingStep> OnboardingView::highlightedDot() const {
  return dots_->highlighted();
}

ChoiceCard* OnboardingView::languageCard(const std::string& code) const {
  auto found = languageCards_.find(code);
  return found == languageCards_.end() ? nullptr : found->second;
}

ChoiceCard* OnboardingView::purposeCard(const std::string& id) const {
  auto found = purposeCards_.find(id);
  return found == purposeCards_.end() ? nullptr : found->second;
}

TutorialStep* OnboardingView::tutorialStep() const {
  return dynamic_cast<TutorialStep*>(page_);
}

QWidget* OnboardingView::makePage(OnboardingStep step) {
  languageCards_.clear();
  purposeCards_.clear();
  languageScroll_ = nullptr;
  allow_ = relaunch_ = nullptr;
  trustedMark_ = accessibilityError_ = nullptr;
  relaunchHint_ = nullptr;
  switch (step) {
    case OnboardingStep::splash:
      return new SplashStep([this] { flow_->splashDone(); }, services_.windows.executor,
                            transitionMs_ > 0 ? SplashStep::kAppearMs : 0, area_);
    case OnboardingStep::language:
      return makeLanguagePage();
    case OnboardingStep::purpose:
      return makePurposePage();
    case OnboardingStep::accessibility:
      return makeAccessibilityPage();
    case OnboardingStep::tutorialTranslate:
    case OnboardingStep::tutorialQuickTranslate:
    case OnboardingStep::tutorialRefine: {
      const TutorialAction action = step == OnboardingStep::tutorialTranslate ? TutorialAction::translate
                                    : step == OnboardingStep::tutorialRefine  ? TutorialAction::refine
                                                                             : TutorialAction::quickTranslate;
      auto* page = new TutorialStep(action, flow_->languageCode(), flow_->tutorialDone(step),
                                    services_.windows, services_.analytics, area_);
      page->setAnimated(transitionMs_ > 0);
      page->setOnDone([this] { refresh(); });
      return page;
    }
  }
  return new QWidget(area_);
}

QWidget* OnboardingView::makeLanguagePage() {
  auto* page = new QWidget(area_);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header(std::nullopt, tr("What's your native language?"),
                           tr("Translations will be shown in this language. You can change it anytime in "
                              "Settings."),
                           page));
  auto* scroll = new CentringScrollArea(page);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  auto* grid = new QWidget(scroll);
  auto* cells = new QGridLayout(grid);
  cells->setContentsMargins(2, 2, 2, 2);
  cells->setHorizontalSpacing(kGridSpacing);
  cells->setVerticalSpacing(kGridSpacing);
  int index = 0;
  for (const Language& language : Language::all()) {
    auto* card = new ChoiceCard(std::nullopt, language.flag, QString::fromStdString(language.name), {}, grid);
    card->setEasingDuration(transitionMs_ > 0 ? ChoiceCard::kEasingMs : 0);
    card->setObjectName(QString::fromStdString(language.code));
    cells->addWidget(card, index / 3, index % 3);
    for (int column = 0; column < 3; ++column) cells->setColumnStretch(column, 1);
    languageCards_[language.code] = card;
    connect(card, &ChoiceCard::clicked, this, [this, code = language.code] { flow_->chooseLanguage(code); });
    ++index;
  }
  cells->setRowStretch(cells->rowCount(), 1);
  scroll->setWidget(grid);
  scroll->centreOn(languageCard(flow_->languageCode()));
  languageScroll_ = scroll;
  layout->addWidget(scroll, 1);
  return page;
}

QWidget* OnboardingView::makePurposePage() {
  auto* page = new QWidget(area_);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header(std::nullopt, tr("What brings you to Quorvelle?"),
                           tr("So we know which part matters most to you."), page));
  auto* list = new QWidget(page);
  list->setFixedWidth(kChoiceWidth);
  auto* rows = new QVBoxLayout(list);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(10);
  for (const OnboardingPurpose& purpose : onboardingPurposes()) {
    auto* card = new ChoiceCard(std::string(purpose.symbol), std::nullopt, qs(purpose.title),
                                qs(purpose.detail), list);
    card->setObjectName(qs(purpose.id));
    card->setEasingDuration(transitionMs_ > 0 ? ChoiceCard::kEasingMs : 0);
    rows->addWidget(card);
    purposeCards_[std::string(purpose.id)] = card;
    connect(card, &ChoiceCard::clicked, this,
            [this, id = std::string(purpose.id)] { flow_->choosePurpose(id); });
  }
  layout->addWidget(list, 0, Qt::AlignHCenter);
  layout->addStretch(1);
  return page;
}

QWidget* OnboardingView::makeAccessibilityPage() {
  auto* page = new QWidget(area_);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(
      header(std::string("accessibility"), tr("Enable Quorvelle"), tr(kAccessibilitySubtitle), page));

  // The permission's card: a faint rounded fill behind the row.
  class Card final : public QWidget {
   public:
    using QWidget::QWidget;

   protected:
    void paintEvent(QPaintEvent*) override {
      QPainter painter(this);
      painter.setRenderHint(QPainter::Antialiasing);
      QColor fill = palette().color(QPalette::WindowText);
      fill.setAlphaF(0.05f);
      QPainterPath shape;
      shape.addRoundedRect(QRectF(rect()), 14, 14);
      painter.fillPath(shape, fill);
    }
  };
  auto* card = new Card(page);
  card->setMaximumWidth(kChoiceWidth);
  auto* row = new QHBoxLayout(card);
  row->setContentsMargins(16, 16, 16, 16);
  row->setSpacing(14);
  auto* symbol = new QLabel(card);
  symbol->setPixmap(popupSymbolPixmap("accessibility", QColor(10, 110, 230), 28, devicePixelRatioF()));
  row->addWidget(symbol);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  auto* name = new QLabel(tr("Accessibility"), card);
  QFont headline = name->font();
  headline.setWeight(QFont::DemiBold);
  name->setFont(headline);
  texts->addWidget(name);
  texts->addWidget(secondaryLabel(tr("Allows Quorvelle to read the selected text"), card, 0.92));
  row->addLayout(texts);
  row->addStretch(1);
  trustedMark_ = new QLabel(card);
  trustedMark_->setPixmap(
      popupSymbolPixmap("checkmark.circle.fill", TutorialSample::doneColor(), 22, devicePixelRatioF()));
  row->addWidget(trustedMark_);
  allow_ = prominentButton(tr("Allow"), card);
  row->addWidget(allow_);
  layout->addWidget(card, 0, Qt::AlignHCenter);
  card->setMinimumWidth(kChoiceWidth);

  accessibilityError_ = new QLabel(tr(kAccessibilityHowTo), page);
  QFont caption = accessibilityError_->font();
  caption.setPointSizeF(caption.pointSizeF() * 0.85);
  accessibilityError_->setFont(caption);
  accessibilityError_->setWordWrap(true);
  accessibilityError_->setAlignment(Qt::AlignCenter);
  QPalette red = accessibilityError_->palette();
  red.setColor(QPalette::WindowText, QColor(210, 40, 40));
  accessibilityError_->setPalette(red);
  layout->addSpacing(12);
  layout->addWidget(accessibilityError_);

  relaunchHint_ = new QWidget(page);
  auto* hint = new QVBoxLayout(relaunchHint_);
  hint->setContentsMargins(0, 12, 0, 0);
  hint->setSpacing(6);
  hint->addWidget(secondaryLabel(tr(kRelaunchQuestion), relaunchHint_, 0.85), 0, Qt::AlignHCenter);
  relaunch_ = new QPushButton(tr("Relaunch Quorvelle"), relaunchHint_);
  relaunch_->setAutoDefault(false);
  hint->addWidget(relaunch_, 0, Qt::AlignHCenter);
  layout->addWidget(relaunchHint_);
  layout->addStretch(1);

  connect(allow_, &QPushButton::clicked, this, [this] { flow_->allowAccessibility(); });
  connect(relaunch_, &QPushButton::clicked, this, [this] { flow_->relaunch(); });
  return page;
}

void OnboardingView::refresh() {
  const OnboardingFlow& flow = *flow_;
  if (flow.step() != shownStep_) showStep();

  for (auto& [code, card] : languageCards_) card->setSelected(code == flow.languageCode());
  for (auto& [id, card] : purposeCards_) card->setSelected(flow.purpose() && *flow.purpose() == id);
  if (allow_) {
    const bool trusted = flow.isTrusted();
    allow_->setVisible(!trusted);
    trustedMark_->setVisible(trusted);
    accessibilityError_->setVisible(flow.accessibilitySettingsError() && !trusted);
    relaunchHint_->setVisible(flow.requestedAccessibility() && !trusted);
  }

  bottomBar_->setVisible(flow.showsBottomBar());
  back_->setVisible(flow.showsBack());
  dots_->set(flow.visibleSteps(), flow.step());
  skip_->setVisible(flow.showsSkip());
  continue_->setEnabled(flow.continueEnabled());
}

void OnboardingView::showStep() {
  const bool forward = flow_->direction() == OnboardingFlow::Direction::trailing;
  shownStep_ = flow_->step();
  // A slide under way ends first: its page is the one that leaves now.
  area_->finish();
  // Deleted later: the click that moved on may come from inside the page that leaves.
  QWidget* const leaving = page_;
  page_ = makePage(shownStep_);
  const QRect home = area_->rect();
  page_->setGeometry(home);
  takeFocusFromPages();
  if (transitionMs_ <= 0 || !isVisible()) {
    page_->show();
    leaving->hide();
    leaving->deleteLater();
    return;
  }
  QPointer<QWidget> old = leaving;
  area_->slide(leaving, page_, forward ? home.width() : -home.width(), transitionMs_, [old] {
    if (old) old->deleteLater();
  });
}

QAbstractAnimation* OnboardingView::transition() const {
  return area_->slideAnimation();
}

void OnboardingView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) flow_->shown();
}

void OnboardingView::keyPressEvent(QKeyEvent* event) {
  const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!isReturn || event->modifiers() & ~Qt::KeypadModifier) return QWidget::keyPressEvent(event);
  if (keepsReturn(QApplication::focusWidget())) return QWidget::keyPressEvent(event);
  event->accept();
  if (flow_->continueEnabled()) flow_->continueTapped();
}

}  // namespace quorvelle
