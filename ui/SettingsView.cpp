#include "ui/SettingsView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <cmath>
#include <string>
#include <utility>

#include "GlobalShortcuts/Recorder.h"
#include "app/Language.h"
#include "app/PopupSymbols.h"
#include "app/ShortcutNames.h"

namespace quorvelle {
namespace {

// The slider moves in steps this fine: continuous for the hand, and 0.125 falls on a step.
constexpr int kVolumeSteps = 1000;
constexpr int kVolumeSliderMaxWidth = 220;
constexpr int kPercentWidth = 40;
constexpr int kPromptHeight = 200;
constexpr int kSymbolSize = 16;
const QColor kSealGreen(52, 168, 83);
const QColor kWarningOrange(255, 149, 0);

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

QLabel* symbolLabel(std::string_view name, const QColor& color, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(popupSymbolPixmap(name, color, kSymbolSize, parent->devicePixelRatioF()));
  label->setFixedSize(kSymbolSize, kSymbolSize);
  return label;
}

QFont withPointSizeFactor(QFont font, double factor) {
  font.setPointSizeF(font.pointSizeF() * factor);
  return font;
}

// A pane's vertical stack: rows 12 apart.
QVBoxLayout* paneLayout(QWidget* pane) {
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(12);
  return layout;
}

// A row of a pane: "Shortcut" and the recorder of the named shortcut, at its own width.
GlobalShortcuts::Recorder* addShortcutRow(QVBoxLayout* layout, const GlobalShortcuts::Name& name,
                                          QWidget* pane) {
  auto* recorder = new GlobalShortcuts::Recorder(QObject::tr("Shortcut"), name, {}, pane);
  auto* row = new QHBoxLayout;
  row->addWidget(recorder);
  row->addStretch();
  layout->addLayout(row);
  return recorder;
}

// A sidebar row: symbol and title, the whole row clickable; the selected one on an accent-filled
// rounded rectangle in white.
class PaneRow final : public QAbstractButton {
 public:
  PaneRow(std::string symbol, const QString& title, QWidget* parent)
      : QAbstractButton(parent), symbol_(std::move(symbol)) {
    setText(title);
    setCheckable(true);
    setAutoExclusive(true);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(title);
  }

