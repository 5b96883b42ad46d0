#include "app/PopupController.h"

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/AppNotifications.h"
#include "app/PopupViewState.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InjectableEventMonitors.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/RecordingAudioPlayer.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/fake/ScriptedHttpClient.h"
#include "platform/fake/StoredPopupPanel.h"
#include "platform/fake/StoredScreens.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using platform::HttpResult;
using platform::Keystroke;
using platform::MonitoredEvent;
using platform::MonitoredEventType;
using Json = nlohmann::json;

constexpr const char* kBase = "https://backend.test";
constexpr platform::WindowId kPanelId = 7;
constexpr platform::WindowId kSettingsWindowId = 99;
constexpr int kEscape = 53;
constexpr int kTab = 48;
const Keystroke kPaste{"AB04", Keystroke::control};

HttpResult envelope(const Json& body) {
  HttpResult result;
  result.status = 200;
  result.body = body.dump();
  return result;
}

const Json kHelloEntry = {{"ipa", "/həˈləʊ/"}, {"audioUrl", "https://cdn.test/hello.mp3"}};

class PopupControllerTest : public testing::Test {
 protected:
  PopupControllerTest() {
    screens.list = {{{{0, 0}, {1440, 900}}, {{0, 70}, {1440, 805}}}};
    screens.mouse = {700, 500};
    panel.contentFittingSize = platform::Size{360, 120};
    defaults.set(AppSettings::kTargetLanguage, "de");
    defaults.set(AppSettings::kAccent, "us");
    defaults.set(AppSettings::kRefinePrompt, "My prompt");
    defaults.set(AppSettings::kPronunciationVolume, 0.25);
    for (const auto name : {notifications::kDidTranslateSelection, notifications::kDidReplaceRefined,
                            notifications::kDidOpenQuickTranslate}) {
      observations.push_back(center.addObserver(std::string(name), [this](const platform::Notification& n) {
        posted.push_back({n.name, panel.isVisible()});
      }));
    }
  }

  // Runs everything due now: the placement after a show, the load's first step, delivered replies.
  void settle() { executor.runUntilIdle(); }

  bool sendKey(int keyCode) {
    return monitors.sendToThisApplication({MonitoredEventType::keyDown, kPanelId, keyCode});
  }
  std::string body(std::size_t i) const { return http.requests().at(i).body; }

  // Requests wait until the test answers them, in any order: the oldest one whose address holds `path`.
  bool answerData(const std::string& path, const Json& data) {
    return http.complete(envelope(Json{{"success", true}, {"data", data}}), path);
  }
  bool answerError(const std::string& path, const std::string& message) {
    return http.complete(envelope(Json{{"success", false}, {"error", message}}), path);
  }
  std::vector<std::string> sentPaths() const {
    std::vector<std::string> paths;
    for (const auto& r : http.requests()) paths.push_back(r.url.substr(std::string(kBase).size()));
    return paths;
  }

  struct Posted {
    std::string name;
    bool panelVisible;
    friend bool operator==(const Posted&, const Posted&) = default;
  };

  platform::fake::ManualExecutor executor;
  platform::NotificationCenter center;
  platform::fake::ScriptedHttpClient http;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  Keychain keychain{secrets, keyringWorker, executor};
  GeminiKeyManager geminiKey{keychain};
  LookupClient lookup{http, executor, geminiKey, kBase, AppSettings::defaultRefinePrompt()};
  platform::fake::StoredScreens screens;
  platform::fake::StoredPopupPanel panel{&screens, kPanelId};
  platform::fake::InjectableEventMonitors monitors;
  platform::fake::RecordingAudioPlayer audio;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system{{"fr-FR"}};
  AppSettings settings{defaults, system};
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::RecordingKeystrokeSender keystrokes;
  SelectionCapture selection{accessibility, pasteboard, keystrokes, executor};
  std::shared_ptr<PopupController> controller = PopupController::create(
      {executor, center, lookup, panel, screens, monitors, audio, settings, pasteboard, selection});
  const PopupModel& model = controller->model();
  std::vector<platform::NotificationCenter::Token> observations;
  std::vector<Posted> posted;
};

