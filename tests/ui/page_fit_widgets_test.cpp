// Every onboarding and tutorial page, and the settings window, shows its texts whole, at Qt's default font
// and at 11 points: no label, button or shortcut field gets less room than its text needs or lies outside
// what shows it, and the refine page's title, animation and card never overlap.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTextDocumentFragment>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "app/AppNotifications.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/ui/OnboardingWorld.h"
#include "ui/AnimationView.h"
#include "ui/OnboardingView.h"
#include "ui/SettingsView.h"
#include "ui/TutorialStep.h"

namespace quorvelle {
namespace {

using Step = OnboardingStep;

// The application's font for one test, as a desktop setting would give it.
class AppFont {
 public:
  explicit AppFont(double pointSize) : before_(QApplication::font()) {
    if (pointSize <= 0) return;
    QFont font = before_;
    font.setPointSizeF(pointSize);
    QApplication::setFont(font);
  }
  ~AppFont() { QApplication::setFont(before_); }

 private:
  QFont before_;
};

// Every text on `top` that is shown cut: a description of each.
std::vector<std::string> cutTexts(QWidget* top) {
  std::vector<std::string> cut;
  const auto check = [&](QWidget* widget, const QString& text, QSize needed) {
    if (!widget->isVisibleTo(top) || text.isEmpty()) return;
    const std::string what =
        widget->metaObject()->className() + std::string(" \"") + text.toStdString() + "\"";
    if (widget->width() < needed.width() || widget->height() < needed.height()) {
      cut.push_back(what + " needs " + std::to_string(needed.width()) + "x" +
                    std::to_string(needed.height()) + ", has " + std::to_string(widget->width()) + "x" +
                    std::to_string(widget->height()));
    }
    // Within every ancestor up to the window (or up to the content of a scroll area, which scrolls).
    for (QWidget* w = widget; w != top && w->parentWidget() != nullptr; w = w->parentWidget()) {
      QWidget* parent = w->parentWidget();
      if (qobject_cast<QAbstractScrollArea*>(parent->parentWidget())) break;
      const QRect inParent(widget->mapTo(parent, QPoint(0, 0)), widget->size());
      if (!parent->rect().contains(inParent)) {
        cut.push_back(what + " lies outside its " + parent->metaObject()->className());
        break;
      }
    }
  };
  for (QLabel* label : top->findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    if (label->wordWrap()) {
      check(label, label->text(), {0, label->heightForWidth(label->width())});
      // A single word wider than the label is cut too.
      const bool rich = label->textFormat() == Qt::RichText ||
                        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
      const QString shown =
          rich ? QTextDocumentFragment::fromHtml(label->text()).toPlainText() : label->text();
      for (const QString& word : shown.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (label->fontMetrics().horizontalAdvance(word) > label->width())
          check(label, word, {label->width() + 1, 0});
      }
    } else {
      check(label, label->text(), label->sizeHint());
    }
  }
  for (QPushButton* button : top->findChildren<QPushButton*>())
    check(button, button->text(), button->sizeHint());
  for (auto* field : top->findChildren<GlobalShortcuts::RecorderCocoa*>()) {
    // The shortcut centred clear of the clear button.
    const int icon = field->style()->pixelMetric(QStyle::PM_SmallIconSize);
    check(field, field->text(), {field->fontMetrics().horizontalAdvance(field->text()) + 2 * icon, 0});
  }
  return cut;
}

struct PageCase {
  const char* name;
  std::function<void(test::OnboardingWorld&)> arrange;
  std::function<void(test::OnboardingWorld&, OnboardingView&)> act;
};

void toPurpose(test::OnboardingWorld& w, OnboardingView& view) {
  view.flow().splashDone();
  view.flow().chooseLanguage("de");
  w.env.executor.advance(OnboardingFlow::kChoiceDelay);
}
void toAccessibility(test::OnboardingWorld& w, OnboardingView& view) {
  toPurpose(w, view);
  view.flow().choosePurpose("writing");
  w.env.executor.advance(OnboardingFlow::kChoiceDelay);
}
std::function<void(test::OnboardingWorld&, OnboardingView&)> toStep(Step step) {
  return [step](test::OnboardingWorld& w, OnboardingView& view) {
    toAccessibility(w, view);
    while (view.flow().step() != step) view.flow().skipTapped();
  };
}
void untrusted(test::OnboardingWorld& w) {
  w.accessibility.trusted = false;
}
void keyStored(test::OnboardingWorld& w) {
  w.storeKey();
}
// The refine page's key prompt, its form, and the form after the keyring refused the key.
void keyForm(test::OnboardingWorld& w, OnboardingView& view) {
  toStep(Step::tutorialRefine)(w, view);
  view.tutorialStep()->addKeyButton()->click();
}
void keyRefused(test::OnboardingWorld& w, OnboardingView& view) {
  keyForm(w, view);
  w.secrets.setFailing(true);
  view.tutorialStep()->keyField()->insert(QStringLiteral("AIzaSyD-example-9f3K"));
  view.tutorialStep()->saveKeyButton()->click();
}

const std::vector<PageCase>& pageCases() {
  static const std::vector<PageCase> cases = {
      {"splash", {}, {}},
      {"language", {}, [](auto&, auto& view) { view.flow().splashDone(); }},
      {"purpose", {}, toPurpose},
      {"accessibility", untrusted, toAccessibility},
      {"accessibilityFailed", untrusted,
       [](auto& w, auto& view) {
         toAccessibility(w, view);
         w.accessibility.urlOpens = false;
         view.flow().allowAccessibility();
       }},
      {"tutorialTranslate", {}, toStep(Step::tutorialTranslate)},
      {"tutorialTranslateDone",
       {},
       [](auto& w, auto& view) {
         toStep(Step::tutorialTranslate)(w, view);
         w.env.notifications.post(std::string(notifications::kDidTranslateSelection));
       }},
      {"tutorialQuickTranslate", {}, toStep(Step::tutorialQuickTranslate)},
      {"tutorialRefine", keyStored, toStep(Step::tutorialRefine)},
      {"tutorialRefineKeyPrompt", {}, toStep(Step::tutorialRefine)},
      {"tutorialRefineKeyForm", {}, keyForm},
      {"tutorialRefineKeyRefused", {}, keyRefused},
  };
  return cases;
}

struct FontCase {
  const char* name;
  double pointSize;  // 0: Qt's default
};
const FontCase kFonts[] = {{"defaultFont", 0}, {"elevenPoints", 11}};

struct Shown {
  test::OnboardingWorld w;
  std::unique_ptr<OnboardingView> view;
};

std::unique_ptr<Shown> show(const PageCase& page) {
  auto shown = std::make_unique<Shown>();
  auto& w = shown->w;
  if (page.arrange) page.arrange(w);
  shown->view = std::make_unique<OnboardingView>(
      OnboardingView::Services{w.services, w.analytics, w.selection, w.relauncher, w.shell, w.hotkeys()},
      [] {});
  shown->view->setTransitionDuration(0);
  shown->view->show();
  EXPECT_TRUE(quorvelle::test::waitUntilExposed(shown->view.get()));
  if (page.act) page.act(w, *shown->view);
  w.env.executor.runUntilIdle();
  QApplication::processEvents();
  return shown;
}

TEST(PageFit, EveryTextOfEveryPageIsShownWholeAtBothFontSizes) {
  for (const FontCase& font : kFonts) {
    const AppFont appFont(font.pointSize);
    for (const PageCase& page : pageCases()) {
      SCOPED_TRACE(std::string(font.name) + " " + page.name);
      const auto shown = show(page);
      EXPECT_EQ(cutTexts(shown->view.get()), std::vector<std::string>{});
    }
  }
}

TEST(PageFit, TheSettingsWindowShowsItsTextsWholeAtBothFontSizes) {
  struct SettingsCase {
    const char* name;
    std::function<void(test::TutorialWorld&)> arrange;
    std::function<void(SettingsView&)> act;
  };
  const SettingsCase cases[] = {
      {"translating", {}, {}},
      {"refiningEntry", {}, [](SettingsView& v) { v.model().selectPane(SettingsModel::Pane::refining); }},
      {"refiningStored", [](test::TutorialWorld& w) { w.storeKey(); },
       [](SettingsView& v) { v.model().selectPane(SettingsModel::Pane::refining); }},
      {"accessibilityHelp",
       [](test::TutorialWorld& w) {
         w.accessibility.trusted = false;
         w.accessibility.urlOpens = false;
       },
       [](SettingsView& v) { v.grantButton()->click(); }},
  };
  for (const FontCase& font : kFonts) {
    const AppFont appFont(font.pointSize);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(font.name) + " " + c.name);
      test::TutorialWorld w;
      if (c.arrange) c.arrange(w);
      SettingsView view(w.services);
      view.show();
      ASSERT_TRUE(quorvelle::test::waitUntilExposed(&view));
      w.env.executor.runUntilIdle();
      if (c.act) c.act(view);
      w.env.executor.runUntilIdle();
      QApplication::processEvents();
      EXPECT_EQ(cutTexts(&view), std::vector<std::string>{});
    }
  }
}

