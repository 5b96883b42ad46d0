// A first run as a new user lives it: the real program with a fresh configuration and an empty keyring
// shows onboarding, and the user goes through every step with the mouse, the keyboard and the real hot
// keys, on the window's own practice fields and on another application's window.

#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/program/ProgramX11Test.h"
#include "tests/support/Eventually.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"

namespace {

using namespace quorvelle::test;

constexpr const char* kOnboardingTitle = "Welcome to Quorvelle";

// The walk waits for the window's slides and the splash by time; a sanitizer build runs them slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kPace = 3;
#else
constexpr int kPace = 1;
#endif

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
    (void)waitUntil(
        [&] {
          for (const QString& window : programWindows()) {
            if (window != trayIcon_ && window != onboarding_) popup = window;
          }
          return popup.has_value();
        },
        "popup.has_value()");
    return popup;
  }

  bool waitForOnlyOnboarding() {
    return waitUntil(
        [&] {
          const auto windows = programWindows();
          return windows.size() == 2 && windows.contains(onboarding_);
        },
        "windows.size() == 2 && windows.contains(onboarding_)");
  }

  // Goes through every step as a new user does: the language and purpose cards, then each tutorial page
  // with the real hot keys, on the practice fields and on another application's text field (left empty
  // and hidden), until the window is gone and the choices (German, writing) are stored.
  void walkToTheEnd() {
    shot("01-splash");
    // The splash leaves by itself; a card of the language grid, then one of the purposes.
    QTest::qWait(3000 * kPace);
    shot("02-language");
    clickInOnboarding(kGermanCard);
    QTest::qWait(1500 * kPace);
    shot("03-purpose");
    clickInOnboarding(kWritingCard);
    QTest::qWait(1500 * kPace);

    // Translate page: the real hot key on the practice word, selected with a double click.
    shot("04-translate");
    clickInOnboarding(kPracticeWord, 2);
    QTest::qWait(300 * kPace);
    shot("04b-word-selected");
    xdotool({"key", "alt+t"});
    ASSERT_TRUE(waitForRequest("GET /lookup/serendipity?accent=uk")) << requests_.join('\n').toStdString();
    ASSERT_TRUE(waitForPopupBesideOnboarding()) << "no popup for the practice word";
    shot("05-translate-popup");
    xdotool({"key", "Escape"});
    ASSERT_TRUE(waitForOnlyOnboarding());
    // Continue works only once the page is done.
    clickInOnboarding(kContinue);
    QTest::qWait(800 * kPace);
    shot("06-quick-translate");

    // Quick translate: the focus in another window with nothing selected.
    ASSERT_NE(openTextWindow(""), nullptr);
    QGuiApplication::clipboard()->clear(QClipboard::Selection);
    ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
    xdotool({"key", "alt+t"});
    ASSERT_TRUE(waitForPopupBesideOnboarding()) << "no quick-translate box";
    shot("07-quick-translate-box");
    xdotool({"key", "Escape"});
    ASSERT_TRUE(waitForOnlyOnboarding());
    textWindow_.hide();
    clickInOnboarding(kContinue);
    QTest::qWait(800 * kPace);
    shot("08-refine-key-prompt");

    // Refine: the key prompt, then the draft replaced by a variant.
    clickInOnboarding(kAddKey);
    QTest::qWait(300 * kPace);
    xdotool({"type", "--delay", "30", "  AIza-onboarding-key"});
    xdotool({"key", "Return"});
    ASSERT_TRUE(waitUntil([&] { return storedGeminiKey() == "AIza-onboarding-key"; },
                          "storedGeminiKey() == \"AIza-onboarding-key\""))
        << "the key typed into the prompt is not in the keyring";
    QTest::qWait(300 * kPace);
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
    QTest::qWait(500 * kPace);
    shot("11-refine-done");
    clickInOnboarding(kContinue);

    // Finished: the window is gone and the choices are stored.
    ASSERT_TRUE(waitUntil([&] { return programWindows() == QStringList{trayIcon_}; },
                          "programWindows() == QStringList{trayIcon_}"))
        << "the onboarding window stayed";
    shot("12-finished");
    platform::FileUserDefaults stored(settingsFile_);
    EXPECT_TRUE(stored.boolForKey(quorvelle::AppSettings::kHasCompletedOnboarding));
    EXPECT_EQ(stored.stringForKey(quorvelle::AppSettings::kTargetLanguage), "de");
    EXPECT_EQ(stored.stringForKey("userPurpose"), "writing");
  }

  QString onboarding_;
};

