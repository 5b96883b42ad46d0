#include "ui/TutorialStep.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "GlobalShortcuts/Recorder.h"
#include "app/PopupSymbols.h"
#include "app/ShortcutNames.h"
#include "ui/AnimationView.h"
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

}  // namespace

// The card behind the instructions: a faint rounded fill, and a green outline once the page is done.
class TutorialStep::Card final : public QWidget {
 public:
  using QWidget::QWidget;
  void setDone(bool done) {
    done_ = done;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.05f);
    painter.fillPath(shape, fill);
    if (done_) {
      QColor border = TutorialSample::doneColor();
      border.setAlphaF(0.5f);
      painter.strokePath(shape, QPen(border, 1));
    }
  }

 private:
  bool done_ = false;
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
    animation_->setFixedSize(qRound(a.width), qRound(a.height));
    layout->addWidget(animation_, 0, Qt::AlignHCenter);
    layout->addSpacing(kAnimationGap);
  }

  card_ = new Card(this);
  card_->setMaximumWidth(kCardMaxWidth);
  card_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  auto* cardLayout = new QVBoxLayout(card_);
  cardLayout->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
  cardPages_ = new QStackedWidget(card_);
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
  cardPages_->addWidget(practice_);
  if (page.needsGeminiKey) cardPages_->addWidget(makeKeyPrompt(cardPages_));
  layout->addWidget(card_, 0, Qt::AlignHCenter);
  layout->addStretch(1);

  model_->setOnChange([this] { refresh(); });
  refresh();
}

TutorialStep::~TutorialStep() = default;

QWidget* TutorialStep::makeInstructionRow(QWidget* parent) {
  const TutorialPage& page = model_->page();
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(kRowSpacing);
  layout->addWidget(new QLabel(qs(page.leadIn), row));
  const GlobalShortcuts::Name name =
      page.shortcutName == "refine" ? shortcuts::refine() : shortcuts::translate();
  recorder_ = new GlobalShortcuts::Recorder(
      name, [this](const auto&) { model_->hotkeyChanged(); }, row);
  layout->addWidget(recorder_);
  if (!page.followUp.empty()) layout->addWidget(new QLabel(qs(page.followUp), row));
  layout->addStretch(1);
  status_ = new QLabel(row);
  status_->setFixedSize(kStatusSize, kStatusSize);
  layout->addWidget(status_);
  return row;
}

QWidget* TutorialStep::makeKeyPrompt(QWidget* parent) {
  keyPrompt_ = new QWidget(parent);
  auto* outer = new QVBoxLayout(keyPrompt_);
  outer->setContentsMargins(0, 4, 0, 4);
  keyPages_ = new QStackedWidget(keyPrompt_);
  outer->addWidget(keyPages_);

  auto* ask = new QWidget(keyPages_);
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
  keyPages_->addWidget(ask);

  auto* form = new QWidget(keyPages_);
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
  keyPages_->addWidget(form);

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

void TutorialStep::refresh() {
  const bool done = model_->done();
  status_->setPixmap(
      popupSymbolPixmap(done ? "checkmark.circle.fill" : "circle.dashed",
                        done ? TutorialSample::doneColor() : palette().color(QPalette::PlaceholderText),
                        kStatusSize, devicePixelRatioF()));
  status_->setObjectName(done ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle.dashed"));
  card_->setDone(done);
  if (sample_) {
    sample_->setDone(done);
    const QString text = qs(model_->sample());
    // Puts the fixed word back after an edit; leaves the cursor alone when nothing differs.
    if (sample_->toPlainText() != text) sample_->setPlainText(text);
  }
  if (keyPrompt_) {
    cardPages_->setCurrentWidget(model_->showsKeyPrompt() ? keyPrompt_ : practice_);
    keyPages_->setCurrentIndex(model_->editingKey() ? 1 : 0);
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