TEST_F(PopupControllerTest, SingleWordTranslatesAndLooksUpInParallelThenPlays) {
  controller->show("  Hello\n", PopupMode::translate);

  // Announced at once, before the panel shows; the panel comes at the next turn, without focus.
  EXPECT_EQ(posted, (std::vector<Posted>{{"quorvelle.didTranslateSelection", false}}));
  EXPECT_TRUE(model.isWordMode());
  EXPECT_TRUE(model.isLoading());
  EXPECT_FALSE(panel.isVisible());
  settle();
  EXPECT_TRUE(panel.isVisible());
  EXPECT_FALSE(panel.hasFocus);
  EXPECT_EQ(panel.frame(), (platform::Rect{{680, 356}, {360, 120}}));
  EXPECT_EQ(monitors.globalCount() + monitors.localCount(), 3u);

  // Both requests are out before either is answered.
  ASSERT_EQ(sentPaths(), (std::vector<std::string>{"/translate", "/lookup/hello?accent=us"}));
  EXPECT_EQ(Json::parse(body(0)), (Json{{"text", "  Hello\n"}, {"target", "de"}}));

  ASSERT_TRUE(answerData("/translate", {{"translated", "Hallo"}}));
  settle();
  EXPECT_EQ(model.translation(), TranslationResult{"Hallo"});
  EXPECT_TRUE(model.isLoading());
  EXPECT_TRUE(audio.sources.empty());

  ASSERT_TRUE(answerData("/lookup/", kHelloEntry));
  panel.contentFittingSize = platform::Size{360, 300};
  std::optional<platform::Rect> frameWhenPlayed;
  audio.onPlay = [&] { frameWhenPlayed = panel.frame(); };
  settle();
  ASSERT_TRUE(model.entry());
  EXPECT_EQ(model.entry()->ipa, "/həˈləʊ/");
  EXPECT_FALSE(model.isLoading());
  EXPECT_EQ(audio.sources,
            std::vector<std::string>{std::string(kBase) + "/audio?src=https%3A%2F%2Fcdn.test%2Fhello.mp3"});
  EXPECT_FLOAT_EQ(audio.volume, 0.25f);
  EXPECT_TRUE(audio.playing);
  // Refitted to the taller content with the top-left corner kept, before the sound started.
  EXPECT_EQ(panel.frame(), (platform::Rect{{680, 176}, {360, 300}}));
  EXPECT_EQ(frameWhenPlayed, panel.frame());
}

TEST_F(PopupControllerTest, APopupClosedBeforeItsPronunciationStartsStaysSilent) {
  controller->show("hello", PopupMode::translate);
  settle();
  ASSERT_TRUE(answerData("/translate", {{"translated", "Hallo"}}));
  ASSERT_TRUE(answerData("/lookup/", kHelloEntry));
  while (!model.entry()) ASSERT_GT(executor.runOnce(), 0u);
  controller->dismiss();
  settle();
  EXPECT_TRUE(audio.sources.empty());
  EXPECT_FALSE(audio.playing);
}

TEST_F(PopupControllerTest, AnEntryThatArrivesFirstWaitsForTheTranslation) {
  controller->show("hello", PopupMode::translate);
  settle();
  ASSERT_TRUE(answerData("/lookup/", kHelloEntry));
  settle();
  EXPECT_FALSE(model.entry());
  EXPECT_TRUE(audio.sources.empty());

  // A failed translation is shown and the entry still comes.
  ASSERT_TRUE(answerError("/translate", "Quota exceeded"));
  settle();
  EXPECT_EQ(model.errorMessage(), "Quota exceeded");
  EXPECT_TRUE(model.entry());
  EXPECT_FALSE(model.isLoading());
  EXPECT_EQ(audio.sources.size(), 1u);
}

