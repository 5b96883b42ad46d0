#include "ui/TutorialStep.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>

#include "GlobalShortcuts/Recorder.h"
#include "app/PopupSymbols.h"
#include "app/ShortcutNames.h"
#include "ui/AnimationView.h"
#include "ui/CrossFade.h"
#include "ui/Easing.h"
#include "ui/FlowLayout.h"
#include "ui/TutorialSample.h"

namespace quorvelle {
namespace {

constexpr int kTitleSize = 22;
constexpr int kTitleGap = 24;
constexpr int kAnimationGap = 18;
constexpr int kCardPadding = 12;
constexpr int kCardSpacing = 10;
constexpr double kCardRadius = 14;
constexpr int kRowSpacing = 6;
constexpr int kLineSpacing = 4;
constexpr double kDoneBorderOpacity = 0.5;
// The key prompt gives way to the practice draft (and back) with an ease-out this long.
constexpr int kKeyPromptSwitchMs = 200;
constexpr int kStatusSize = 18;
constexpr int kKeyFieldMaxWidth = 280;
constexpr std::string_view kLinkText = "Get a free key";

QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* captionLabel(const QString& text, QWidget* parent, bool semibold) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  if (semibold) font.setWeight(QFont::DemiBold);
  label->setFont(font);
  return label;
}

// The words of a sentence, each to be its own label so that the sentence wraps around the shortcut's
// recorder like text; a dash goes with the word before it, so that no line starts with one.
QStringList words(std::string_view sentence) {
  QStringList result;
  for (const QString& word : qs(sentence).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (!result.isEmpty() && word == QStringLiteral("\u2014")) {
      result.back() += QLatin1Char(' ') + word;
    } else {
      result.append(word);
    }
  }
  return result;
}

}  // namespace

// Where the page's animation lies: up to the animation's own size, and smaller, keeping its shape, when
// the page needs the room for its card (a wrapped instruction, a key prompt with a message, a larger
// font). The animation is centred at the top of the area.
class TutorialStep::AnimationArea final : public QWidget {
 public:
  AnimationArea(AnimationView* view, QSize size, QWidget* parent)
      : QWidget(parent), view_(view), size_(size) {
    view_->setParent(this);
    view_->resize(size_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  }
  QSize sizeHint() const override { return size_; }
  QSize minimumSizeHint() const override { return {0, 0}; }

 protected:
  void resizeEvent(QResizeEvent*) override {
    const QSize fitted = size_.scaled(size(), Qt::KeepAspectRatio).boundedTo(size_);
    view_->setGeometry(QRect(QPoint((width() - fitted.width()) / 2, 0), fitted));
  }

 private:
  AnimationView* view_;
  QSize size_;
};

// The card behind the instructions: a faint rounded fill, and a green outline once the page is done.
class TutorialStep::Card final : public QWidget {
 public:
  explicit Card(QWidget* parent) : QWidget(parent) {
    border_ = new QVariantAnimation(this);
    border_->setObjectName(QStringLiteral("doneBorder"));
    border_->setDuration(springMs<400, 70>());
    border_->setEasingCurve(springCurve<400, 70>());
    connect(border_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
      borderOpacity_ = value.toDouble();
      update();
    });
  }
  // The green outline comes in with a spring when `animated`, at once otherwise.
  void setDone(bool done, bool animated) {
    const double target = done ? kDoneBorderOpacity : 0.0;
    if (border_->state() == QAbstractAnimation::Running && border_->endValue().toDouble() == target) return;
    border_->stop();
    if (!animated || !isVisible() || borderOpacity_ == target) {
      borderOpacity_ = target;
      update();
      return;
    }
    border_->setStartValue(borderOpacity_);
    border_->setEndValue(target);
    border_->start();
  }
  double borderOpacity() const { return borderOpacity_; }
  // As wide as a card may be, whichever part it shows, so that it keeps its width when they change.
  QSize sizeHint() const override { return {kCardMaxWidth, QWidget::sizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.05f);
    painter.fillPath(shape, fill);
    if (borderOpacity_ > 0) {
      QColor border = TutorialSample::doneColor();
      border.setAlphaF(static_cast<float>(std::clamp(borderOpacity_, 0.0, 1.0)));
      painter.strokePath(shape, QPen(border, 1));
    }
  }

 private:
  double borderOpacity_ = 0;
  QVariantAnimation* border_;
};

