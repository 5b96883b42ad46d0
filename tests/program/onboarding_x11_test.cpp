// A first run as a new user lives it: the real program with a fresh configuration and an empty keyring
// shows onboarding, and the user goes through every step with the mouse, the keyboard and the real hot
// keys, on the window's own practice fields and on another application's window.

#include <QLineEdit>
#include <QProcessEnvironment>
#include <QScreen>
#include <cstdlib>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "program/TestProbe.h"
#include "tests/program/ProgramProbe.h"
#include "tests/program/ProgramX11Test.h"
#include "tests/support/Eventually.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"

namespace {

using namespace quorvelle::test;

constexpr const char* kOnboardingTitle = "Welcome to Quorvelle";

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

  // The onboarding window as the program sees it now, or nothing while it does not show it.
  std::optional<ProbedWindow> onboardingWindow() const {
    const auto snapshot = readProbe(probePath_);
    const ProbedWindow* window = snapshot ? snapshot->titled(kOnboardingTitle) : nullptr;
    return window ? std::optional<ProbedWindow>(*window) : std::nullopt;
  }

  // The onboarding window once `state` holds for it, or nothing (a failure naming `what`).
  std::optional<ProbedWindow> waitForOnboarding(const std::function<bool(const ProbedWindow&)>& state,
                                                const QString& what) {
    std::optional<ProbedWindow> seen;
    const auto reached =
        waitUntil([&] { return (seen = onboardingWindow()) && state(*seen) && settledOnServer(*seen); },
                  what.toStdString());
    EXPECT_TRUE(reached) << (seen ? describe(*seen) : "no onboarding window") << "program output:\n"
                         << programLog_.toStdString();
    return reached ? seen : std::nullopt;
  }

  // The page headed `heading`, once its slide has ended: the page headed `leaving` is gone.
  std::optional<ProbedWindow> waitForPage(const QString& heading, const QString& leaving) {
    return waitForOnboarding(
        [&](const ProbedWindow& w) {
          return w.withText(heading) != nullptr && w.withText(leaving) == nullptr;
        },
        "the page \"" + heading + "\" showing");
  }

  // The widget for which `match` holds, once `state` holds for it too.
  std::optional<ProbedWidget> waitForWidget(const std::function<bool(const ProbedWidget&)>& match,
                                            const std::function<bool(const ProbedWidget&)>& state,
                                            const QString& what) {
    const auto window = waitForOnboarding(
        [&](const ProbedWindow& w) {
          const ProbedWidget* widget = w.find(match);
          return widget != nullptr && state(*widget);
        },
        what);
    return window ? std::optional<ProbedWidget>(*window->find(match)) : std::nullopt;
  }
  static std::function<bool(const ProbedWidget&)> named(const QString& name) {
    return [name](const ProbedWidget& w) { return w.name == name; };
  }
  static std::function<bool(const ProbedWidget&)> showing(const QString& text) {
    return [text](const ProbedWidget& w) { return w.text == text; };
  }

  // Continue, once the page is done and enables it.
  void clickContinue() {
    const auto button = waitForWidget(
        showing("Continue"), [](const ProbedWidget& w) { return w.enabled; }, "Continue enabled");
    ASSERT_TRUE(button);
    clickAt(button->shown.center());
  }

  // The card named `name`, scrolled with the wheel over its scroll area until it shows whole.
  std::optional<ProbedWidget> cardInView(const QString& name) {
    std::optional<ProbedWidget> card;
    const auto inView = waitUntil(
        [&] {
          const auto window = onboardingWindow();
          const ProbedWidget* found = window ? window->named(name) : nullptr;
          if (found == nullptr) return false;
          if (found->shown == found->geometry) {
            card = *found;
            return true;
          }
          const ProbedWidget* area =
              window->find([](const ProbedWidget& w) { return w.className == "QScrollArea"; });
          if (area == nullptr) return false;
          pointerTo(area->shown.center());
          xdotool({"click", found->geometry.top() < area->shown.top() ? "4" : "5"});
          return false;
        },
        ("the card " + name + " in view").toStdString());
    EXPECT_TRUE(inView);
    return card;
  }