  QSize sizeHint() const override { return {kSidebarRowWidth, fontMetrics().height() + 12}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor textColor = isChecked() ? Qt::white : palette().color(QPalette::WindowText);
    if (isChecked()) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(palette().color(QPalette::Highlight));
      painter.drawRoundedRect(QRectF(rect()), 6, 6);
    }
    const int symbol = fontMetrics().height();
    const QRectF box(8, (height() - symbol) / 2.0, symbol, symbol);
    paintPopupSymbol(painter, symbol_, box, textColor);
    painter.setPen(textColor);
    painter.drawText(rect().adjusted(int(box.right()) + 8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
  }

 private:
  static constexpr int kSidebarRowWidth = SettingsView::kSidebarWidth - 20;
  std::string symbol_;
};

}  // namespace

SettingsView::SettingsView(const WindowServices& services, QWidget* parent)
    : QWidget(parent), model_(services) {
  setFixedSize(kWidth, kHeight);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(makeSidebar());
  auto* divider = new QFrame(this);
  divider->setFrameShape(QFrame::VLine);
  divider->setFrameShadow(QFrame::Plain);
  divider->setForegroundRole(QPalette::Mid);
  layout->addWidget(divider);

  auto* content = new QWidget(this);
  auto* contentLayout = new QVBoxLayout(content);
  contentLayout->setContentsMargins(0, 0, 0, 0);
  contentLayout->setSpacing(0);
  auto* scroll = new QScrollArea(content);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* scrolled = new QWidget(scroll);
  auto* scrolledLayout = new QVBoxLayout(scrolled);
  scrolledLayout->setContentsMargins(20, 42, 20, 20);
  scrolledLayout->setSpacing(14);
  panes_ = new QStackedWidget(scrolled);
  translatingPane_ = makeTranslatingPane();
  refiningPane_ = makeRefiningPane();
  panes_->addWidget(translatingPane_);
  panes_->addWidget(refiningPane_);
  scrolledLayout->addWidget(panes_);
  scrolledLayout->addStretch();
  scroll->setWidget(scrolled);
  contentLayout->addWidget(scroll, 1);
  contentLayout->addWidget(makeAccessibilityBar());
  layout->addWidget(content, 1);

  model_.setOnChange([this] { refresh(); });
  model_.setOnFocusKeyField([this] {
    if (keyField_->isVisible()) keyField_->setFocus(Qt::OtherFocusReason);
  });
  refresh();
}

SettingsView::~SettingsView() {
  // The controls go first, while the model that their signals reach still exists.
  qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

QWidget* SettingsView::makeSidebar() {
  auto* sidebar = new QWidget(this);
  sidebar->setFixedWidth(kSidebarWidth);
  sidebar->setAutoFillBackground(true);
  sidebar->setBackgroundRole(QPalette::AlternateBase);
  auto* layout = new QVBoxLayout(sidebar);
  layout->setContentsMargins(10, 28, 10, 10);
  layout->setSpacing(2);

  auto* head = new QHBoxLayout;
  head->setSpacing(8);
  auto* icon = new QLabel(sidebar);
  icon->setObjectName(QStringLiteral("applicationIcon"));
  const QIcon appIcon = QApplication::windowIcon();
  if (!appIcon.isNull()) icon->setPixmap(appIcon.pixmap(28, 28));
  icon->setFixedSize(28, 28);
  head->addWidget(icon);
  auto* title = new QLabel(QStringLiteral("Quorvelle"), sidebar);
  QFont titleFont = title->font();
  titleFont.setBold(true);
  title->setFont(withPointSizeFactor(titleFont, 1.15));
  head->addWidget(title, 1);
  layout->addLayout(head);
  layout->addSpacing(16);

  translatingButton_ = new PaneRow("globe", tr("Translating"), sidebar);
  refiningButton_ = new PaneRow("wand.and.stars", tr("Refining"), sidebar);
  for (auto [button, pane] :
       {std::pair{translatingButton_, Pane::translating}, {refiningButton_, Pane::refining}}) {
    layout->addWidget(button);
    connect(button, &QAbstractButton::clicked, this, [this, pane = pane] { model_.selectPane(pane); });
  }
  layout->addStretch();
  quit_ = new QPushButton(tr("Quit Quorvelle"), sidebar);
  quit_->setVisible(false);
  connect(quit_, &QPushButton::clicked, this, [this] {
    if (quitAction_) quitAction_();
  });
  layout->addWidget(quit_);
  return sidebar;
}

void SettingsView::setQuitAction(std::function<void()> quit) {
  quitAction_ = std::move(quit);
  quit_->setVisible(static_cast<bool>(quitAction_));
}

QWidget* SettingsView::makeTranslatingPane() {
  auto* pane = new QWidget;
  auto* layout = paneLayout(pane);

  auto addRow = [&](const QString& label, QWidget* control) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    if (!label.isEmpty()) row->addWidget(new QLabel(label, pane));
    row->addWidget(control);
    row->addStretch();
    layout->addLayout(row);
  };

  language_ = new QComboBox(pane);
  for (const Language& language : Language::all()) {
    language_->addItem(qs(language.flag + "  " + language.name), qs(language.code));
  }
  language_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  addRow(tr("Translate to"), language_);
  connect(language_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) model_.setLanguageCode(language_->itemData(index).toString().toStdString());
  });

  accent_ = new QComboBox(pane);
  accent_->addItem(tr("British (UK)"), QStringLiteral("uk"));
  accent_->addItem(tr("American (US)"), QStringLiteral("us"));
  accent_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  addRow(tr("Pronunciation"), accent_);
  connect(accent_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) model_.setAccent(accent_->itemData(index).toString().toStdString());
  });

  autoPlay_ = new QCheckBox(tr("Auto-play pronunciation"), pane);
  addRow({}, autoPlay_);
  connect(autoPlay_, &QCheckBox::toggled, this, [this](bool on) { model_.setAutoPlayPronunciation(on); });

  auto* volumeRow = new QHBoxLayout;
  volumeRow->setSpacing(8);
  volumeRow->addWidget(new QLabel(tr("Volume"), pane));
  volume_ = new QSlider(Qt::Horizontal, pane);
  volume_->setRange(0, kVolumeSteps);
  volume_->setMaximumWidth(kVolumeSliderMaxWidth);
  volumeRow->addWidget(volume_, 1);
  volumePercent_ = new QLabel(pane);
  volumePercent_->setFixedWidth(kPercentWidth);
  volumePercent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  volumePercent_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  volumePercent_->setForegroundRole(QPalette::PlaceholderText);
  volumeRow->addWidget(volumePercent_);
  volumeRow->addStretch();
  layout->addLayout(volumeRow);
  connect(volume_, &QSlider::valueChanged, this,
          [this](int value) { model_.setPronunciationVolume(double(value) / kVolumeSteps); });

  translateRecorder_ = addShortcutRow(layout, shortcuts::translate(), pane);
  // The rows keep their height at the top of a taller pane.
  layout->addStretch();
  return pane;
}