TutorialStep::TutorialStep(TutorialAction action, std::string languageCode, bool& done,
                           const WindowServices& services, Analytics& analytics, QWidget* parent)
    : QWidget(parent),
      model_(
          std::make_unique<TutorialStepModel>(action, std::move(languageCode), done, services, analytics)) {
  const TutorialPage& page = model_->page();
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(0);
  layout->setAlignment(Qt::AlignHCenter);

  title_ = new QLabel(qs(page.title), this);
  QFont titleFont = title_->font();
  titleFont.setPixelSize(kTitleSize);
  titleFont.setBold(true);
  title_->setFont(titleFont);
  title_->setAlignment(Qt::AlignCenter);
  layout->addWidget(title_);
  layout->addSpacing(kTitleGap);

  if (page.animation) {
    const TutorialAnimation& a = *page.animation;
    animation_ = new AnimationView(qs(a.name), QColor::fromRgbF(a.red, a.green, a.blue, a.opacity),
                                   services.executor, this);
    animationArea_ = new AnimationArea(animation_, QSize(qRound(a.width), qRound(a.height)), this);
    layout->addWidget(animationArea_);
    layout->addSpacing(kAnimationGap);
  }

  card_ = new Card(this);
  card_->setMaximumWidth(kCardMaxWidth);
  card_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  auto* cardLayout = new QVBoxLayout(card_);
  cardLayout->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
  // The practice row and draft, or the key prompt: only the one shown takes room.
  cardPages_ = new QWidget(card_);
  auto* pagesLayout = new QVBoxLayout(cardPages_);
  pagesLayout->setContentsMargins(0, 0, 0, 0);
  pagesLayout->setSpacing(0);
  cardLayout->addWidget(cardPages_);

  practice_ = new QWidget(cardPages_);
  auto* practiceLayout = new QVBoxLayout(practice_);
  practiceLayout->setContentsMargins(0, 0, 0, 0);
  practiceLayout->setSpacing(kCardSpacing);
  practiceLayout->addWidget(makeInstructionRow(practice_));
  if (page.sampleLines > 0) {
    const auto editing =
        action == TutorialAction::refine ? TutorialSample::Editing::editable : TutorialSample::Editing::fixed;
    sample_ = new TutorialSample(qs(model_->sample()), editing, page.sampleLines, practice_);
    sample_->setAccessibleName(QObject::tr("Practice text"));
    practiceLayout->addWidget(sample_);
    connect(sample_, &QPlainTextEdit::textChanged, this,
            [this] { model_->setSample(sample_->toPlainText().toStdString()); });
  }
  pagesLayout->addWidget(practice_);
  if (page.needsGeminiKey) pagesLayout->addWidget(makeKeyPrompt(cardPages_));
  layout->addWidget(card_, 0, Qt::AlignHCenter);
  layout->addStretch(1);

  model_->setOnChange([this] { refresh(); });
  refresh();
}

TutorialStep::~TutorialStep() = default;

QWidget* TutorialStep::card() const {
  return card_;
}

double TutorialStep::doneBorderOpacity() const {
  return card_->borderOpacity();
}

QWidget* TutorialStep::makeInstructionRow(QWidget* parent) {
  const TutorialPage& page = model_->page();
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(kRowSpacing);

  // The sentence with the recorder in it, wrapped within the card whatever the font.
  instruction_ = new QWidget(row);
  instruction_->setAccessibleName(qs(page.leadIn) + QLatin1Char(' ') + qs(page.followUp));
  // Each word carries the space after it (the one before it, after the recorder), so that the words
  // stand as far apart as in running text.
  auto* flow = new FlowLayout(instruction_, 0, kLineSpacing);
  const auto addWords = [&](std::string_view sentence, bool spaceBefore) {
    const QStringList all = words(sentence);
    for (qsizetype i = 0; i < all.size(); ++i) {
      const QString before = spaceBefore && i == 0 ? QStringLiteral(" ") : QString();
      flow->addWidget(new QLabel(before + all[i] + QLatin1Char(' '), instruction_));
    }
  };
  addWords(page.leadIn, false);
  const GlobalShortcuts::Name name =
      page.shortcutName == "refine" ? shortcuts::refine() : shortcuts::translate();
  recorder_ = new GlobalShortcuts::Recorder(
      name, [this](const auto&) { model_->hotkeyChanged(); }, instruction_);
  flow->addWidget(recorder_);
  addWords(page.followUp, true);
  QSizePolicy wraps(QSizePolicy::Preferred, QSizePolicy::Preferred);
  wraps.setHeightForWidth(true);
  instruction_->setSizePolicy(wraps);
  layout->addWidget(instruction_, 1);

  status_ = new QLabel(row);
  status_->setFixedSize(kStatusSize, kStatusSize);
  layout->addWidget(status_, 0, Qt::AlignVCenter);
  return row;
}

