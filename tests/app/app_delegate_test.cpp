#include "app/AppDelegate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "app/AppNotifications.h"
#include "app/DeviceIdentity.h"
#include "app/GeminiKeyManager.h"
#include "app/ShortcutNames.h"
#include "app/quorvelleApp.h"
#include "platform/fake/CountingSystemBeep.h"
#include "platform/fake/FixedMachineIdentity.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MapBundleInfo.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/RecordingAppShell.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/RecordingUpdater.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/fake/SeededRandom.h"
#include "platform/fake/StoredAppWindow.h"
#include "platform/fake/StoredScreens.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/support/RecordingAnalyticsClient.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using platform::ActivationPolicy;
using platform::Keystroke;
using platform::PasteboardItem;
using platform::Rect;
using platform::Size;

// What the popup was asked to do: "show <mode> <text>" or "quick".
struct RecordingPopup final : SelectionPopup {
  explicit RecordingPopup(std::vector<std::string>& log) : calls(log) {}
  void show(const std::string& text, PopupMode mode) override {
    calls.push_back(std::string("show ") + (mode == PopupMode::refine ? "refine " : "translate ") + text);
  }
  void showQuickTranslate() override { calls.push_back("quick"); }
  void showError(const std::string& text, PopupMode mode, const std::string& message) override {
    calls.push_back(std::string("error ") + (mode == PopupMode::refine ? "refine " : "translate ") + text +
                    ": " + message);
  }
  std::vector<std::string>& calls;
};

struct AppDelegateTest : testing::Test {
  AppDelegateTest() {
    screens.list = {{Rect{{0, 0}, {1440, 900}}, Rect{{0, 40}, {1440, 836}}}};
    windows.nextFrame = Rect{{10, 10}, {300, 200}};
    keys.onSend = [this](const Keystroke& k) {
      if (k.keyName == "AB03" && pasteboardSelection) pasteboard.simulateCopy(*pasteboardSelection);
    };
  }

  std::shared_ptr<AppDelegate> make() {
    HotkeyRegistry hotkeys{
        [this](const GlobalShortcuts::Name& name, std::function<void()> handler) {
          // Migration has to be done before a name exists: creating one stores its initial shortcut.
          journal.push_back("onKeyDown " + name.rawValue() +
                            (env.defaults.boolForKey(AppSettings::kHotkeysMigrated) ? " (migrated)" : ""));
          handlers.emplace_back(name.rawValue(), std::move(handler));
        },
        [this](const std::vector<GlobalShortcuts::Name>& names) {
          for (const auto& n : names) journal.push_back("disable " + n.rawValue());
        },
        [this](const std::vector<GlobalShortcuts::Name>& names) {
          for (const auto& n : names) journal.push_back("enable " + n.rawValue());
        }};
    return AppDelegate::create({
        shell,
        updater,
        workspace,
        windows,
        screens,
        beep,
        appNotifications,
        settings,
        analytics,
        capture,
        keychain,
        hotkeys,
        [this](std::function<void()> onFinish) -> QWidget* {
          journal.push_back("onboarding view");
          finishOnboarding = std::move(onFinish);
          return nullptr;
        },
        [this]() -> QWidget* {
          ++settingsViews;
          return nullptr;
        },
        [this] { return std::make_unique<RecordingPopup>(popupCalls); },
    });
  }

  void press(const std::string& name) {
    for (auto& [n, handler] : handlers)
      if (n == name) handler();
  }
  platform::fake::StoredAppWindow* window(platform::AppWindow* w) {
    return static_cast<platform::fake::StoredAppWindow*>(w);
  }

  test::ShortcutsTestEnvironment env;
  platform::fake::FixedSystemInfo system{{"de-DE"}};
  AppSettings settings{env.defaults, system};
  test::RecordingAnalyticsClient analyticsClient;
  platform::fake::MapBundleInfo bundle{{{"DiziZozAPIKey", "phc_key"}, {"DiziZozHost", "https://eu.example"}}};
  platform::fake::FixedMachineIdentity machine{"6F1C2D3E-0000-4000-8000-123456789ABC"};
  platform::fake::SeededRandom random{7};
  DeviceIdentity device{machine, env.defaults, random};
  Analytics analytics{analyticsClient, bundle, device};
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::RecordingKeystrokeSender keys;
  std::optional<std::string> pasteboardSelection;
  SelectionCapture capture{accessibility, pasteboard, keys, env.executor};
  platform::fake::MemorySecretStore secrets;
  platform::fake::ManualSerialQueue keyringWorker;
  Keychain keychain{secrets, keyringWorker, env.executor};
  platform::fake::RecordingAppShell shell;
  platform::fake::RecordingUpdater updater;
  platform::fake::ManualWorkspace workspace;
  platform::fake::StoredAppWindowHost windows;
  platform::fake::StoredScreens screens;
  platform::fake::CountingSystemBeep beep;
  platform::NotificationCenter appNotifications;