QWidget* SettingsView::makeRefiningPane() {
  auto* pane = new QWidget;
  auto* layout = paneLayout(pane);
  refineRecorder_ = addShortcutRow(layout, shortcuts::refine(), pane);

  layout->addWidget(makeKeySection(pane));

  auto* promptSection = new QVBoxLayout;
  promptSection->setSpacing(4);
  auto* promptHead = new QHBoxLayout;
  promptHead->addWidget(new QLabel(tr("Prompt"), pane));
  promptHead->addStretch();
  resetPrompt_ = new QPushButton(tr("Reset to default"), pane);
  resetPrompt_->setFont(withPointSizeFactor(resetPrompt_->font(), 0.85));
  promptHead->addWidget(resetPrompt_);
  promptSection->addLayout(promptHead);
  prompt_ = new QPlainTextEdit(pane);
  prompt_->setFixedHeight(kPromptHeight);
  prompt_->setFont(withPointSizeFactor(prompt_->font(), 0.95));
  prompt_->setObjectName(QStringLiteral("refinePrompt"));
  prompt_->setStyleSheet(
      QStringLiteral("#refinePrompt { border: 1px solid palette(mid); border-radius: 4px; }"));
  promptSection->addWidget(prompt_);
  layout->addLayout(promptSection);
  layout->addStretch();
  connect(resetPrompt_, &QPushButton::clicked, this, [this] { model_.resetPrompt(); });
  connect(prompt_, &QPlainTextEdit::textChanged, this,
          [this] { model_.setRefinePrompt(prompt_->toPlainText().toStdString()); });
  return pane;
}

QWidget* SettingsView::makeKeySection(QWidget* parent) {
  auto* section = new QWidget(parent);
  auto* layout = new QVBoxLayout(section);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);

  keyEntry_ = new QWidget(section);
  auto* entry = new QVBoxLayout(keyEntry_);
  entry->setContentsMargins(0, 0, 0, 0);
  entry->setSpacing(4);
  auto* entryRow = new QHBoxLayout;
  entryRow->setSpacing(8);
  entryRow->addWidget(new QLabel(tr("Gemini API key"), keyEntry_));
  keyField_ = new QLineEdit(keyEntry_);
  keyField_->setObjectName(QStringLiteral("geminiApiKey"));
  keyField_->setEchoMode(QLineEdit::Password);
  keyField_->setPlaceholderText(QStringLiteral("AIza…"));
  keyField_->setFont(mono);
  entryRow->addWidget(keyField_, 1);
  saveKey_ = new QPushButton(tr("Save"), keyEntry_);
  entryRow->addWidget(saveKey_);
  entry->addLayout(entryRow);
  keyCaption_ = new QLabel(keyEntry_);
  keyCaption_->setTextFormat(Qt::RichText);
  keyCaption_->setWordWrap(true);
  keyCaption_->setText(
      tr("Your own key from <a href=\"%1\">%1</a>. Stored in the desktop keyring and used for "
         "every Refine request.")
          .arg(QString::fromUtf8(SettingsModel::kKeyPageURL.data(),
                                 qsizetype(SettingsModel::kKeyPageURL.size()))));
  keyCaption_->setFont(withPointSizeFactor(keyCaption_->font(), 0.85));
  keyCaption_->setForegroundRole(QPalette::PlaceholderText);
  entry->addWidget(keyCaption_);
  layout->addWidget(keyEntry_);
  connect(keyField_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_.setGeminiKeyInput(text.toStdString()); });
  connect(keyField_, &QLineEdit::returnPressed, this, [this] { model_.saveGeminiKey(); });
  connect(saveKey_, &QPushButton::clicked, this, [this] { model_.saveGeminiKey(); });
  // The system's browser, through the session, rather than whatever Qt would pick.
  connect(keyCaption_, &QLabel::linkActivated, this, [this](const QString&) { model_.openKeyPage(); });

  keyStored_ = new QWidget(section);
  auto* stored = new QHBoxLayout(keyStored_);
  stored->setContentsMargins(0, 0, 0, 0);
  stored->setSpacing(8);
  stored->addWidget(new QLabel(tr("Gemini API key"), keyStored_));
  stored->addWidget(symbolLabel("checkmark.seal.fill", kSealGreen, keyStored_));
  maskedKey_ = new QLabel(keyStored_);
  maskedKey_->setFont(mono);
  stored->addWidget(maskedKey_);
  stored->addStretch();
  removeKey_ = new QPushButton(tr("Remove"), keyStored_);
  stored->addWidget(removeKey_);
  layout->addWidget(keyStored_);
  connect(removeKey_, &QPushButton::clicked, this, [this] { model_.removeGeminiKey(); });

  keyMessage_ = new QLabel(section);
  keyMessage_->setWordWrap(true);
  keyMessage_->setObjectName(QStringLiteral("keyMessage"));
  QPalette warning = keyMessage_->palette();
  warning.setColor(QPalette::WindowText, QColor(200, 40, 40));
  keyMessage_->setPalette(warning);
  keyMessage_->setFont(withPointSizeFactor(keyMessage_->font(), 0.85));
  layout->addWidget(keyMessage_);
  return section;
}