  // Saves the screen as <name>.png in $QUORVELLE_TEST_SHOTS, when that names a folder: for a person to see
  // each step. Grabbed by this process, which is a client of the same display.
  static void shot(const QString& name) {
    const char* folder = std::getenv("QUORVELLE_TEST_SHOTS");
    if (folder == nullptr || *folder == '\0') return;
    const QString path = QString::fromLocal8Bit(folder) + "/" + name + ".png";
    EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(path))
        << "cannot write " << path.toStdString();
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
        "a popup beside the onboarding window");
    return popup;
  }

  testing::AssertionResult waitForOnlyOnboarding() {
    return waitUntil(
        [&] {
          const auto windows = programWindows();
          return windows.size() == 2 && windows.contains(onboarding_);
        },
        "the onboarding window alone beside the tray icon");
  }

  // Goes through every step as a new user does: the language and purpose cards, then each tutorial page
  // with the real hot keys, on the practice fields and on another application's text field (left empty
  // and hidden), until the window is gone and the choices (German, writing) are stored. Every part is
  // found by what it is, and every step waits for the state the one before it leads to.
  void walkToTheEnd() {
    shot("01-splash");
    // The splash leaves by itself; a card of the language grid, then one of the purposes. A choice moves
    // on to the next page by itself.
    ASSERT_TRUE(waitForPage("What's your native language?", "Quorvelle"));
    shot("02-language");
    const auto german = cardInView("German");
    ASSERT_TRUE(german);
    clickAt(german->shown.center());
    const auto purpose = waitForPage("What brings you to Quorvelle?", "What's your native language?");
    ASSERT_TRUE(purpose);
    shot("03-purpose");
    const ProbedWidget* writing = purpose->named("Writing");
    ASSERT_NE(writing, nullptr);
    clickAt(writing->shown.center());

    // Translate page: the real hot key on the practice word, selected with a double click.
    const auto translate = waitForPage("Translate a word", "What brings you to Quorvelle?");
    ASSERT_TRUE(translate);
    shot("04-translate");
    const ProbedWidget* word = translate->named("Practice text");
    ASSERT_NE(word, nullptr);
    clickAt(word->shown.center(), 2);
    ASSERT_TRUE(waitForOnboarding(
        [](const ProbedWindow& w) {
          const ProbedWidget* field = w.named("Practice text");
          return w.active && field != nullptr && field->selectedText == "serendipity";
        },
        "the practice word selected in the active window"));
    shot("04b-word-selected");
    xdotool({"key", "alt+t"});
    ASSERT_TRUE(waitForRequest("GET /lookup/serendipity?accent=uk")) << requests_.join('\n').toStdString();
    ASSERT_TRUE(waitForPopupBesideOnboarding()) << "no popup for the practice word";
    shot("05-translate-popup");
    xdotool({"key", "Escape"});
    ASSERT_TRUE(waitForOnlyOnboarding());
    // Continue works only once the page is done.
    ASSERT_NO_FATAL_FAILURE(clickContinue());

    // Quick translate: the focus in another window with nothing selected.
    ASSERT_TRUE(waitForPage("Type to translate", "Translate a word"));
    shot("06-quick-translate");
    ASSERT_NE(openTextWindow(""), nullptr);
    QGuiApplication::clipboard()->clear(QClipboard::Selection);
    ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
    xdotool({"key", "alt+t"});
    const auto box = waitForPopupBesideOnboarding();
    ASSERT_TRUE(box) << "no quick-translate box";
    // The box takes the keyboard, which then brings it the Escape.
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto snapshot = readProbe(probePath_);
          for (const ProbedWindow& window : snapshot ? snapshot->windows : std::vector<ProbedWindow>{}) {
            if (window.id == *box && window.active) return true;
          }
          return false;
        },
        "the quick-translate box has the keyboard"));
    shot("07-quick-translate-box");
    xdotool({"key", "Escape"});
    ASSERT_TRUE(waitForOnlyOnboarding());
    textWindow_.hide();
    ASSERT_NO_FATAL_FAILURE(clickContinue());

    // Refine: the key prompt, then the draft replaced by a variant.
    ASSERT_TRUE(waitForPage("Fix a rough draft", "Type to translate"));
    const auto addKey = waitForWidget(
        showing("Add key"), [](const ProbedWidget& w) { return w.enabled; }, "the key prompt");
    ASSERT_TRUE(addKey);
    shot("08-refine-key-prompt");
    clickAt(addKey->shown.center());
    ASSERT_TRUE(waitForWidget(
        named("Gemini API key"), [](const ProbedWidget& w) { return w.focus; },
        "the key field focused in the active window"));
    xdotool({"type", "--delay", "30", "  AIza-onboarding-key"});
    xdotool({"key", "Return"});
    ASSERT_TRUE(waitUntil([&] { return storedGeminiKey() == "AIza-onboarding-key"; },
                          "the key typed into the prompt in the keyring"));
    const auto draft = waitForWidget(
        named("Practice text"), [](const ProbedWidget& w) { return !w.text.isEmpty(); },
        "the draft in the practice field");
    ASSERT_TRUE(draft);
    shot("09-refine-draft");
    clickAt(draft->shown.center());
    ASSERT_TRUE(waitForWidget(
        named("Practice text"), [](const ProbedWidget& w) { return w.focus; },
        "the practice field focused in the active window"));
    xdotool({"key", "ctrl+a"});
    ASSERT_TRUE(waitForWidget(
        named("Practice text"), [&](const ProbedWidget& w) { return w.selectedText == draft->text; },
        "the whole draft selected"));
    ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
    xdotool({"key", "alt+r"});
    ASSERT_TRUE(waitForRequest("POST /refine apiKey,language,text")) << requests_.join('\n').toStdString();
    const auto variant =
        waitForVariantInPlace([](const ProbedWindow& window) { return window.title != kOnboardingTitle; });
    ASSERT_TRUE(variant);
    shot("10-refine-variants");
    clickAt(variant->shown.center());
    ASSERT_TRUE(waitForOnlyOnboarding());
    ASSERT_TRUE(waitForWidget(
        named("Practice text"), [&](const ProbedWidget& w) { return w.text == variant->text; },
        "the draft replaced by the variant"));
    shot("11-refine-done");
    ASSERT_NO_FATAL_FAILURE(clickContinue());

    // Finished: the window is gone and the choices are stored.
    ASSERT_TRUE(
        waitUntil([&] { return programWindows() == QStringList{trayIcon_}; }, "the onboarding window gone"));
    shot("12-finished");
    // Settings reach their file a moment after they change, off the program's UI thread.
    ASSERT_TRUE(waitUntil(
        [&] {
          return platform::FileUserDefaults(settingsFile_)
              .boolForKey(quorvelle::AppSettings::kHasCompletedOnboarding);
        },
        "the settings file says onboarding is done"));
    platform::FileUserDefaults stored(settingsFile_);
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
  ASSERT_NO_FATAL_FAILURE(focusTheTextWindow(field));
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
  ASSERT_NO_FATAL_FAILURE(chooseFromTrayMenu("Settings…"));
  const auto settings = waitForWindowNamed("Quorvelle Settings");
  ASSERT_TRUE(settings) << "the settings window did not map";
  xdotool({"windowactivate", "--sync", *settings});
  // The program hears of the focus after the window manager has moved it: it takes it first.
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto snapshot = readProbe(probePath_);
        const ProbedWindow* window = snapshot ? snapshot->titled("Quorvelle Settings") : nullptr;
        return window != nullptr && window->active;
      },
      "the program's settings window active"));
  textWindow_.show();
  xdotool({"windowactivate", "--sync", QString::number(textWindow_.winId())});
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto events = onboardingEvents();
        return !events.empty() && events.back()["event"] == "onboarding_completed";
      },
      "onboarding_completed at the service"))
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