TEST_F(PopupControllerTest, PronunciationPlaysByItselfOnlyWithAutoPlayAndAnAudioAddress) {
  struct Case {
    const char* name;
    bool autoPlay;
    Json entry;
    bool lookupFails;
    bool plays;
  };
  const Case cases[] = {
      {"auto-play with audio", true, kHelloEntry, false, true},
      {"auto-play off", false, kHelloEntry, false, false},
      {"no audio address", true, Json{{"ipa", "/x/"}}, false, false},
      {"failed lookup", true, Json(), true, false},
  };
  for (const auto& c : cases) {
    audio.sources.clear();
    defaults.set(AppSettings::kAutoPlayPronunciation, c.autoPlay);
    controller->show("hello", PopupMode::translate);
    settle();
    answerData("/translate", {{"translated", "Hallo"}});
    if (c.lookupFails) {
      answerError("/lookup/", "Not found");
    } else {
      answerData("/lookup/", c.entry);
    }
    settle();
    EXPECT_EQ(audio.sources.size(), c.plays ? 1u : 0u) << c.name;
    EXPECT_FALSE(model.isLoading()) << c.name;
    EXPECT_EQ(model.errorMessage(), std::nullopt) << c.name << ": a failed lookup is not reported";
  }

  // With auto-play off the speaker control still plays; a second press starts the recording again on
  // the same player.
  defaults.set(AppSettings::kAutoPlayPronunciation, false);
  audio.sources.clear();
  controller->show("hello", PopupMode::translate);
  settle();
  answerData("/translate", {{"translated", "Hallo"}});
  answerData("/lookup/", kHelloEntry);
  settle();
  const auto callbacks = controller->viewCallbacks();
  callbacks.onPlayAudio();
  callbacks.onPlayAudio();
  ASSERT_EQ(audio.sources.size(), 2u);
  EXPECT_EQ(audio.sources[0], audio.sources[1]);
  EXPECT_TRUE(audio.playing);

  // Closing pauses it.
  controller->dismiss();
  EXPECT_FALSE(audio.playing);
}

TEST_F(PopupControllerTest, UnsetSettingsReadTheirDefaultsAtEachLoad) {
  for (const auto key : {AppSettings::kTargetLanguage, AppSettings::kAccent, AppSettings::kRefinePrompt,
                         AppSettings::kPronunciationVolume}) {
    defaults.remove(key);
  }
  controller->show("hello", PopupMode::translate);
  settle();
  EXPECT_EQ(Json::parse(body(0))["target"], "fr") << "the system's preferred language";
  EXPECT_EQ(sentPaths().at(1), "/lookup/hello?accent=uk");
  answerData("/translate", {{"translated", "Bonjour"}});
  answerData("/lookup/", kHelloEntry);
  settle();
  ASSERT_EQ(audio.sources.size(), 1u);
  EXPECT_FLOAT_EQ(audio.volume, 0.5f);

  // The built-in prompt does not travel.
  controller->show("draft", PopupMode::refine);
  settle();
  EXPECT_EQ(Json::parse(body(2)), (Json{{"text", "draft"}, {"language", "fr"}}));
}

TEST_F(PopupControllerTest, APhraseMakesNoLookup) {
  controller->show("good morning", PopupMode::translate);
  EXPECT_FALSE(model.isWordMode());
  settle();
  EXPECT_EQ(sentPaths(), (std::vector<std::string>{"/translate"}));
  answerData("/translate", {{"translated", "Guten Morgen"}});
  settle();
  EXPECT_EQ(model.translation(), TranslationResult{"Guten Morgen"});
  EXPECT_FALSE(model.isLoading());
}

TEST_F(PopupControllerTest, ASecondShowDropsTheFirstLoadsLateResults) {
  controller->show("hello", PopupMode::translate);
  settle();
  const int shows = panel.showCount;

  // A refine request while the translate popup is open: nothing posted, the panel reused.
  defaults.set(AppSettings::kTargetLanguage, "fr");
  controller->show("me want go home", PopupMode::refine);
  EXPECT_EQ(posted.size(), 1u);
  EXPECT_EQ(model.mode(), PopupMode::refine);
  settle();
  EXPECT_TRUE(panel.isVisible());
  EXPECT_EQ(panel.showCount, shows + 1);
  EXPECT_EQ(monitors.globalCount() + monitors.localCount(), 3u);
  EXPECT_EQ(monitors.unknownRemovals(), 0u);

  // The translation's requests were not cancelled; their answers arrive and are not written.
  ASSERT_EQ(sentPaths().at(2), "/refine");
  EXPECT_FALSE(http.requests()[0].cancel.isCancelled());
  EXPECT_FALSE(http.requests()[1].cancel.isCancelled());
  EXPECT_EQ(Json::parse(body(2)),
            (Json{{"text", "me want go home"}, {"prompt", "My prompt"}, {"language", "fr"}}));
  answerData("/translate", {{"translated", "Hallo"}});
  answerData("/lookup/", kHelloEntry);
  settle();
  EXPECT_FALSE(model.translation());
  EXPECT_FALSE(model.entry());
  EXPECT_TRUE(audio.sources.empty());
  EXPECT_TRUE(model.isLoading());

  answerData("/refine", {{"refined", "I want to go home.\n---\nI'd like to go home."}});
  settle();
  EXPECT_EQ(model.refined(), "I want to go home.\n---\nI'd like to go home.");
  EXPECT_FALSE(model.isLoading());
}