  std::vector<std::string> journal;
  std::vector<std::pair<std::string, std::function<void()>>> handlers;
  std::function<void()> finishOnboarding;
  int settingsViews = 0;
  std::vector<std::string> popupCalls;
};

TEST_F(AppDelegateTest, CreationStartsTheUpdaterAndMenuCheckGoesStraightToTheCheck) {
  auto delegate = make();
  EXPECT_EQ(updater.calls, (std::vector<std::string>{"start"}));
  delegate->checkForUpdates();
  delegate->checkForUpdates();
  EXPECT_EQ(updater.calls, (std::vector<std::string>{"start", "check", "check"}));
}

TEST_F(AppDelegateTest, StartUpRunsInOrderAndOpensOnboardingLast) {
  updater.automaticChecks = true;
  auto delegate = make();
  // Each step records what the earlier ones left behind.
  analyticsClient.calls.clear();
  delegate->applicationDidFinishLaunching();

  EXPECT_EQ(analyticsClient.calls, (std::vector<std::string>{"setup", "identify"}));
  EXPECT_EQ(updater.calls, (std::vector<std::string>{"start", "backgroundCheck"}));
  EXPECT_EQ(journal, (std::vector<std::string>{"onKeyDown translate (migrated)",
                                               "onKeyDown refine (migrated)", "onboarding view"}));
  ASSERT_NE(delegate->onboardingWindow(), nullptr);
  EXPECT_TRUE(delegate->onboardingWindow()->isVisible());
  EXPECT_EQ(shell.policies, std::vector<ActivationPolicy>{ActivationPolicy::regular});

  // The observers exist before onboarding shows: a wake now re-registers.
  journal.clear();
  workspace.wake();
  EXPECT_EQ(journal, (std::vector<std::string>{"disable translate", "disable refine", "enable translate",
                                               "enable refine"}));
}

TEST_F(AppDelegateTest, CompletedOnboardingShowsNothingAtLaunchAndAutomaticChecksOffSkipTheBackgroundCheck) {
  env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  auto delegate = make();
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(delegate->onboardingWindow(), nullptr);
  EXPECT_TRUE(windows.windows.empty());
  EXPECT_EQ(updater.calls, (std::vector<std::string>{"start"}));
  EXPECT_TRUE(shell.policies.empty());
  delegate->checkForUpdates();
  EXPECT_EQ(updater.calls.back(), "check");
}

TEST_F(AppDelegateTest, WakeAndSessionReturnDisableThenEnableBothHotkeys) {
  env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  auto delegate = make();
  delegate->applicationDidFinishLaunching();
  const std::vector<std::string> once{"disable translate", "disable refine", "enable translate",
                                      "enable refine"};
  for (auto trigger :
       {&platform::fake::ManualWorkspace::wake, &platform::fake::ManualWorkspace::sessionBecameActive}) {
    journal.clear();
    (workspace.*trigger)();
    EXPECT_EQ(journal, once);
  }
  // Observers hold the delegate weakly.
  delegate.reset();
  journal.clear();
  workspace.wake();
  EXPECT_TRUE(journal.empty());
}

