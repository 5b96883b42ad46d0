// A first run as a new user lives it: the real program with a fresh configuration and an empty keyring
// shows onboarding, and the user goes through every step with the mouse, the keyboard and the real hot
// keys, on the window's own practice fields and on another application's window.

#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <cstdlib>

#include "tests/program/ProgramX11Test.h"

namespace {

using namespace quorvelle::test;

constexpr const char* kOnboardingTitle = "Welcome to Quorvelle";

// Where the onboarding view's parts lie, in its own coordinates (720 × 620, margin 28).
constexpr QPoint kContinue{648, 577};
constexpr QPoint kGermanCard{360, 211};
constexpr QPoint kWritingCard{360, 205};
constexpr QPoint kPracticeWord{256, 480};
constexpr QPoint kAddKey{359, 502};
constexpr QPoint kDraft{360, 493};

class OnboardingX11Test : public ProgramX11Test {
 protected:
  void arrangeSettings(platform::FileUserDefaults&) override {}
  bool storesGeminiKey() const override { return false; }
  int windowsAtStart() const override { return 2; }

  void SetUp() override {
    ProgramX11Test::SetUp();
    if (HasFatalFailure()) return;
    const auto window = waitForWindowNamed(kOnboardingTitle);
    ASSERT_TRUE(window) << "no onboarding window";
    onboarding_ = *window;
  }

  // The onboarding window's origin on the screen. (xdotool counts the window manager's frame twice for
  // a managed window; xwininfo does not.)
  QPoint origin() {
    const auto out = runTool("xwininfo", {"-id", onboarding_});
    EXPECT_TRUE(out);
    QPoint p;
    for (const QString& line : out ? out->split('\n') : QStringList()) {
      const QString value = line.section(':', 1).trimmed();
      if (line.contains("Absolute upper-left X")) p.setX(value.toInt());
      if (line.contains("Absolute upper-left Y")) p.setY(value.toInt());
    }
    return p;
  }

  void clickInOnboarding(QPoint p, int repeat = 1) { clickAt(origin() + p, repeat); }

  // Saves the screen as <name>.png in $QUORVELLE_TEST_SHOTS, when that names a folder: for a person to see
  // each step.
  static void shot(const QString& name) {
    const char* folder = std::getenv("QUORVELLE_TEST_SHOTS");
    if (folder == nullptr || *folder == '\0') return;
    const QString path = QString::fromLocal8Bit(folder) + "/" + name;
    QProcess::execute("sh",
                      {"-c", "xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > '" + path + ".png'"});
  }

  // A program window other than the tray icon and the onboarding window, once there is one.
  std::optional<QString> waitForPopupBesideOnboarding() {
    std::optional<QString> popup;
    (void)QTest::qWaitFor(
        [&] {
          for (const QString& window : programWindows()) {
            if (window != trayIcon_ && window != onboarding_) popup = window;
          }
          return popup.has_value();
        },
        kStepTimeout);
    return popup;
  }

  bool waitForOnlyOnboarding() {
    return QTest::qWaitFor(
        [&] {
          const auto windows = programWindows();
          return windows.size() == 2 && windows.contains(onboarding_);
        },
        kStepTimeout);
  }

  QString onboarding_;
};

TEST_F(OnboardingX11Test, AFirstRunFromSplashToTheLastPageThenTheHotKeysWork) {
  shot("01-splash");
  // The splash leaves by itself; a card of the language grid, then one of the purposes.
  QTest::qWait(3000);
  shot("02-language");
  clickInOnboarding(kGermanCard);
  QTest::qWait(1500);
  shot("03-purpose");
  clickInOnboarding(kWritingCard);
  QTest::qWait(1500);

  // Translate page: the real hot key on the practice word, selected with a double click.
  shot("04-translate");
  clickInOnboarding(kPracticeWord, 2);
  QTest::qWait(300);
  shot("04b-word-selected");
  xdotool({"key", "alt+t"});
  ASSERT_TRUE(waitForRequest("GET /lookup/serendipity?accent=uk")) << requests_.join('\n').toStdString();
  ASSERT_TRUE(waitForPopupBesideOnboarding()) << "no popup for the practice word";
  shot("05-translate-popup");
  xdotool({"key", "Escape"});
  ASSERT_TRUE(waitForOnlyOnboarding());
  // Continue works only once the page is done.
  clickInOnboarding(kContinue);
  QTest::qWait(800);
  shot("06-quick-translate");

  // Quick translate: the focus in another window with nothing selected.
  QLineEdit* field = openTextWindow("");
  ASSERT_NE(field, nullptr);
  QGuiApplication::clipboard()->clear(QClipboard::Selection);
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  ASSERT_TRUE(waitForPopupBesideOnboarding()) << "no quick-translate box";
  shot("07-quick-translate-box");
  xdotool({"key", "Escape"});
  ASSERT_TRUE(waitForOnlyOnboarding());
  textWindow_.hide();
  clickInOnboarding(kContinue);
  QTest::qWait(800);
  shot("08-refine-key-prompt");

  // Refine: the key prompt, then the draft replaced by a variant.
  clickInOnboarding(kAddKey);
  QTest::qWait(300);
  xdotool({"type", "--delay", "30", "  AIza-onboarding-key"});
  xdotool({"key", "Return"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return storedGeminiKey() == "AIza-onboarding-key"; }, kStepTimeout))
      << "the key typed into the prompt is not in the keyring";
  QTest::qWait(300);
  shot("09-refine-draft");
  clickInOnboarding(kDraft);
  xdotool({"key", "ctrl+a"});
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+r"});
  ASSERT_TRUE(waitForRequest("POST /refine apiKey,language,text")) << requests_.join('\n').toStdString();
  const auto popup = waitForPopupBesideOnboarding();
  ASSERT_TRUE(popup) << "no refine popup";
  const auto frame = waitForPopupTallerThan(*popup, 100);
  ASSERT_TRUE(frame) << "the variants did not show";
  shot("10-refine-variants");
  clickAt(frame->topLeft() + QPoint(60, 24));
  ASSERT_TRUE(waitForOnlyOnboarding());
  QTest::qWait(500);
  shot("11-refine-done");
  clickInOnboarding(kContinue);

  // Finished: the window is gone and the choices are stored.
  ASSERT_TRUE(QTest::qWaitFor([&] { return programWindows() == QStringList{trayIcon_}; }, kStepTimeout))
      << "the onboarding window stayed";
  shot("12-finished");
  platform::FileUserDefaults stored(settingsFile_);
  EXPECT_TRUE(stored.boolForKey(quorvelle::AppSettings::kHasCompletedOnboarding));
  EXPECT_EQ(stored.stringForKey(quorvelle::AppSettings::kTargetLanguage), "de");
  EXPECT_EQ(stored.stringForKey("userPurpose"), "writing");

  // The hot keys act on another window's selection.
  requests_.clear();
  field->setText("hello there");
  textWindow_.show();
  textWindow_.activateWindow();
  field->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, kStepTimeout));
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello"));
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  EXPECT_TRUE(waitForRequest("GET /lookup/hello?accent=uk")) << requests_.join('\n').toStdString();
  EXPECT_TRUE(waitForPopup()) << "no popup after onboarding";
}

}  // namespace