TEST_F(PopupControllerTest, RefineFailureAndRefineCancelledByClosing) {
  controller->show("draft", PopupMode::refine);
  settle();
  answerError("/refine", "Add your Gemini key");
  settle();
  EXPECT_EQ(model.errorMessage(), "Add your Gemini key");
  EXPECT_FALSE(model.isLoading());
  EXPECT_TRUE(panel.isVisible());

  // The refine request itself is cancelled by a close, and nothing is written afterwards.
  controller->show("draft two", PopupMode::refine);
  settle();
  controller->dismiss();
  EXPECT_TRUE(http.requests().back().cancel.isCancelled());
  answerData("/refine", {{"refined", "Draft two."}});
  settle();
  EXPECT_FALSE(model.refined());

  // A request that cannot go out: the message in place of a result, and the load before it dropped.
  const auto sent = http.requests().size();
  controller->show("draft three", PopupMode::refine);
  controller->showError("draft three", PopupMode::refine, "The keyring did not answer");
  settle();
  EXPECT_EQ(http.requests().size(), sent);
  EXPECT_EQ(model.errorMessage(), "The keyring did not answer");
  EXPECT_FALSE(model.isLoading());
  EXPECT_TRUE(panel.isVisible());
}

TEST_F(PopupControllerTest, QuickTranslateDebouncesTogglesAndLooksUpOnlyEnglish) {
  controller->showQuickTranslate();
  EXPECT_EQ(posted, (std::vector<Posted>{{"quorvelle.didOpenQuickTranslate", false}}));
  EXPECT_EQ(model.mode(), PopupMode::quickTranslate);
  EXPECT_FALSE(model.isLoading());
  EXPECT_EQ(model.focusToken(), 1);
  settle();
  EXPECT_TRUE(panel.hasFocus);

  // Typing: a request only 350 ms after the last keystroke, with the trimmed text.
  const auto input = controller->viewCallbacks().onInput;
  for (const char* text : {"п", "пр", "привет "}) {
    input(text);
    executor.advance(100ms);
  }
  EXPECT_TRUE(model.isLoading());
  executor.advance(249ms);
  EXPECT_TRUE(http.requests().empty());
  executor.advance(1ms);
  ASSERT_EQ(http.requests().size(), 1u);
  EXPECT_EQ(Json::parse(body(0)), (Json{{"text", "привет"}, {"target", "en"}}));

  // Into English a one-word translation gets its entry, but nothing plays.
  answerData("/translate", {{"translated", "Hello"}});
  settle();
  ASSERT_EQ(sentPaths().at(1), "/lookup/hello?accent=us");
  answerData("/lookup/", kHelloEntry);
  settle();
  EXPECT_TRUE(model.entry());
  EXPECT_FALSE(model.isLoading());
  EXPECT_TRUE(audio.sources.empty());

  // Tab through the key monitor: swallowed, target "ru", the input translated again after the pause.
  controller->model().setSourceText("hello");
  EXPECT_FALSE(sendKey(kTab));
  EXPECT_EQ(model.quickTarget(), "ru");
  executor.advance(349ms);
  EXPECT_EQ(http.requests().size(), 2u);
  executor.advance(1ms);
  ASSERT_EQ(http.requests().size(), 3u);
  EXPECT_EQ(Json::parse(body(2)), (Json{{"text", "hello"}, {"target", "ru"}}));
  answerData("/translate", {{"translated", "привет"}});
  executor.advance(1s);
  EXPECT_EQ(http.requests().size(), 3u) << "no lookup into Russian";
  EXPECT_FALSE(model.entry());
  EXPECT_FALSE(model.isLoading());

  // Clearing the input clears the result without a request.
  controller->model().setErrorMessage("old");
  input("  ");
  EXPECT_FALSE(model.translation());
  EXPECT_FALSE(model.entry());
  EXPECT_FALSE(model.errorMessage());
  EXPECT_FALSE(model.isLoading());
  executor.advance(1s);
  EXPECT_EQ(http.requests().size(), 3u);

  // Reopening starts again in English; an input cleared during the pause sends nothing.
  controller->showQuickTranslate();
  EXPECT_EQ(model.quickTarget(), "en");
  EXPECT_EQ(model.focusToken(), 2);
  input("abc");
  executor.advance(200ms);
  input("");
  executor.advance(1s);
  EXPECT_EQ(http.requests().size(), 3u);
}