TEST_F(AppDelegateTest, SettingsWindowIsMadeOnceSizedCentredAndThenOnlyRefronted) {
  auto delegate = make();
  delegate->showSettings();
  auto* w = window(delegate->settingsWindow());
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->title, "Quorvelle Settings");
  EXPECT_TRUE(w->style.titlebarAppearsTransparent && w->style.titleHidden &&
              w->style.titlebarSeparatorHidden);
  // Centred on the visible frame (40 points of panel at the bottom).
  EXPECT_EQ(w->frame(), (Rect{{400, 40 + 418 - 230}, {640, 460}}));
  EXPECT_TRUE(w->visible);
  EXPECT_EQ(shell.activations, 1);

  w->frame();
  w->setFrameOrigin({5, 5});  // the user moved it
  w->close();
  delegate->showSettings();
  EXPECT_EQ(delegate->settingsWindow(), w);
  EXPECT_EQ(settingsViews, 1);
  EXPECT_EQ(w->frame(), (Rect{{5, 5}, {640, 460}}));
  EXPECT_EQ(w->contentSizeChanges, 1);
  EXPECT_TRUE(w->visible);
  EXPECT_EQ(shell.activations, 2);
  EXPECT_TRUE(shell.policies.empty());
}

TEST_F(AppDelegateTest, SettingsWindowWithoutAMainScreenKeepsItsOwnGeometry) {
  screens.list.clear();
  auto delegate = make();
  delegate->showSettings();
  EXPECT_EQ(delegate->settingsWindow()->frame(), windows.nextFrame);
  EXPECT_TRUE(delegate->settingsWindow()->isVisible());
}

TEST_F(AppDelegateTest, OnboardingFitsToItsContentAndRecentresOnEveryCall) {
  windows.nextFittingSize = {520, 600};
  auto delegate = make();
  delegate->showOnboarding();
  auto* w = window(delegate->onboardingWindow());
  EXPECT_EQ(w->title, "Welcome to Quorvelle");
  EXPECT_FALSE(w->style.titlebarSeparatorHidden);
  EXPECT_EQ(w->frame(), (Rect{{460, 40 + 418 - 300}, {520, 600}}));

  // Again while open: the content grew, the user moved the window.
  w->fittingSize = {700, 500};
  w->setFrameOrigin({0, 0});
  delegate->showOnboarding();
  EXPECT_EQ(delegate->onboardingWindow(), w);
  EXPECT_EQ(w->frame(), (Rect{{370, 40 + 418 - 250}, {700, 500}}));

  // No fitting width: the size stays, the window is still centred.
  w->fittingSize = {0, 999};
  w->setFrameOrigin({0, 0});
  delegate->showOnboarding();
  EXPECT_EQ(w->frame(), (Rect{{370, 40 + 418 - 250}, {700, 500}}));
  EXPECT_EQ(w->fronted, 3);
  EXPECT_EQ(shell.activations, 3);
  EXPECT_EQ(shell.policies, std::vector<ActivationPolicy>(3, ActivationPolicy::regular));
}

TEST_F(AppDelegateTest, FinishingOnboardingClosesAndForgetsTheWindowAndBecomesAnAccessory) {
  auto delegate = make();
  delegate->applicationDidFinishLaunching();
  auto* w = window(delegate->onboardingWindow());
  ASSERT_TRUE(finishOnboarding);
  EXPECT_EQ(w->closes, 0);
  finishOnboarding();
  EXPECT_EQ(delegate->onboardingWindow(), nullptr);
  EXPECT_EQ(shell.policy(), ActivationPolicy::accessory);

  // A later showOnboarding() builds a new window.
  delegate->showOnboarding();
  EXPECT_EQ(windows.windows.size(), 2u);

  // The callback holds the delegate weakly.
  auto finish = finishOnboarding;
  const auto policies = shell.policies.size();
  delegate.reset();
  finish();
  EXPECT_EQ(shell.policies.size(), policies);
}

TEST_F(AppDelegateTest, OnboardingClosedWithItsButtonStaysAndKeepsTheRegularPolicy) {
  auto delegate = make();
  delegate->showOnboarding();
  auto* w = window(delegate->onboardingWindow());
  w->close();
  EXPECT_EQ(delegate->onboardingWindow(), w);
  EXPECT_EQ(shell.policy(), ActivationPolicy::regular);
  delegate->showOnboarding();
  EXPECT_EQ(delegate->onboardingWindow(), w);
  EXPECT_TRUE(w->visible);
}