TEST(PageFit, TheRefinePagesPartsNeverOverlapAndTheAnimationShrinksOnlyForRoom) {
  for (const FontCase& font : kFonts) {
    const AppFont appFont(font.pointSize);
    for (const char* name :
         {"tutorialRefine", "tutorialRefineKeyPrompt", "tutorialRefineKeyForm", "tutorialRefineKeyRefused"}) {
      SCOPED_TRACE(std::string(font.name) + " " + name);
      const PageCase& page = *std::find_if(pageCases().begin(), pageCases().end(),
                                           [&](const PageCase& c) { return c.name == std::string(name); });
      const auto shown = show(page);
      TutorialStep* step = shown->view->tutorialStep();
      ASSERT_NE(step, nullptr);
      const auto inPage = [&](QWidget* part) { return QRect(part->mapTo(step, QPoint(0, 0)), part->size()); };
      const QRect title = inPage(step->title());
      const QRect animation = inPage(step->animation());
      const QRect card = inPage(step->card());
      EXPECT_FALSE(title.intersects(animation)) << title.bottom() << " " << animation.top();
      EXPECT_FALSE(animation.intersects(card)) << animation.bottom() << " " << card.top();
      EXPECT_FALSE(title.intersects(card));
      for (const QRect& part : {title, animation, card}) EXPECT_TRUE(step->rect().contains(part));
      // The animation keeps its shape, and its whole size where the card leaves the room for it.
      EXPECT_NEAR(double(animation.width()) / animation.height(), 1.5, 0.01);
      if (animation.height() < 310) {
        const int margin = step->layout()->contentsMargins().bottom();
        EXPECT_LE(step->height() - (card.bottom() + 1), margin + 1) << "smaller than it need be";
      }
    }
  }
}

}  // namespace
}  // namespace quorvelle