TEST_F(PopupControllerTest, QuickTranslateFailureAndCancelledRequest) {
  controller->showQuickTranslate();
  settle();
  controller->quickTranslateInput("hola");
  executor.advance(350ms);
  answerError("/translate", "Unsupported text");
  settle();
  EXPECT_EQ(model.errorMessage(), "Unsupported text");
  EXPECT_FALSE(model.translation());
  EXPECT_FALSE(model.isLoading());

  // The next success clears the error.
  controller->quickTranslateInput("hola ");
  executor.advance(350ms);
  answerData("/translate", {{"translated", "hi there"}});
  settle();
  EXPECT_EQ(model.translation(), TranslationResult{"hi there"});
  EXPECT_FALSE(model.errorMessage());

  // A new input cancels the request under way; its answer is not written.
  controller->quickTranslateInput("hola amigo");
  executor.advance(350ms);
  controller->quickTranslateInput("hola amigos");
  EXPECT_TRUE(http.requests()[2].cancel.isCancelled());
  answerData("/translate", {{"translated", "hello friend"}});
  settle();
  EXPECT_EQ(model.translation(), TranslationResult{"hi there"});
}

TEST_F(PopupControllerTest, InputAndToggleDoNothingOutsideQuickTranslate) {
  controller->show("good morning", PopupMode::translate);
  settle();
  controller->quickTranslateInput("other");
  controller->toggleQuickTarget();
  executor.advance(1s);
  EXPECT_EQ(http.requests().size(), 1u);
  EXPECT_EQ(model.quickTarget(), "en");
  EXPECT_TRUE(model.isLoading()) << "the translate load was not cancelled";
  // Tab passes on in translate mode.
  EXPECT_TRUE(sendKey(kTab));
  EXPECT_TRUE(sendKey(36));
  EXPECT_TRUE(panel.isVisible());
}

TEST_F(PopupControllerTest, EscapeClosesAndIsSwallowed) {
  controller->show("hello", PopupMode::translate);
  settle();
  EXPECT_FALSE(sendKey(kEscape));
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(monitors.globalCount() + monitors.localCount(), 0u);
  // The load was cancelled with the close.
  answerData("/translate", {{"translated", "Hallo"}});
  settle();
  EXPECT_FALSE(model.translation());
  // The model keeps its content until the next popup.
  EXPECT_EQ(model.sourceText(), "hello");
}

TEST_F(PopupControllerTest, ClicksScrollsAndEscapeElsewhere) {
  struct Case {
    const char* name;
    bool otherApplication;
    MonitoredEvent event;
    bool closes;
  };
  const Case cases[] = {
      {"click inside the popup", false, {MonitoredEventType::leftMouseDown, kPanelId, 0}, false},
      {"right click inside the popup", false, {MonitoredEventType::rightMouseDown, kPanelId, 0}, false},
      {"scroll inside this application",
       false,
       {MonitoredEventType::scrollWheel, kSettingsWindowId, 0},
       false},
      {"click in the settings window",
       false,
       {MonitoredEventType::leftMouseDown, kSettingsWindowId, 0},
       true},
      {"click without a window", false, {MonitoredEventType::rightMouseDown, 0, 0}, true},
      {"click in another application", true, {MonitoredEventType::leftMouseDown, 0, 0}, true},
      {"right click in another application", true, {MonitoredEventType::rightMouseDown, 0, 0}, true},
      {"scroll in another application", true, {MonitoredEventType::scrollWheel, 0, 0}, true},
      {"Escape in another application", true, {MonitoredEventType::keyDown, 0, kEscape}, true},
      {"another key in another application", true, {MonitoredEventType::keyDown, 0, 36}, false},
  };
  for (const auto& c : cases) {
    controller->show("hello", PopupMode::translate);
    settle();
    ASSERT_TRUE(panel.isVisible()) << c.name;
    if (c.otherApplication) {
      monitors.sendToOtherApplication(c.event);
    } else {
      EXPECT_TRUE(monitors.sendToThisApplication(c.event)) << c.name << ": clicks are passed on";
    }
    EXPECT_EQ(panel.isVisible(), !c.closes) << c.name;
    EXPECT_EQ(monitors.globalCount() + monitors.localCount(), c.closes ? 0u : 3u) << c.name;
    controller->dismiss();
  }
}