// The request road from a hot-key press to its outcome. A case says only what differs from an onboarded,
// trusted user pressing the translate hot key with nothing selected, no stored key and nothing expected.
struct RouteCase {
  const char* name = "";
  bool onboarded = true;
  bool onboardingOpen = false;
  bool trusted = true;
  std::optional<std::string> axText = std::nullopt;
  std::optional<std::string> copied = std::nullopt;  // what the application puts on the pasteboard for Ctrl+C
  std::optional<std::string> storedKey = std::nullopt;
  const char* hotkey = "translate";
  std::vector<std::string> popup = {};
  int beeps = 0;
  bool settingsShown = false;
  bool onboardingShown = false;  // the press opened or re-fronted the onboarding window
};

TEST_F(AppDelegateTest, RoutesEachPressToItsOutcome) {
  const RouteCase cases[] = {
      {.name = "gate: not onboarded, window closed",
       .onboarded = false,
       .axText = "word",
       .storedKey = "k",
       .onboardingShown = true},
      {.name = "gate: onboarding window visible",
       .onboarded = false,
       .onboardingOpen = true,
       .axText = "word",
       .popup = {"show translate word"}},
      {.name = "untrusted", .trusted = false, .axText = "word", .storedKey = "k", .hotkey = "refine"},
      {.name = "translate with text", .axText = "hola", .popup = {"show translate hola"}},
      {.name = "refine with a stored key",
       .axText = "draft",
       .storedKey = "k",
       .hotkey = "refine",
       .popup = {"show refine draft"}},
      {.name = "refine: an empty stored key counts",
       .axText = "draft",
       .storedKey = "",
       .hotkey = "refine",
       .popup = {"show refine draft"}},
      {.name = "refine without a key", .axText = "draft", .hotkey = "refine", .settingsShown = true},
      {.name = "translate, nothing selected", .popup = {"quick"}},
      {.name = "refine, nothing selected", .storedKey = "k", .hotkey = "refine", .beeps = 1},
      {.name = "refine, nothing selected, no key: beeps", .hotkey = "refine", .beeps = 1},
      {.name = "accessibility spaces go as they are", .axText = "   ", .popup = {"show translate    "}},
      {.name = "pasteboard spaces are no selection", .copied = " \n\t ", .popup = {"quick"}},
      {.name = "pasteboard spaces on refine beep",
       .copied = " \n ",
       .storedKey = "k",
       .hotkey = "refine",
       .beeps = 1},
      {.name = "pasteboard text is trimmed",
       .axText = "",
       .copied = "  copied \n",
       .storedKey = "k",
       .hotkey = "refine",
       .popup = {"show refine copied"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    env.defaults.set(AppSettings::kHasCompletedOnboarding, c.onboarded);
    accessibility.trusted = c.trusted;
    accessibility.openedURLs.clear();
    accessibility.selectedText = c.axText;
    pasteboardSelection = c.copied;
    if (c.storedKey)
      keychain.save(*c.storedKey, GeminiKeyManager::kService, GeminiKeyManager::kAccount);
    else
      keychain.remove(GeminiKeyManager::kService, GeminiKeyManager::kAccount);
    popupCalls.clear();
    beep.beeps = 0;
    std::vector<std::string> focusRequests;
    auto token = appNotifications.addObserver(
        std::string(notifications::kFocusGeminiApiKey),
        [&](const platform::Notification& n) { focusRequests.push_back(n.name); });

    auto delegate = make();
    if (c.onboardingOpen) delegate->showOnboarding();
    const auto frontedBefore =
        delegate->onboardingWindow() ? window(delegate->onboardingWindow())->fronted : 0;
    delegate->showPopupForSelection(std::string(c.hotkey) == "refine" ? PopupMode::refine
                                                                      : PopupMode::translate);
    env.executor.advance(SelectionCapture::copySettleDelay);
    keyringWorker.drain();
    env.executor.runUntilIdle();

    EXPECT_EQ(popupCalls, c.popup);
    EXPECT_EQ(beep.beeps, c.beeps);
    EXPECT_EQ(delegate->settingsWindow() != nullptr, c.settingsShown);
    EXPECT_EQ(focusRequests.size(), c.settingsShown ? 1u : 0u);
    if (c.settingsShown) {
      EXPECT_TRUE(delegate->settingsWindow()->isVisible());
    }
    const bool onboardingFronted =
        delegate->onboardingWindow() && window(delegate->onboardingWindow())->fronted > frontedBefore;
    EXPECT_EQ(onboardingFronted, c.onboardingShown);
    EXPECT_EQ(accessibility.openedURLs.size(), !c.trusted && c.onboarded ? 1u : 0u);
  }
}

// The keyring answers refine presses on a worker, in its own time: meanwhile other presses work, and
// each press drops the refine still waiting. A keyring that fails is said so in the popup; the user is
// not sent to enter a key that may well be stored.
TEST_F(AppDelegateTest, ARefineWaitingForTheKeyringNeitherBlocksNorPretendsThereIsNoKey) {
  env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  keychain.save("k", GeminiKeyManager::kService, GeminiKeyManager::kAccount);
  keyringWorker.drain();
  auto delegate = make();

  accessibility.selectedText = "draft";
  delegate->showPopupForSelection(PopupMode::refine);
  env.executor.runUntilIdle();
  EXPECT_TRUE(popupCalls.empty()) << "waiting for the keyring";
  accessibility.selectedText = "hola";
  delegate->showPopupForSelection(PopupMode::translate);
  env.executor.runUntilIdle();
  EXPECT_EQ(popupCalls, std::vector<std::string>{"show translate hola"});
  keyringWorker.drain();
  env.executor.runUntilIdle();
  EXPECT_EQ(popupCalls, std::vector<std::string>{"show translate hola"}) << "the refine was dropped";

  popupCalls.clear();
  secrets.setFailing(true);
  accessibility.selectedText = "draft";
  delegate->showPopupForSelection(PopupMode::refine);
  keyringWorker.drain();
  env.executor.runUntilIdle();
  EXPECT_EQ(popupCalls, std::vector<std::string>{"error refine draft: " +
                                                 std::string(GeminiKeyManager::kKeyringDidNotAnswer)});
  EXPECT_EQ(delegate->settingsWindow(), nullptr);

  // No keyring library on this system: the popup says the keyring cannot be used, not that it is busy.
  popupCalls.clear();
  secrets.setUnavailable(true);
  delegate->showPopupForSelection(PopupMode::refine);
  keyringWorker.drain();
  env.executor.runUntilIdle();
  EXPECT_EQ(popupCalls, std::vector<std::string>{"error refine draft: " +
                                                 std::string(GeminiKeyManager::kKeyringUnavailable)});
  EXPECT_EQ(delegate->settingsWindow(), nullptr);
}

TEST_F(AppDelegateTest, TranslateNeverConsultsTheKeychain) {
  env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  accessibility.selectedText = "word";
  auto delegate = make();
  delegate->showPopupForSelection(PopupMode::translate);
  EXPECT_EQ(secrets.readCount(), 0);
  EXPECT_EQ(popupCalls, std::vector<std::string>{"show translate word"});
}

TEST_F(AppDelegateTest, HotkeyHandlersReachTheRoadAndAPressAfterTheDelegateIsGoneDoesNothing) {
  env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  accessibility.selectedText = {};
  pasteboardSelection = "late";
  auto delegate = make();
  delegate->applicationDidFinishLaunching();
  press("translate");
  env.executor.runUntilIdle();
  // The copy is still settling when the delegate goes.
  ASSERT_EQ(keys.sent.size(), 1u);
  delegate.reset();
  env.executor.advance(SelectionCapture::copySettleDelay);
  EXPECT_TRUE(popupCalls.empty());
  EXPECT_EQ(beep.beeps, 0);
  press("refine");
  EXPECT_EQ(keys.sent.size(), 1u);
}

TEST(QuorvelleAppMenu, MenuItemsKeysAndNoTrayFallback) {
  // Built on the delegate fixture's services.
  struct Fixture : AppDelegateTest {
    void TestBody() override {}
  } f;
  f.env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  auto delegate = f.make();
  quorvelleApp app(f.shell, delegate);
  app.launch();
  ASSERT_EQ(f.shell.items.size(), 5u);
  EXPECT_EQ(f.shell.title, "Quorvelle");
  const std::vector<std::pair<std::string, std::string>> expected{
      {"Check for Updates…", ""}, {"", ""}, {"Settings…", ","}, {"", ""}, {"Quit Quorvelle", "q"}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(f.shell.items[i].title, expected[i].first);
    EXPECT_EQ(f.shell.items[i].keyEquivalent, expected[i].second);
    EXPECT_EQ(f.shell.items[i].isDivider(), expected[i].first.empty());
  }
  EXPECT_EQ(delegate->settingsWindow(), nullptr);  // the tray is there: nothing opens by itself
  EXPECT_TRUE(f.shell.choose("Settings…"));
  EXPECT_NE(delegate->settingsWindow(), nullptr);
  EXPECT_TRUE(f.shell.choose("Check for Updates…"));
  EXPECT_EQ(f.updater.calls, (std::vector<std::string>{"start", "check"}));
  EXPECT_TRUE(f.shell.choose("Quit Quorvelle"));
  EXPECT_EQ(f.shell.terminations, 1);
}

// The recorder checks a new shortcut against this menu: Ctrl+Q (Command+Q) is the menu's Quit.
TEST(QuorvelleAppMenu, TheShortcutMenuHoldsTheStatusMenusKeys) {
  test::ShortcutsTestEnvironment env({}, &quorvelleApp::shortcutMenu);
  const auto menu = GlobalShortcuts::environment().mainMenu();
  using GlobalShortcuts::Key;
  using GlobalShortcuts::ModifierFlags;
  using GlobalShortcuts::Shortcut;
  const auto* quit = Shortcut(Key::q, ModifierFlags::command).menuItemWithMatchingShortcut(menu);
  ASSERT_NE(quit, nullptr);
  EXPECT_EQ(quit->title, "Quit Quorvelle");
  const auto* settings = Shortcut(Key::comma, ModifierFlags::command).menuItemWithMatchingShortcut(menu);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->title, "Settings…");
  EXPECT_EQ(Shortcut(Key::q, ModifierFlags::option).menuItemWithMatchingShortcut(menu), nullptr);
  EXPECT_EQ(Shortcut(Key::u, ModifierFlags::command).menuItemWithMatchingShortcut(menu), nullptr);
}

TEST_F(AppDelegateTest, WithoutATrayTheSettingsWindowOpensSoTheProgramIsNeverInvisible) {
  env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  shell.trayAvailable = false;
  auto delegate = make();
  quorvelleApp app(shell, delegate);
  app.launch();
  ASSERT_NE(delegate->settingsWindow(), nullptr);
  EXPECT_TRUE(delegate->settingsWindow()->isVisible());
}

}  // namespace
}  // namespace quorvelle