QWidget* TutorialStep::makeKeyPrompt(QWidget* parent) {
  keyPrompt_ = new QWidget(parent);
  auto* outer = new QVBoxLayout(keyPrompt_);
  outer->setContentsMargins(0, 4, 0, 4);

  keyAsk_ = new QWidget(keyPrompt_);
  auto* ask = keyAsk_;
  auto* askLayout = new QVBoxLayout(ask);
  // Each item centres itself; the wrapped sentence takes the whole width, so it wraps only when it must.
  askLayout->setSpacing(8);
  auto* keySymbol = new QLabel(ask);
  keySymbol->setPixmap(
      popupSymbolPixmap("key.fill", palette().color(QPalette::Highlight), kStatusSize, devicePixelRatioF()));
  askLayout->addWidget(keySymbol, 0, Qt::AlignHCenter);
  auto* needs = captionLabel(QObject::tr("Refining needs a Gemini API key"), ask, true);
  needs->setAlignment(Qt::AlignCenter);
  needs->setWordWrap(true);
  askLayout->addWidget(needs);
  addKey_ = new QPushButton(QObject::tr("Add key"), ask);
  addKey_->setDefault(true);
  askLayout->addWidget(addKey_, 0, Qt::AlignHCenter);
  connect(addKey_, &QPushButton::clicked, this, [this] {
    model_->addKey();
    // Straight into the field, where the user pastes the key.
    keyField_->setFocus();
  });
  outer->addWidget(ask);

  keyForm_ = new QWidget(keyPrompt_);
  auto* form = keyForm_;
  auto* formLayout = new QVBoxLayout(form);
  formLayout->setSpacing(8);
  formLayout->setAlignment(Qt::AlignHCenter);
  formLayout->addWidget(captionLabel(QObject::tr("Paste your Gemini API key"), form, true), 0,
                        Qt::AlignHCenter);
  keyField_ = new QLineEdit(form);
  keyField_->setEchoMode(QLineEdit::Password);
  keyField_->setAccessibleName(QObject::tr("Gemini API key"));
  keyField_->setPlaceholderText(QStringLiteral("AIza\u2026"));
  keyField_->setFixedWidth(kKeyFieldMaxWidth);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  keyField_->setFont(mono);
  formLayout->addWidget(keyField_, 0, Qt::AlignHCenter);
  saveKey_ = new QPushButton(QObject::tr("Save"), form);
  saveKey_->setDefault(true);
  formLayout->addWidget(saveKey_, 0, Qt::AlignHCenter);
  keyLink_ = captionLabel(QStringLiteral("<a href=\"key\">%1</a>").arg(qs(kLinkText)), form, false);
  keyLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  formLayout->addWidget(keyLink_, 0, Qt::AlignHCenter);
  outer->addWidget(form);

  // Below the pages rather than in one, so that a wrapped message gets the height it needs.
  keyMessage_ = captionLabel({}, keyPrompt_, false);
  keyMessage_->setWordWrap(true);
  keyMessage_->setAlignment(Qt::AlignCenter);
  QPalette warning = keyMessage_->palette();
  warning.setColor(QPalette::WindowText, QColor(200, 40, 40));
  keyMessage_->setPalette(warning);
  outer->addWidget(keyMessage_);

  connect(keyField_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->setKeyInput(text.toStdString()); });
  connect(keyField_, &QLineEdit::returnPressed, this, [this] { model_->saveKey(); });
  connect(saveKey_, &QPushButton::clicked, this, [this] { model_->saveKey(); });
  connect(keyLink_, &QLabel::linkActivated, this, [this](const QString&) { model_->openKeyPage(); });
  return keyPrompt_;
}

void TutorialStep::setAnimated(bool animated) {
  animated_ = animated;
  if (sample_) sample_->setEasingDuration(animated ? TutorialSample::kDoneEasingMs : 0);
}

void TutorialStep::refresh() {
  const bool done = model_->done();
  const QString symbol = done ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle.dashed");
  if (status_->objectName() != symbol) {
    // The completion's spring: the check mark comes in as the dashed circle goes.
    if (animated_ && !status_->objectName().isEmpty()) {
      CrossFade::start(status_, springMs<400, 60>(), springCurve<400, 60>(), QStringLiteral("statusSymbol"));
    }
    status_->setPixmap(popupSymbolPixmap(
        symbol.toStdString(), done ? TutorialSample::doneColor() : palette().color(QPalette::PlaceholderText),
        kStatusSize, devicePixelRatioF()));
    status_->setObjectName(symbol);
  }
  card_->setDone(done, animated_);
  if (sample_) {
    sample_->setDone(done);
    const QString text = qs(model_->sample());
    // Puts the fixed word back after an edit; leaves the cursor alone when nothing differs.
    if (sample_->toPlainText() != text) sample_->setPlainText(text);
  }
  if (keyPrompt_) {
    QWidget* const shown = model_->showsKeyPrompt() ? keyPrompt_ : practice_;
    QWidget* const hidden = shown == practice_ ? keyPrompt_ : practice_;
    // Not while the keyring's first answer decides what the card shows: only the user's changes ease.
    if (shown->isHidden() && animated_ && keyDecided_) {
      CrossFade::start(cardPages_, kKeyPromptSwitchMs, easeOut(), QStringLiteral("keyPromptSwitch"));
    }
    hidden->hide();
    shown->show();
    keyDecided_ = model_->keyChecked();
    keyForm_->setVisible(model_->editingKey());
    keyAsk_->setVisible(!model_->editingKey());
    const QString input = QString::fromStdString(model_->keyInput());
    if (keyField_->text() != input) keyField_->setText(input);
    saveKey_->setEnabled(model_->canSaveKey());
    keyField_->setReadOnly(model_->keyBusy());
    keyMessage_->setText(QString::fromStdString(model_->keyMessage()));
    keyMessage_->setVisible(!model_->keyMessage().empty());
  }
  if (done && !shownDone_) {
    shownDone_ = true;
    if (onDone_) onDone_();
  }
}

}  // namespace quorvelle