TEST_F(PopupControllerTest, AMonitorTheSystemRefusesIsSkipped) {
  monitors.refuseGlobal(true);
  controller->show("hello", PopupMode::translate);
  settle();
  EXPECT_EQ(monitors.localCount(), 2u);
  monitors.sendToThisApplication({MonitoredEventType::leftMouseDown, kSettingsWindowId, 0});
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(monitors.localCount(), 0u);
  EXPECT_EQ(monitors.unknownRemovals(), 0u);
}

TEST_F(PopupControllerTest, CopyClosesWithoutPasting) {
  controller->show("me want go home", PopupMode::refine);
  settle();
  controller->viewCallbacks().onCopy("I want to go home.");
  EXPECT_EQ(pasteboard.string(), "I want to go home.");
  EXPECT_FALSE(panel.isVisible());
  executor.advance(1s);
  EXPECT_TRUE(keystrokes.sent.empty());
  EXPECT_EQ(posted.size(), 0u);
}

TEST_F(PopupControllerTest, ReplacePostsClosesAndPastes150msLater) {
  pasteboard.writeString("what the user had copied");
  controller->show("me want go home", PopupMode::refine);
  settle();
  controller->viewCallbacks().onReplace("I want to go home.");

  // Announced with the text already on the pasteboard and the panel still open, then closed.
  EXPECT_EQ(posted, (std::vector<Posted>{{"quorvelle.didReplaceRefined", true}}));
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(pasteboard.string(), "I want to go home.");

  executor.advance(149ms);
  EXPECT_TRUE(keystrokes.sent.empty());
  executor.advance(1ms);
  EXPECT_EQ(keystrokes.sent, (std::vector<Keystroke>{kPaste}));
  // The pasted text stays on the pasteboard.
  executor.advance(1s);
  EXPECT_EQ(pasteboard.string(), "I want to go home.");
}

// A terminal without a paste key gets no keystroke: the variant stays on the pasteboard, and the popup stays
// open saying so until the next popup.
TEST_F(PopupControllerTest, ReplaceInATerminalWithoutAPasteKeyKeepsThePopupAndSaysWhereTheTextIs) {
  accessibility.copyPasteKeys = platform::CopyPasteKeys::none;
  controller->show("me want go home", PopupMode::refine);
  settle();
  controller->viewCallbacks().onReplace("I want to go home.");

  EXPECT_EQ(posted, (std::vector<Posted>{{"quorvelle.didReplaceRefined", true}}));
  EXPECT_EQ(pasteboard.string(), "I want to go home.");
  EXPECT_TRUE(panel.isVisible());
  EXPECT_EQ(controller->model().notice(), popup_text::kOnlyOnTheClipboard);
  executor.advance(1s);
  EXPECT_TRUE(keystrokes.sent.empty());

  controller->show("me want go home", PopupMode::refine);
  EXPECT_FALSE(controller->model().notice());
}

TEST_F(PopupControllerTest, AResizeByTheToolkitIsClampedToTheScreen) {
  controller->show("hello", PopupMode::translate);
  settle();
  // Growing upward (origin kept) past the menu bar: pulled back 8 below the top of the visible frame.
  panel.setContentSize({360, 600});
  EXPECT_EQ(panel.frame(), (platform::Rect{{680, 267}, {360, 600}}));
}

TEST_F(PopupControllerTest, CallbacksAndLateRepliesOutliveTheController) {
  controller->show("hello", PopupMode::translate);
  settle();
  const auto callbacks = controller->viewCallbacks();
  controller.reset();
  EXPECT_EQ(monitors.globalCount() + monitors.localCount(), 0u);
  callbacks.onCopy("x");
  callbacks.onReplace("y");
  callbacks.onInput("z");
  callbacks.onToggleTarget();
  callbacks.onPlayAudio();
  answerData("/translate", {{"translated", "Hallo"}});
  answerData("/lookup/", kHelloEntry);
  executor.advance(1s);
  EXPECT_FALSE(pasteboard.string());
  EXPECT_TRUE(keystrokes.sent.empty());
  EXPECT_TRUE(audio.sources.empty());
}

}  // namespace
}  // namespace quorvelle