TEST_F(OnboardingX11Test, AFirstRunFromSplashToTheLastPageThenTheHotKeysWork) {
  ASSERT_NO_FATAL_FAILURE(walkToTheEnd());

  // The hot keys act on another window's selection.
  requests_.clear();
  auto* field = textWindow_.findChild<QLineEdit*>();
  ASSERT_NE(field, nullptr);
  field->setText("hello there");
  textWindow_.show();
  textWindow_.activateWindow();
  field->setFocus();
  ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }, "field->hasFocus()"));
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello"));
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  EXPECT_TRUE(waitForRequest("GET /lookup/hello?accent=uk")) << requests_.join('\n').toStdString();
  EXPECT_TRUE(waitForPopup()) << "no popup after onboarding";
}

// The same first run reporting to the analytics service stand-in through the bundle keys' environment
// values.
class OnboardingAnalyticsX11Test : public OnboardingX11Test {
 protected:
  void arrangeEnvironment(QProcessEnvironment& env) override {
    service_ = std::make_unique<AnalyticsServiceStandIn>();
    env.insert("QUORVELLE_DIZIZOZ_API_KEY", "phc_stand_in");
    env.insert("QUORVELLE_DIZIZOZ_HOST", QString::fromStdString(service_->baseURL()));
  }

  // The onboarding events the service received, in the order the program sent them.
  std::vector<nlohmann::json> onboardingEvents() const {
    std::vector<nlohmann::json> events;
    for (const auto& event : service_->events()) {
      if (event["event"].get<std::string>().starts_with("onboarding_")) events.push_back(event);
    }
    return events;
  }

  std::unique_ptr<AnalyticsServiceStandIn> service_;
};

TEST_F(OnboardingAnalyticsX11Test, TheServiceReceivesEachStepOfTheFirstRunInOrderWithItsPersonProperties) {
  ASSERT_NO_FATAL_FAILURE(walkToTheEnd());
  // The onboarding window closes before onboarding_completed is queued. The user opens the settings from
  // the tray, then goes to another application: the program, leaving the active state, flushes its queue.
  ASSERT_NO_FATAL_FAILURE(openTrayMenu());
  xdotool({"key", "Down", "Down", "Return"});
  const auto settings = waitForWindowNamed("Quorvelle Settings");
  ASSERT_TRUE(settings) << "the settings window did not map";
  xdotool({"windowactivate", "--sync", *settings});
  // The program hears of the focus after the window manager has moved it: let it take it first.
  QTest::qWait(500 * kPace);
  textWindow_.show();
  xdotool({"windowactivate", "--sync", QString::number(textWindow_.winId())});
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto events = onboardingEvents();
        return !events.empty() && events.back()["event"] == "onboarding_completed";
      },
      "!events.empty() && events.back()[\"event\"] == \"onboarding_completed\""))
      << "onboarding_completed did not arrive; program output:\n"
      << programLog_.toStdString();
  EXPECT_TRUE(service_->problems().empty()) << service_->problems().front();

  using Json = nlohmann::json;
  const auto step = [](const char* name) {
    return Json{{"event", "onboarding_step_completed"}, {"step", name}};
  };
  const std::vector<Json> expected{
      {{"event", "onboarding_started"}},
      step("splash"),
      {{"event", "onboarding_language_selected"}, {"language", "de"}, {"$set", {{"native_language", "de"}}}},
      step("language"),
      {{"event", "onboarding_purpose_selected"}, {"purpose", "writing"}, {"$set", {{"purpose", "writing"}}}},
      step("purpose"),
      step("tutorialTranslate"),
      step("tutorialQuickTranslate"),
      step("tutorialRefine"),
      {{"event", "onboarding_completed"}},
  };
  // Each event as far as the expectation names it: its name and those of its properties.
  std::vector<Json> received;
  for (const auto& event : onboardingEvents()) {
    Json seen{{"event", event["event"]}};
    for (const char* key : {"step", "language", "purpose", "$set"}) {
      if (event["properties"].contains(key)) seen[key] = event["properties"][key];
    }
    received.push_back(seen);
  }
  EXPECT_EQ(Json(received).dump(1), Json(expected).dump(1));
}

}  // namespace
