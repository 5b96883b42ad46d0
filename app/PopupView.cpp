#include "app/PopupView.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "app/ActivityIndicator.h"
#include "app/MiniActionButton.h"
#include "app/PopupStyle.h"
#include "app/PopupSymbols.h"
#include "app/RefinedVariantRow.h"
#include "app/SymbolButton.h"

namespace quorvelle {
namespace {

using popup_style::TextStyle;

constexpr double kCornerRadius = 12;
constexpr int kMaxInputLines = 4;

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

void setTextColor(QWidget* w, const QColor& color) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, color);
  p.setColor(QPalette::Text, color);
  w->setPalette(p);
}

// A wrapping label that shows its text as written (never as markup), selectable or not.
QLabel* makeLabel(const char* name, const QFont& font, bool selectable, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setFont(font);
  label->setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                            : Qt::NoTextInteraction);
  label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
  return label;
}

void setShownText(QLabel* label, const std::optional<std::string>& text) {
  if (text) label->setText(qs(*text));
  label->setVisible(text.has_value());
}

// A thin separator line of flexible width.
class Hairline : public QWidget {
 public:
  explicit Hairline(double thickness, QWidget* parent = nullptr) : QWidget(parent), thickness_(thickness) {
    setFixedHeight(static_cast<int>(std::ceil(thickness)));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QColor c = popup_style::separator(palette());
    if (thickness_ < 1) c.setAlphaF(static_cast<float>(c.alphaF() * thickness_));
    painter.fillRect(rect(), c);
  }

 private:
  double thickness_;
};

// The circled arrow between the input and the result.
class DirectionMarker : public QWidget {
 public:
  // A 9-pixel arrow with 4 pixels of padding all round.
  explicit DirectionMarker(QWidget* parent = nullptr) : QWidget(parent) { setFixedSize(17, 17); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(popup_style::quaternaryFill(palette()));
    painter.drawEllipse(QRectF(rect()));
    paintPopupSymbol(painter, "arrow.down", QRectF(rect()).adjusted(4, 4, -4, -4),
                     popup_style::secondary(palette()), 1.4);
  }
};