namespace quorvelle {
namespace {

// The same start-up against the shortcuts package's own registry over the fake hot-key system.
TEST_F(AppDelegateTest, OnTheRealRegistryAWakeRegistersBothHotKeysAnewAndPressesReachTheRoad) {
  env.defaults.set(AppSettings::kHasCompletedOnboarding, true);
  accessibility.selectedText = "word";
  HotkeyRegistry real = HotkeyRegistry::globalShortcuts();
  auto delegate = AppDelegate::create({shell, updater, workspace, windows, screens, beep, appNotifications,
                                       settings, analytics, capture, keychain, real,
                                       [](std::function<void()>) -> QWidget* { return nullptr; },
                                       []() -> QWidget* { return nullptr; },
                                       [this] { return std::make_unique<RecordingPopup>(popupCalls); }});
  delegate->applicationDidFinishLaunching();
  const auto translate = GlobalShortcuts::getShortcut(shortcuts::translate());
  const auto refine = GlobalShortcuts::getShortcut(shortcuts::refine());
  ASSERT_TRUE(translate && refine);
  const auto before = std::make_pair(GlobalShortcuts::registry::hotKeyId(*translate),
                                     GlobalShortcuts::registry::hotKeyId(*refine));
  ASSERT_TRUE(before.first && before.second);

  workspace.wake();
  const auto after = std::make_pair(GlobalShortcuts::registry::hotKeyId(*translate),
                                    GlobalShortcuts::registry::hotKeyId(*refine));
  ASSERT_TRUE(after.first && after.second);
  EXPECT_NE(after.first, before.first);
  EXPECT_NE(after.second, before.second);
  EXPECT_TRUE(GlobalShortcuts::isEnabled(shortcuts::translate()));

  env.hotKeys.press(std::uint32_t(translate->carbonKeyCode()), std::uint32_t(translate->carbonModifiers()));
  env.executor.runUntilIdle();
  EXPECT_EQ(popupCalls, std::vector<std::string>{"show translate word"});
}

}  // namespace
}  // namespace quorvelle