QWidget* SettingsView::makeAccessibilityBar() {
  accessibilityBar_ = new QWidget(this);
  auto* outer = new QVBoxLayout(accessibilityBar_);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  auto* divider = new QFrame(accessibilityBar_);
  divider->setFrameShape(QFrame::HLine);
  divider->setFrameShadow(QFrame::Plain);
  divider->setForegroundRole(QPalette::Mid);
  outer->addWidget(divider);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(20, 10, 20, 10);
  bar->setSpacing(8);
  bar->addWidget(symbolLabel("exclamationmark.triangle.fill", kWarningOrange, accessibilityBar_));
  auto* text =
      new QLabel(tr("Accessibility permission is needed to read the selected text."), accessibilityBar_);
  text->setFont(withPointSizeFactor(text->font(), 0.85));
  // Wrapped rather than cut where a larger font leaves it too little room beside the button.
  text->setWordWrap(true);
  bar->addWidget(text, 1);
  grant_ = new QPushButton(tr("Grant…"), accessibilityBar_);
  grant_->setFont(withPointSizeFactor(grant_->font(), 0.85));
  bar->addWidget(grant_);
  outer->addLayout(bar);
  accessibilityHelp_ = new QLabel(accessibilityBar_);
  accessibilityHelp_->setObjectName(QStringLiteral("accessibilityHelp"));
  accessibilityHelp_->setWordWrap(true);
  accessibilityHelp_->setFont(withPointSizeFactor(accessibilityHelp_->font(), 0.85));
  accessibilityHelp_->setContentsMargins(20, 0, 20, 10);
  outer->addWidget(accessibilityHelp_);
  connect(grant_, &QPushButton::clicked, this, [this] { model_.grantAccessibility(); });
  return accessibilityBar_;
}

QAbstractButton* SettingsView::paneButton(Pane pane) const {
  return pane == Pane::translating ? translatingButton_ : refiningButton_;
}

QWidget* SettingsView::paneWidget(Pane pane) const {
  return pane == Pane::translating ? translatingPane_ : refiningPane_;
}

void SettingsView::refresh() {
  const QSignalBlocker blockLanguage(language_), blockAccent(accent_), blockAutoPlay(autoPlay_),
      blockVolume(volume_), blockPrompt(prompt_), blockKey(keyField_);

  paneButton(model_.pane())->setChecked(true);
  panes_->setCurrentWidget(paneWidget(model_.pane()));

  // A stored code or accent that the table lacks selects no entry; the model keeps it as it is.
  language_->setCurrentIndex(language_->findData(qs(model_.languageCode())));
  accent_->setCurrentIndex(accent_->findData(qs(model_.accent())));
  autoPlay_->setChecked(model_.autoPlayPronunciation());
  volume_->setValue(int(std::lround(model_.pronunciationVolume() * kVolumeSteps)));
  volumePercent_->setText(qs(model_.volumePercentText()));

  // Only when it differs, so that typing keeps its cursor.
  const QString prompt = qs(model_.refinePrompt());
  if (prompt_->toPlainText() != prompt) prompt_->setPlainText(prompt);
  resetPrompt_->setEnabled(model_.resetPromptEnabled());

  keyEntry_->setVisible(!model_.hasGeminiKey());
  keyStored_->setVisible(model_.hasGeminiKey());
  const QString input = qs(model_.geminiKeyInput());
  if (keyField_->text() != input) keyField_->setText(input);
  saveKey_->setEnabled(model_.canSaveGeminiKey());
  maskedKey_->setText(qs(model_.maskedKeyText()));
  removeKey_->setEnabled(!model_.keyBusy());
  keyMessage_->setText(qs(model_.keyMessage()));
  keyMessage_->setVisible(!model_.keyMessage().empty());

  accessibilityBar_->setVisible(!model_.hasAccessibility());
  accessibilityHelp_->setText(qs(model_.accessibilityHelp()));
  accessibilityHelp_->setVisible(!model_.accessibilityHelp().empty());
}

void SettingsView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) model_.appear();
}

void SettingsView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) model_.disappear();
}

}  // namespace quorvelle