// The quick-translate target: the language's name in small capitals and a Tab key cap.
class TargetButton : public QAbstractButton {
 public:
  explicit TargetButton(QWidget* parent = nullptr) : QAbstractButton(parent) {
    setFont(popup_style::paneLabelFont());
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  }
  QSize sizeHint() const override {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()) + kSpacing + kCapWidth, std::max(fm.height(), kCapHeight)};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics fm(font());
    const int textWidth = fm.horizontalAdvance(text());
    painter.setPen(popup_style::secondary(palette()));
    painter.drawText(QRect(0, 0, textWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    const QRectF cap(textWidth + kSpacing, (height() - kCapHeight) / 2.0, kCapWidth, kCapHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(popup_style::quaternaryFill(palette()));
    painter.drawRoundedRect(cap, 3, 3);
    paintPopupSymbol(painter, "arrow.right.to.line", cap.adjusted(3, 2, -3, -2),
                     popup_style::tertiary(palette()), 1.3);
  }

 private:
  // An 8-pixel symbol with 3 pixels left and right and 2 above and below.
  static constexpr int kCapWidth = 14;
  static constexpr int kCapHeight = 12;
  static constexpr int kSpacing = 4;
};

// The input grows with its text; the view sets its height. Tab belongs to the popup (it switches the
// target), so it never types a tab character here.
class QuickInput : public QTextEdit {
 public:
  explicit QuickInput(QWidget* parent = nullptr) : QTextEdit(parent) {
    setAcceptRichText(false);
    setTabChangesFocus(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setStyleSheet("QTextEdit { background: transparent; }");
  }
};

}  // namespace

PopupView::PopupView(PopupModel& model, Callbacks callbacks, QWidget* parent)
    : QWidget(parent), model_(model), callbacks_(std::move(callbacks)) {
  setObjectName("popupView");
  openUrl_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  setAttribute(Qt::WA_TranslucentBackground);

  outer_ = new QVBoxLayout(this);
  outer_->setContentsMargins(PopupViewState::kPadding, PopupViewState::kPadding, PopupViewState::kPadding,
                             PopupViewState::kPadding);
  outer_->setSpacing(0);
  // Word-wrapped labels report a narrow, tall minimum size; the view's width is fixed per mode, so the
  // height must come from sizeHint() (laid out at that width), not from that minimum.
  outer_->setSizeConstraint(QLayout::SetNoConstraint);

  // The panel never grows past its screen: a longer content scrolls inside the card.
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName("contentScroll");
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->setWidgetResizable(true);
  scroll_->setAutoFillBackground(false);
  scroll_->viewport()->setAutoFillBackground(false);
  scroll_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  content_ = new QWidget;
  content_->setObjectName("content");
  content_->setAutoFillBackground(false);
  // Its height is its layout's height for the width (the word-wrapped labels' tall minimums would ask
  // for a scroll bar that nothing needs).
  content_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
  contentLayout_ = new QVBoxLayout(content_);
  contentLayout_->setContentsMargins(0, 0, 0, 0);
  contentLayout_->setSpacing(0);
  buildSelectionLayout();
  buildQuickTranslateLayout();
  contentLayout_->addWidget(selection_);
  contentLayout_->addWidget(quick_);
  contentLayout_->addStretch(1);
  scroll_->setWidget(content_);
  outer_->addWidget(scroll_);

  observer_ = model_.addObserver([this](PopupModel::Field) { render(); });
  render();
}

PopupView::~PopupView() {
  model_.removeObserver(observer_);
}

void PopupView::buildSelectionLayout() {
  selection_ = new QWidget(content_);
  selection_->setObjectName("selectionLayout");
  auto* v = new QVBoxLayout(selection_);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(8);

  wordHeader_ = new QWidget(selection_);
  wordHeader_->setObjectName("wordHeader");
  auto* header = new QHBoxLayout(wordHeader_);
  header->setContentsMargins(0, 0, 0, 0);
  header->setSpacing(8);
  word_ = makeLabel("word", popup_style::font(TextStyle::headline), false, wordHeader_);
  word_->setWordWrap(false);
  ipa_ = makeLabel("ipa", popup_style::monospacedSubheadline(), false, wordHeader_);
  ipa_->setWordWrap(false);
  setTextColor(ipa_, popup_style::secondary(palette()));
  play_ = new SymbolButton("speaker.wave.2.fill", popup_text::kPlayPronunciation, {14, 1, 1.0, false, false},
                           wordHeader_);
  play_->setObjectName("playButton");
  connect(play_, &QAbstractButton::clicked, this, [this] {
    if (callbacks_.onPlayAudio) callbacks_.onPlayAudio();
  });
  link_ = new SymbolButton("arrow.up.right.square", popup_text::kOpenDictionary, {14, 1, 1.0, false, true},
                           wordHeader_);
  link_->setObjectName("dictionaryLink");
  link_->setCursor(Qt::PointingHandCursor);
  connect(link_, &QAbstractButton::clicked, this, [this] {
    if (!state_.selection || !state_.selection->wordHeader) return;
    const auto& url = state_.selection->wordHeader->dictionaryUrl;
    if (url && openUrl_) openUrl_(QUrl(qs(*url), QUrl::StrictMode));
  });
  header->addWidget(word_);
  header->addWidget(ipa_);
  header->addWidget(play_);
  header->addStretch(1);
  header->addWidget(link_);
  v->addWidget(wordHeader_);

  loadingRow_ = new QWidget(selection_);
  loadingRow_->setObjectName("loadingRow");
  auto* loading = new QHBoxLayout(loadingRow_);
  loading->setContentsMargins(0, 0, 0, 0);
  loading->setSpacing(6);
  loading->addWidget(new ActivityIndicator(16, loadingRow_));
  loadingText_ = makeLabel("loadingText", popup_style::font(TextStyle::body), false, loadingRow_);
  loadingText_->setWordWrap(false);
  setTextColor(loadingText_, popup_style::secondary(palette()));
  loading->addWidget(loadingText_);
  loading->addStretch(1);
  v->addWidget(loadingRow_);

  translation_ = makeLabel("translation", popup_style::font(TextStyle::body), true, selection_);
  v->addWidget(translation_);

  refinedSection_ = new QWidget(selection_);
  refinedSection_->setObjectName("refinedSection");
  refinedLayout_ = new QVBoxLayout(refinedSection_);
  refinedLayout_->setContentsMargins(0, 0, 0, 0);
  refinedLayout_->setSpacing(4);
  v->addWidget(refinedSection_);

  definition_ = makeLabel("definition", popup_style::font(TextStyle::callout), true, selection_);
  setTextColor(definition_, popup_style::secondary(palette()));
  v->addWidget(definition_);

  error_ = makeLabel("error", popup_style::font(TextStyle::callout), false, selection_);
  setTextColor(error_, popup_style::errorText());
  v->addWidget(error_);

  notice_ = makeLabel("notice", popup_style::font(TextStyle::callout), false, selection_);
  setTextColor(notice_, popup_style::secondary(palette()));
  v->addWidget(notice_);
}

void PopupView::buildQuickTranslateLayout() {
  quick_ = new QWidget(content_);
  quick_->setObjectName("quickTranslateLayout");
  auto* v = new QVBoxLayout(quick_);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(8);

  sourceLabel_ = makeLabel("sourceLabel", popup_style::paneLabelFont(), false, quick_);
  sourceLabel_->setWordWrap(false);
  setTextColor(sourceLabel_, popup_style::secondary(palette()));
  v->addWidget(sourceLabel_);

  input_ = new QuickInput(quick_);
  input_->setObjectName("quickInput");
  input_->setFont(popup_style::font(TextStyle::title3));
  input_->setPlaceholderText(popup_text::kTypeToTranslate);
  connect(input_, &QTextEdit::textChanged, this, [this] { inputEdited(); });
  v->addWidget(input_);

  auto* divider = new QWidget(quick_);
  divider->setObjectName("directionDivider");
  auto* d = new QHBoxLayout(divider);
  d->setContentsMargins(0, 2, 0, 2);
  d->setSpacing(8);
  d->addWidget(new Hairline(0.5, divider), 1);
  d->addWidget(new DirectionMarker(divider));
  d->addWidget(new Hairline(0.5, divider), 1);
  v->addWidget(divider);

  auto* targetRow = new QWidget(quick_);
  auto* t = new QHBoxLayout(targetRow);
  t->setContentsMargins(0, 0, 0, 0);
  t->setSpacing(6);
  target_ = new TargetButton(targetRow);
  target_->setObjectName("targetButton");
  target_->setToolTip(popup_text::kSwitchTarget);
  connect(target_, &QAbstractButton::clicked, this, [this] {
    if (callbacks_.onToggleTarget) callbacks_.onToggleTarget();
  });
  quickSpinner_ = new ActivityIndicator(10, targetRow);
  quickSpinner_->setObjectName("quickSpinner");
  t->addWidget(target_);
  t->addWidget(quickSpinner_);
  t->addStretch(1);
  v->addWidget(targetRow);

  quickTranslationRow_ = new QWidget(quick_);
  quickTranslationRow_->setObjectName("quickTranslationRow");
  auto* r = new QHBoxLayout(quickTranslationRow_);
  r->setContentsMargins(0, 0, 0, 0);
  r->setSpacing(8);
  quickTranslation_ = makeLabel("quickTranslation", popup_style::font(TextStyle::title3, QFont::Medium), true,
                                quickTranslationRow_);
  quickIpa_ = makeLabel("quickIpa", popup_style::monospacedSubheadline(), false, quickTranslationRow_);
  quickIpa_->setWordWrap(false);
  setTextColor(quickIpa_, popup_style::secondary(palette()));
  quickPlay_ = new SymbolButton("speaker.wave.2.fill", popup_text::kPlayPronunciation,
                                {14, 1, 1.0, false, false}, quickTranslationRow_);
  quickPlay_->setObjectName("quickPlayButton");
  connect(quickPlay_, &QAbstractButton::clicked, this, [this] {
    if (callbacks_.onPlayAudio) callbacks_.onPlayAudio();
  });
  quickCopy_ = new MiniActionButton("doc.on.doc", popup_text::kCopy, [this] {
    // The translation, as the model holds it now: never the text the user typed.
    if (model_.translation() && callbacks_.onCopy) callbacks_.onCopy(model_.translation()->translated);
  });
  quickCopy_->setObjectName("quickCopyButton");
  r->addWidget(quickTranslation_, 0, Qt::AlignTop);
  r->addWidget(quickIpa_, 0, Qt::AlignTop);
  r->addWidget(quickPlay_, 0, Qt::AlignTop);
  r->addStretch(1);
  r->addWidget(quickCopy_, 0, Qt::AlignTop);
  v->addWidget(quickTranslationRow_);

  quickDefinition_ = makeLabel("quickDefinition", popup_style::font(TextStyle::callout), true, quick_);
  setTextColor(quickDefinition_, popup_style::secondary(palette()));
  v->addWidget(quickDefinition_);
  quickError_ = makeLabel("quickError", popup_style::font(TextStyle::callout), false, quick_);
  setTextColor(quickError_, popup_style::errorText());
  v->addWidget(quickError_);
  quickPlaceholder_ = makeLabel("quickPlaceholder", popup_style::font(TextStyle::title3), false, quick_);
  setTextColor(quickPlaceholder_, popup_style::tertiary(palette()));
  v->addWidget(quickPlaceholder_);
}

void PopupView::render() {
  state_ = PopupViewState::of(model_);
  setFixedWidth(state_.width);
  selection_->setVisible(state_.selection.has_value());
  quick_->setVisible(state_.quickTranslate.has_value());
  if (state_.selection) renderSelection(*state_.selection);
  if (state_.quickTranslate) renderQuickTranslate(*state_.quickTranslate);

  const bool wasQuick = shownMode_ == PopupMode::quickTranslate;
  const bool isQuick = state_.mode == PopupMode::quickTranslate;
  if (isQuick && !wasQuick) {
    // The layout has just come on screen: the user types at once.
    input_->setFocus(Qt::OtherFocusReason);
  } else if (isQuick && model_.focusToken() != shownFocusToken_) {
    // Reopened while already showing: move focus once the current update has finished.
    QTimer::singleShot(0, input_, [input = input_] { input->setFocus(Qt::OtherFocusReason); });
  }
  shownMode_ = state_.mode;
  shownFocusToken_ = model_.focusToken();
  // Nested layouts cache their children's heights per width; a changed text deep inside must reach
  // the card's height at once, because the panel is sized from sizeHint() right after a change.
  for (QWidget* w : findChildren<QWidget*>()) {
    if (w->layout()) w->layout()->invalidate();
    w->updateGeometry();
  }
  contentLayout_->invalidate();
  outer_->invalidate();
  updateGeometry();
  update();
}

void PopupView::renderSelection(const PopupViewState::SelectionLayout& s) {
  wordHeader_->setVisible(s.wordHeader.has_value());
  if (s.wordHeader) {
    word_->setText(qs(s.wordHeader->word));
    setShownText(ipa_, s.wordHeader->ipa);
    play_->setVisible(s.wordHeader->showsPlayButton);
    link_->setVisible(s.wordHeader->dictionaryUrl.has_value());
  }
  loadingRow_->setVisible(s.loadingText.has_value());
  if (s.loadingText) loadingText_->setText(qs(*s.loadingText));

  translation_->setFont(s.translationIsProminent ? popup_style::font(TextStyle::title3, QFont::Medium)
                                                 : popup_style::font(TextStyle::body));
  setShownText(translation_, s.translation);

  refinedSection_->setVisible(s.variants.has_value());
  const std::vector<std::string> variants = s.variants.value_or(std::vector<std::string>{});
  if (!shownVariants_ || *shownVariants_ != variants) rebuildVariants(variants);

  setShownText(definition_, s.definition);
  setShownText(error_, s.error);
  setShownText(notice_, s.notice);
}

void PopupView::rebuildVariants(const std::vector<std::string>& variants) {
  // Rows go later, not now: a row's own click may be what changed the model.
  while (QLayoutItem* item = refinedLayout_->takeAt(0)) {
    if (QWidget* w = item->widget()) {
      w->hide();
      w->deleteLater();
    }
    delete item;
  }
  for (std::size_t i = 0; i < variants.size(); ++i) {
    if (i > 0) {
      auto* holder = new QWidget(refinedSection_);
      holder->setObjectName("variantDivider");
      auto* h = new QHBoxLayout(holder);
      h->setContentsMargins(8, 0, 8, 0);
      h->addWidget(new Hairline(1, holder));
      refinedLayout_->addWidget(holder);
      holder->show();
    }
    auto* row = new RefinedVariantRow(variants[i], callbacks_.onCopy, callbacks_.onReplace, refinedSection_);
    refinedLayout_->addWidget(row);
    // A child added to a shown parent appears only on a later turn of the event loop; the panel is
    // sized before that, so show it now for it to count.
    row->show();
  }
  shownVariants_ = variants;
}

std::vector<RefinedVariantRow*> PopupView::variantRows() const {
  std::vector<RefinedVariantRow*> rows;
  for (int i = 0; i < refinedLayout_->count(); ++i) {
    if (auto* row = dynamic_cast<RefinedVariantRow*>(refinedLayout_->itemAt(i)->widget()))
      rows.push_back(row);
  }
  return rows;
}

void PopupView::renderQuickTranslate(const PopupViewState::QuickTranslateLayout& q) {
  sourceLabel_->setText(qs(q.sourceLabel));
  if (input_->toPlainText().toStdString() != q.input) {
    syncingInput_ = true;
    input_->setPlainText(qs(q.input));
    syncingInput_ = false;
  }
  resizeInput();
  target_->setText(qs(q.targetName));
  target_->updateGeometry();
  quickSpinner_->setVisible(q.showsSpinner);

  using Kind = PopupViewState::QuickResult::Kind;
  const auto& result = q.result;
  quickTranslationRow_->setVisible(result.kind == Kind::translation);
  if (result.kind == Kind::translation) {
    quickTranslation_->setText(qs(result.text));
    setShownText(quickIpa_, result.ipa);
    quickPlay_->setVisible(result.showsPlayButton);
  }
  setShownText(quickDefinition_,
               result.kind == Kind::translation ? result.definition : std::optional<std::string>{});
  setShownText(quickError_, result.kind == Kind::error ? std::optional(result.text) : std::nullopt);
  setShownText(quickPlaceholder_,
               result.kind == Kind::placeholder ? std::optional(result.text) : std::nullopt);
}

void PopupView::inputEdited() {
  resizeInput();
  if (syncingInput_) return;
  const std::string text = input_->toPlainText().toStdString();
  model_.setSourceText(text);
  if (callbacks_.onInput) callbacks_.onInput(text);
}

void PopupView::resizeInput() {
  const QFontMetricsF fm(input_->font());
  const double line = fm.lineSpacing();
  QTextDocument* doc = input_->document();
  doc->setTextWidth(state_.width - 2 * PopupViewState::kPadding);
  const double height = std::clamp(doc->size().height(), line, kMaxInputLines * line);
  const int fixed = static_cast<int>(std::ceil(height));
  if (input_->height() != fixed || input_->minimumHeight() != fixed) input_->setFixedHeight(fixed);
  input_->ensureCursorVisible();
}

QSize PopupView::sizeHint() const {
  const int width = state_.width;
  const int inner = width - 2 * PopupViewState::kPadding;
  contentLayout_->activate();
  const int content = contentLayout_->hasHeightForWidth() ? contentLayout_->totalHeightForWidth(inner)
                                                          : contentLayout_->totalSizeHint().height();
  return {width, content + 2 * PopupViewState::kPadding};
}

void PopupView::setTranslucent(bool translucent) {
  if (translucent_ == translucent) return;
  translucent_ = translucent;
  update();
}

void PopupView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!translucent_) {
    QColor fill = popup_style::material(palette());
    fill.setAlpha(255);
    painter.fillRect(rect(), fill);
    painter.setPen(QPen(popup_style::separator(palette()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(popup_style::separator(palette()), 1));
  painter.setBrush(popup_style::material(palette()));
  painter.drawRoundedRect(card, kCornerRadius, kCornerRadius);
}

}  // namespace quorvelle
