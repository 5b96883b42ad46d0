// The settings window's state and writes, apart from its widgets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppNotifications.h"
#include "app/SelectionCapture.h"
#include "platform/AppNotifications.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "ui/SettingsModel.h"

namespace quorvelle {
namespace {

using Pane = SettingsModel::Pane;

const std::vector<std::string> kFiveKeys = {"targetLanguage", "accent", "autoPlayPronunciation",
                                            "pronunciationVolume", "refinePromptV5"};

struct SettingsModelTest : testing::Test {
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system{{"de-AT", "fr-FR"}};
  AppSettings settings{defaults, system};
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::ManualWorkspace workspace;
  platform::NotificationCenter notifications;
  platform::fake::ManualExecutor executor;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  Keychain keychain{secrets, keyringWorker, executor};
  GeminiKeyManager geminiKey{keychain};
  WindowServices services{settings, geminiKey, accessibility, workspace, notifications, executor};

  std::string stored(std::string_view key) { return defaults.stringForKey(key).value_or("<absent>"); }
  void storeKey(std::string_view key) {
    secrets.write(GeminiKeyManager::kService, GeminiKeyManager::kAccount, key);
  }
};

TEST_F(SettingsModelTest, WithNothingStoredShowsTheDefaultsAndTheFirstAppearanceWritesThemAll) {
  SettingsModel model(services);
  EXPECT_EQ(model.languageCode(), "de");
  EXPECT_EQ(model.accent(), "uk");
  EXPECT_TRUE(model.autoPlayPronunciation());
  EXPECT_EQ(model.pronunciationVolume(), 0.5);
  EXPECT_EQ(model.volumePercentText(), "50%");
  EXPECT_EQ(model.refinePrompt(), AppSettings::defaultRefinePrompt());
  EXPECT_FALSE(model.resetPromptEnabled());
  EXPECT_EQ(model.pane(), Pane::translating);
  EXPECT_FALSE(model.hasGeminiKey());
  EXPECT_TRUE(defaults.takeWrites().empty()) << "being made writes nothing";

  model.appear();
  EXPECT_EQ(defaults.takeWrites(), kFiveKeys);
  EXPECT_EQ(stored("targetLanguage"), "de");
  EXPECT_EQ(stored("accent"), "uk");
  EXPECT_EQ(defaults.boolForKey("autoPlayPronunciation"), true);
  EXPECT_EQ(defaults.doubleForKey("pronunciationVolume"), 0.5);
  EXPECT_EQ(stored("refinePromptV5"), AppSettings::defaultRefinePrompt());

  // A change writes all five again; setting what is already there is no change.
  model.setAccent("us");
  EXPECT_EQ(defaults.takeWrites(), kFiveKeys);
  EXPECT_EQ(stored("accent"), "us");
  model.setAccent("us");
  model.setPronunciationVolume(0.5);
  model.setAutoPlayPronunciation(true);
  EXPECT_TRUE(defaults.takeWrites().empty());
  model.setPronunciationVolume(0.75);
  EXPECT_EQ(defaults.takeWrites(), kFiveKeys);
  EXPECT_EQ(defaults.doubleForKey("pronunciationVolume"), 0.75);
}

TEST_F(SettingsModelTest, AnUnknownStoredLanguageIsKept) {
  defaults.set("targetLanguage", "xx");
  SettingsModel model(services);
  EXPECT_EQ(model.languageCode(), "xx");
  model.appear();
  model.setAutoPlayPronunciation(false);
  EXPECT_EQ(stored("targetLanguage"), "xx");
}

TEST_F(SettingsModelTest, VolumePercentRoundsHalvesAwayFromZero) {
  const std::pair<double, const char*> cases[] = {
      {0.5, "50%"}, {0.125, "13%"}, {0.375, "38%"}, {0.0, "0%"}, {1.0, "100%"}};
  for (const auto& [volume, text] : cases) EXPECT_EQ(SettingsModel::percentText(volume), text) << volume;
}

TEST_F(SettingsModelTest, ResetIsEnabledOnlyWhileThePromptDiffersExactly) {
  SettingsModel model(services);
  const std::string& standard = AppSettings::defaultRefinePrompt();
  model.setRefinePrompt(standard + " ");
  EXPECT_TRUE(model.resetPromptEnabled());
  model.setRefinePrompt(standard + "\n");
  EXPECT_TRUE(model.resetPromptEnabled());
  model.setRefinePrompt(standard);
  EXPECT_FALSE(model.resetPromptEnabled());

  model.setRefinePrompt("");
  EXPECT_EQ(defaults.stringForKey("refinePromptV5"), "") << "an emptied editor stores the empty text";
  EXPECT_TRUE(model.resetPromptEnabled());
  model.resetPrompt();
  EXPECT_EQ(stored("refinePromptV5"), standard);
  EXPECT_FALSE(model.resetPromptEnabled());
}

TEST_F(SettingsModelTest, FocusRequestSwitchesPaneThenFocusesTheFieldOnALaterTurn) {
  SettingsModel model(services);
  int focused = 0;
  model.setOnFocusKeyField([&] { ++focused; });

  // Not shown: nothing happens.
  notifications.post(std::string(notifications::kFocusGeminiApiKey));
  executor.runUntilIdle();
  EXPECT_EQ(model.pane(), Pane::translating);

  model.appear();
  notifications.post(std::string(notifications::kFocusGeminiApiKey));
  EXPECT_EQ(model.pane(), Pane::refining);
  EXPECT_EQ(focused, 0) << "queued behind the pane switch";
  executor.runUntilIdle();
  EXPECT_EQ(focused, 1);

  // With a key stored there is no field: the pane switches and nothing is focused.
  storeKey("AIzaSyAbc123");
  model.selectPane(Pane::translating);
  model.disappear();
  model.appear();
  executor.runUntilIdle();
  ASSERT_TRUE(model.hasGeminiKey());
  notifications.post(std::string(notifications::kFocusGeminiApiKey));
  executor.runUntilIdle();
  EXPECT_EQ(model.pane(), Pane::refining);
  EXPECT_EQ(focused, 1);
}

TEST_F(SettingsModelTest, EachAppearanceReadsAgainWhatOthersStoredMeanwhile) {
  SettingsModel model(services);
  model.appear();
  model.disappear();
  // Onboarding and the tutorial store while the window is hidden.
  defaults.set("targetLanguage", "ja");
  defaults.set("pronunciationVolume", 0.25);
  storeKey("AIzaSyAbc123");

  model.appear();
  executor.runUntilIdle();
  EXPECT_EQ(model.languageCode(), "ja");
  EXPECT_EQ(model.pronunciationVolume(), 0.25);
  EXPECT_EQ(stored("targetLanguage"), "ja") << "the window's older value was written back";
  EXPECT_EQ(defaults.doubleForKey("pronunciationVolume"), 0.25);
  EXPECT_TRUE(model.hasGeminiKey());
  EXPECT_EQ(model.maskedKeyText(), "••••c123");

  // And a key removed elsewhere shows the entry state again.
  secrets.remove(GeminiKeyManager::kService, GeminiKeyManager::kAccount);
  model.appear();
  executor.runUntilIdle();
  EXPECT_FALSE(model.hasGeminiKey());
}

TEST_F(SettingsModelTest, GrantOpensThePrivacyPaneOnlyWhenNotTrustedAndTheBarFollowsActivation) {
  accessibility.trusted = true;
  {
    SettingsModel model(services);
    EXPECT_TRUE(model.hasAccessibility());
    model.grantAccessibility();
    EXPECT_TRUE(accessibility.openedURLs.empty());
  }

  accessibility.trusted = false;
  SettingsModel model(services);
  EXPECT_FALSE(model.hasAccessibility());
  model.grantAccessibility();
  EXPECT_EQ(accessibility.openedURLs,
            std::vector<std::string>{std::string(SelectionCapture::privacyPaneURL)});
  accessibility.trusted = true;
  EXPECT_FALSE(model.hasAccessibility()) << "only activation refreshes the bar";
  notifications.post(std::string(platform::notifications::applicationDidBecomeActive));
  EXPECT_TRUE(model.hasAccessibility());
}

TEST_F(SettingsModelTest, SaveNeedsSomethingLeftAfterTrimming) {
  SettingsModel model(services);
  for (const char* blank : {"", "   ", " \n\t "}) {
    model.setGeminiKeyInput(blank);
    EXPECT_FALSE(model.canSaveGeminiKey()) << '"' << blank << '"';
    model.saveGeminiKey();
    EXPECT_FALSE(model.hasGeminiKey());
    EXPECT_EQ(model.geminiKeyInput(), blank) << "the field keeps what was typed";
  }
  EXPECT_EQ(secrets.read(GeminiKeyManager::kService, GeminiKeyManager::kAccount).status,
            platform::SecretStatus::notFound);

  model.setGeminiKeyInput(" abc\n");
  EXPECT_TRUE(model.canSaveGeminiKey());
  model.saveGeminiKey();
  EXPECT_TRUE(model.keyBusy());
  EXPECT_FALSE(model.canSaveGeminiKey()) << "one keyring call at a time";
  executor.runUntilIdle();
  EXPECT_FALSE(model.keyBusy());
  EXPECT_EQ(model.maskedKeyText(), "••••abc");
  model.openKeyPage();
  EXPECT_EQ(workspace.openedURLs, std::vector<std::string>{std::string(SettingsModel::kKeyPageURL)});
}

}  // namespace
}  // namespace quorvelle
