#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QWheelEvent>
#include <string>
#include <vector>

#include "app/MiniActionButton.h"
#include "app/PopupModel.h"
#include "app/PopupView.h"
#include "app/RefinedVariantRow.h"

namespace {

using quorvelle::DictionaryEntry;
using quorvelle::PopupMode;
using quorvelle::PopupModel;
using quorvelle::PopupView;
using quorvelle::RefinedVariantRow;
using quorvelle::TranslationResult;
using Strings = std::vector<std::string>;

// Records every callback the view makes, in order, as "name:argument".
class PopupViewTest : public testing::Test {
 protected:
  PopupViewTest() {
    view.setUrlOpener([this](const QUrl& url) { calls.push_back("open:" + url.toString().toStdString()); });
    view.show();
  }

  PopupView::Callbacks callbacks() {
    return {[this] { calls.push_back("play"); },
            [this](const std::string& t) { calls.push_back("copy:" + t); },
            [this](const std::string& t) { calls.push_back("replace:" + t); },
            [this](const std::string& t) { calls.push_back("input:" + t); },
            [this] { calls.push_back("toggle"); }};
  }

  template <class T = QWidget>
  T* child(const char* name) {
    auto* w = view.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  bool shown(const char* name) { return child(name)->isVisibleTo(&view); }
  std::string text(const char* name) { return child<QLabel>(name)->text().toStdString(); }
  // Lays the view out as the panel would, so clicks land on what is shown.
  void settle() {
    view.resize(view.sizeHint());
    QApplication::processEvents();
  }
  void click(const char* name) {
    settle();
    QTest::mouseClick(child(name), Qt::LeftButton);
  }

  void showWord() {
    model.reset("Hello", PopupMode::translate, true);
    model.setTranslation(TranslationResult{"Привет"});
    model.setEntry(DictionaryEntry{"/həˈləʊ/", "Used as a greeting.", "https://a.example/hello.mp3",
                                   "https://dictionary.example/hello"});
    model.setLoading(false);
  }

  PopupModel model;
  Strings calls;
  PopupView view{model, callbacks()};
};

TEST_F(PopupViewTest, WordShowsHeaderTranslationAndDefinitionWithTheirActions) {
  showWord();
  EXPECT_EQ(text("word"), "Hello");
  EXPECT_EQ(text("ipa"), "/həˈləʊ/");
  EXPECT_EQ(text("translation"), "Привет");
  EXPECT_EQ(text("definition"), "Used as a greeting.");
  EXPECT_TRUE(shown("playButton") && shown("dictionaryLink"));
  EXPECT_FALSE(shown("loadingRow") || shown("refinedSection") || shown("error") ||
               shown("quickTranslateLayout"));
  EXPECT_EQ(child("playButton")->toolTip(), "Play pronunciation");
  EXPECT_EQ(child("dictionaryLink")->toolTip(), "Open in Cambridge Dictionary");
  // A word's translation is larger than a phrase's.
  EXPECT_GT(child("translation")->font().pixelSize(), child("definition")->font().pixelSize());

  click("playButton");
  click("dictionaryLink");
  EXPECT_EQ(calls, (Strings{"play", "open:https://dictionary.example/hello"}));

  EXPECT_EQ(view.sizeHint().width(), 340);
  EXPECT_EQ(child("selectionLayout")->width(), 340 - 28);
}

TEST_F(PopupViewTest, TranslationAndDefinitionAreSelectableTheErrorIsNot) {
  showWord();
  model.setErrorMessage("The <b>service</b> failed.");
  EXPECT_TRUE(child<QLabel>("translation")->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_TRUE(child<QLabel>("definition")->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_EQ(child<QLabel>("error")->textInteractionFlags(), Qt::NoTextInteraction);
  // Texts from the backend are shown as written, never read as markup.
  EXPECT_EQ(child<QLabel>("error")->textFormat(), Qt::PlainText);
  EXPECT_EQ(text("error"), "The <b>service</b> failed.");
}

TEST_F(PopupViewTest, LoadingRowNamesTheRequestAndTheViewFollowsTheModel) {
  model.reset("draft text", PopupMode::refine, false);
  EXPECT_TRUE(shown("loadingRow"));
  EXPECT_EQ(text("loadingText"), "Refining…");
  EXPECT_FALSE(shown("wordHeader"));
  EXPECT_EQ(view.sizeHint().width(), 440);

  model.reset("Hello", PopupMode::translate, true);
  EXPECT_EQ(text("loadingText"), "Translating…");
  EXPECT_TRUE(shown("wordHeader"));
  EXPECT_FALSE(shown("playButton") || shown("dictionaryLink") || shown("ipa"));

  // A longer result makes the popup taller at the same width.
  model.setLoading(false);
  const int before = view.sizeHint().height();
  model.setTranslation(
      TranslationResult{"one two three four five six seven eight nine ten eleven twelve thirteen "
                        "fourteen fifteen sixteen seventeen eighteen nineteen twenty"});
  EXPECT_GT(view.sizeHint().height(), before + 20);
}

TEST_F(PopupViewTest, VariantRowsReplaceOrCopyTheirOwnVariant) {
  model.reset("draft", PopupMode::refine, false);
  model.setRefined("First.\n---\nSecond,\nin two lines.\n---\nThird.");
  model.setLoading(false);
  settle();
  const auto rows = view.variantRows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(child("refinedSection")->findChildren<QWidget*>("variantDivider").size(), 2u);
  EXPECT_EQ(rows[1]->variant(), "Second,\nin two lines.");
  EXPECT_EQ(rows[1]->toolTip(), "Click to replace the selected text");
  EXPECT_EQ(rows[1]->cursor().shape(), Qt::PointingHandCursor);

  // Hover shows the strip on that row only.
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(rows[1], &enter);
  EXPECT_TRUE(rows[1]->isHovering());
  EXPECT_TRUE(rows[1]->copyButton()->isVisibleTo(rows[1]));
  EXPECT_FALSE(rows[0]->copyButton()->isVisibleTo(rows[0]));
  EXPECT_EQ(rows[1]->copyButton()->toolTip(), "Copy");
  EXPECT_EQ(rows[1]->replaceButton()->toolTip(), "Replace the selected text");

  QTest::mouseClick(rows[1]->copyButton(), Qt::LeftButton);
  QTest::mouseClick(rows[1]->replaceButton(), Qt::LeftButton);
  QTest::mouseClick(rows[2], Qt::LeftButton);
  // A press that leaves the row before release is no click.
  QTest::mousePress(rows[0], Qt::LeftButton, {}, QPoint(4, 4));
  QTest::mouseRelease(rows[0], Qt::LeftButton, {}, QPoint(-40, 4));
  EXPECT_EQ(calls,
            (Strings{"copy:Second,\nin two lines.", "replace:Second,\nin two lines.", "replace:Third."}));

  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(rows[1], &leave);
  EXPECT_FALSE(rows[1]->isHovering());
  EXPECT_FALSE(rows[1]->copyButton()->isVisibleTo(rows[1]));
}

TEST_F(PopupViewTest, QuickTranslateReportsEveryEditAndCopiesTheTranslation) {
  model.reset("left over from refine", PopupMode::refine, false);
  // Switching into quick translate empties the text in the same update and reports nothing.
  model.reset("", PopupMode::quickTranslate, false);
  model.setLoading(false);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(text("sourceLabel"), "ANY LANGUAGE");
  EXPECT_EQ(child<QTextEdit>("quickInput")->placeholderText(), "Type to translate…");
  EXPECT_TRUE(shown("quickPlaceholder"));
  EXPECT_FALSE(shown("quickSpinner") || shown("quickTranslationRow") || shown("quickError"));
  EXPECT_EQ(view.sizeHint().width(), 380);

  auto* input = child<QTextEdit>("quickInput");
  QTest::keyClicks(input, "Hi ");
  EXPECT_EQ(calls, (Strings{"input:H", "input:Hi", "input:Hi "}));
  EXPECT_EQ(model.sourceText(), "Hi ");

  model.setTranslation(TranslationResult{"Привет"});
  model.setErrorMessage("stale");
  EXPECT_TRUE(shown("quickTranslationRow"));
  EXPECT_FALSE(shown("quickError") || shown("quickPlaceholder"));
  EXPECT_FALSE(shown("quickPlayButton"));
  EXPECT_EQ(child("quickCopyButton")->toolTip(), "Copy");
  click("quickCopyButton");
  EXPECT_EQ(calls.back(), "copy:Привет");

  model.setTranslation(std::nullopt);
  EXPECT_TRUE(shown("quickError"));
  EXPECT_EQ(text("quickError"), "stale");
}

TEST_F(PopupViewTest, TargetButtonShowsTheLanguageAndToggles) {
  model.reset("", PopupMode::quickTranslate, false);
  settle();
  auto* target = child<QAbstractButton>("targetButton");
  EXPECT_EQ(target->text(), "ENGLISH");
  EXPECT_EQ(target->toolTip(), "Switch the result language (Tab)");
  EXPECT_EQ(target->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseClick(target, Qt::LeftButton);
  EXPECT_EQ(calls, Strings{"toggle"});
  model.setQuickTarget("ru");
  EXPECT_EQ(target->text(), "RUSSIAN");
  model.setLoading(true);
  EXPECT_TRUE(shown("quickSpinner"));

  // Tab never types into the input: the popup uses it to switch the target.
  auto* input = child<QTextEdit>("quickInput");
  EXPECT_TRUE(input->tabChangesFocus());
}

TEST_F(PopupViewTest, InputGrowsToFourLinesThenScrolls) {
  model.reset("", PopupMode::quickTranslate, false);
  auto* input = child<QTextEdit>("quickInput");
  const int oneLine = input->height();
  model.setSourceText("a\nb");
  const int twoLines = input->height();
  EXPECT_GT(twoLines, oneLine);
  model.setSourceText("a\nb\nc\nd");
  const int fourLines = input->height();
  EXPECT_GT(fourLines, twoLines);
  model.setSourceText("a\nb\nc\nd\ne\nf\ng");
  EXPECT_EQ(input->height(), fourLines);
  // Text the model holds is not an edit: nothing reported.
  EXPECT_TRUE(calls.empty());
}

TEST_F(PopupViewTest, FocusGoesToTheInputWhenQuickTranslateOpensAndReopens) {
  view.activateWindow();
  model.reset("text", PopupMode::translate, false);
  auto* input = child<QTextEdit>("quickInput");
  model.reset("", PopupMode::quickTranslate, false);
  EXPECT_EQ(view.focusWidget(), input);

  // Focus moved away, then quick translate is opened again while it shows.
  auto* translation = child<QLabel>("quickTranslation");
  model.setTranslation(TranslationResult{"x"});
  translation->setFocus();
  ASSERT_EQ(view.focusWidget(), translation);
  model.raiseFocusToken();
  // Deferred to a later turn of the event loop.
  EXPECT_EQ(view.focusWidget(), translation);
  QApplication::processEvents();
  EXPECT_EQ(view.focusWidget(), input);
}

// A card shorter than its content (the panel keeps to its screen) scrolls it; at its full height nothing
// scrolls.
TEST_F(PopupViewTest, ContentTallerThanTheCardScrolls) {
  model.reset(QString("long text ").repeated(370).toStdString(), PopupMode::translate, false);
  model.setTranslation(TranslationResult{QString("traduction longue ").repeated(200).toStdString()});
  model.setLoading(false);
  auto* bar = child<QScrollArea>("contentScroll")->verticalScrollBar();
  settle();
  EXPECT_EQ(bar->maximum(), 0);

  view.resize(view.sizeHint().width(), 400);
  QApplication::processEvents();
  EXPECT_GT(bar->maximum(), 0);
  QWidget* viewport = child<QScrollArea>("contentScroll")->viewport();
  const QPoint inside = viewport->rect().center();
  QWheelEvent wheel(inside, viewport->mapToGlobal(inside), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(viewport, &wheel);
  EXPECT_GT(bar->value(), 0);
}

}  // namespace
