// The settings window in real widgets over fakes, with the shortcuts package's real recorders on a fake
// hot-key system.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <string>
#include <vector>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "app/AppNotifications.h"
#include "app/ShortcutNames.h"
#include "platform/AppNotifications.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/GlobalShortcuts/WindowKeys.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "ui/SettingsView.h"

namespace quorvelle {
namespace {

namespace gs = GlobalShortcuts;
using Pane = SettingsModel::Pane;

const std::vector<std::string> kFiveKeys = {"targetLanguage", "accent", "autoPlayPronunciation",
                                            "pronunciationVolume", "refinePromptV5"};

struct SettingsWidgetsTest : testing::Test {
  test::ShortcutsTestEnvironment env;
  platform::fake::MemoryUserDefaults& defaults = env.defaults;
  platform::fake::FixedSystemInfo system{{"de-DE"}};
  AppSettings settings{env.defaults, system};
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  Keychain keychain{secrets, keyringWorker, env.executor};
  GeminiKeyManager geminiKey{keychain};
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::ManualWorkspace workspace;
  WindowServices services{settings, geminiKey, accessibility, workspace, env.notifications, env.executor};

  // Shown and active, as the program shows it; the recorders' focus guard has lapsed.
  void show(SettingsView& view) {
    view.show();
    view.activateWindow();
    ASSERT_TRUE(quorvelle::test::waitUntilActive(&view));
    env.executor.runUntilIdle();
  }
  std::optional<std::string> storedKey() {
    auto read = secrets.read(GeminiKeyManager::kService, GeminiKeyManager::kAccount);
    if (read.status != platform::SecretStatus::ok) return std::nullopt;
    return read.value;
  }
};

TEST_F(SettingsWidgetsTest, TranslatingPaneShowsAndWritesTheSettings) {
  SettingsView view(services);
  EXPECT_EQ(view.size(), QSize(640, 460));
  (void)defaults.takeWrites();  // the recorders' initial shortcuts
  ASSERT_NO_FATAL_FAILURE(show(view));
  EXPECT_EQ(defaults.takeWrites(), kFiveKeys) << "each appearance saves";

  EXPECT_TRUE(view.paneWidget(Pane::translating)->isVisible());
  EXPECT_FALSE(view.paneWidget(Pane::refining)->isVisible());
  QComboBox& language = *view.languagePicker();
  ASSERT_EQ(language.count(), 21);
  EXPECT_EQ(language.itemText(0), "🇷🇺  Russian");
  EXPECT_EQ(language.itemData(20).toString(), "zh-CN");
  EXPECT_EQ(language.currentData().toString(), "de");
  EXPECT_EQ(view.accentPicker()->currentText(), "British (UK)");
  EXPECT_TRUE(view.autoPlayToggle()->isChecked());
  EXPECT_LE(view.volumeSlider()->width(), 220);
  EXPECT_EQ(view.volumePercent()->text(), "50%");
  EXPECT_EQ(view.translateRecorder()->field().text().toStdString(),
            shortcuts::translate().defaultShortcut()->presentableDescription());

  language.setCurrentIndex(language.findData("ja"));
  EXPECT_EQ(defaults.takeWrites(), kFiveKeys);
  EXPECT_EQ(defaults.stringForKey("targetLanguage"), "ja");
  view.accentPicker()->setCurrentIndex(1);
  EXPECT_EQ(defaults.stringForKey("accent"), "us");
  QTest::mouseClick(view.autoPlayToggle(), Qt::LeftButton);
  EXPECT_FALSE(defaults.boolForKey("autoPlayPronunciation"));
  view.volumeSlider()->setValue(125);
  EXPECT_EQ(view.volumePercent()->text(), "13%");
  EXPECT_EQ(defaults.doubleForKey("pronunciationVolume"), 0.125);
  (void)defaults.takeWrites();

  // Hidden and shown again: saved again, with the choices kept.
  view.hide();
  ASSERT_NO_FATAL_FAILURE(show(view));
  EXPECT_EQ(defaults.takeWrites(), kFiveKeys);
  EXPECT_EQ(language.currentData().toString(), "ja");
}

TEST_F(SettingsWidgetsTest, AnUnknownStoredLanguageSelectsNoEntryAndIsKept) {
  defaults.set("targetLanguage", "xx");
  SettingsView view(services);
  ASSERT_NO_FATAL_FAILURE(show(view));
  EXPECT_EQ(view.languagePicker()->currentIndex(), -1);
  view.volumeSlider()->setValue(300);
  EXPECT_EQ(defaults.stringForKey("targetLanguage"), "xx");
}

TEST_F(SettingsWidgetsTest, RefiningPaneHasTheRecorderTheKeyEntryAndThePrompt) {
  SettingsView view(services);
  ASSERT_NO_FATAL_FAILURE(show(view));
  QTest::mouseClick(view.paneButton(Pane::refining), Qt::LeftButton);
  EXPECT_EQ(view.currentPane(), Pane::refining);
  EXPECT_TRUE(view.paneWidget(Pane::refining)->isVisible());
  EXPECT_FALSE(view.paneWidget(Pane::translating)->isVisible());
  EXPECT_TRUE(view.refineRecorder()->isVisible());

  EXPECT_TRUE(view.keyEntry()->isVisible());
  EXPECT_FALSE(view.keyStored()->isVisible());
  EXPECT_EQ(view.geminiKeyField()->echoMode(), QLineEdit::Password);
  EXPECT_EQ(view.geminiKeyField()->placeholderText(), "AIza…");
  EXPECT_FALSE(view.saveKeyButton()->isEnabled());
  QTest::keyClicks(view.geminiKeyField(), "   ");
  EXPECT_FALSE(view.saveKeyButton()->isEnabled()) << "only spaces";
  QTest::keyClick(view.geminiKeyField(), Qt::Key_Return);
  EXPECT_FALSE(storedKey());
  EXPECT_TRUE(view.keyEntry()->isVisible());

  emit view.keyCaption()->linkActivated(QString::fromUtf8(SettingsModel::kKeyPageURL.data()));
  EXPECT_EQ(workspace.openedURLs, std::vector<std::string>{std::string(SettingsModel::kKeyPageURL)});

  QPlainTextEdit& prompt = *view.promptEditor();
  EXPECT_EQ(prompt.height(), 200);
  EXPECT_EQ(prompt.toPlainText().toStdString(), AppSettings::defaultRefinePrompt());
  EXPECT_FALSE(view.resetPromptButton()->isEnabled());
  prompt.moveCursor(QTextCursor::End);
  QTest::keyClick(&prompt, Qt::Key_Space);
  EXPECT_TRUE(view.resetPromptButton()->isEnabled());
  EXPECT_EQ(defaults.stringForKey("refinePromptV5"), AppSettings::defaultRefinePrompt() + " ");
  QTest::mouseClick(view.resetPromptButton(), Qt::LeftButton);
  EXPECT_EQ(prompt.toPlainText().toStdString(), AppSettings::defaultRefinePrompt());
  EXPECT_EQ(defaults.stringForKey("refinePromptV5"), AppSettings::defaultRefinePrompt());
  EXPECT_FALSE(view.resetPromptButton()->isEnabled());
}

TEST_F(SettingsWidgetsTest, ARecordedShortcutIsStoredByItsRecorderAndNotBySave) {
  // As the program does at start: a handler, so the shortcut is registered as a hot key.
  gs::onKeyDown(shortcuts::translate(), [] {});
  SettingsView view(services);
  ASSERT_NO_FATAL_FAILURE(show(view));
  (void)defaults.takeWrites();

  QTest::mouseClick(&view.translateRecorder()->field(), Qt::LeftButton);
  env.executor.runUntilIdle();
  ASSERT_TRUE(view.translateRecorder()->field().isRecording());
  // Ctrl+Alt+K on the fake US layout: Command+Option+K.
  test::type(view, {45, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier});
  env.executor.runUntilIdle();

  const gs::Shortcut recorded(gs::Key::k, gs::ModifierFlags::command | gs::ModifierFlags::option);
  EXPECT_EQ(gs::getShortcut(shortcuts::translate()), recorded);
  EXPECT_TRUE(env.hotKeys.isRegistered(static_cast<std::uint32_t>(recorded.carbonKeyCode()),
                                       static_cast<std::uint32_t>(recorded.carbonModifiers())));
  EXPECT_EQ(defaults.takeWrites(), std::vector<std::string>{gs::userDefaultsKey("translate")});
  gs::removeAllHandlers();
}

TEST_F(SettingsWidgetsTest, AKeyIsStoredTrimmedThenRemoved) {
  SettingsView view(services);
  ASSERT_NO_FATAL_FAILURE(show(view));
  view.model().selectPane(Pane::refining);
  QLineEdit& field = *view.geminiKeyField();
  field.setFocus();
  field.insert(" key \n");
  EXPECT_TRUE(view.saveKeyButton()->isEnabled());
  QTest::keyClick(&field, Qt::Key_Return);
  env.executor.runUntilIdle();

  EXPECT_EQ(storedKey(), "key");
  EXPECT_FALSE(view.keyEntry()->isVisible());
  EXPECT_TRUE(view.keyStored()->isVisible());
  EXPECT_EQ(view.maskedKey()->text(), "••••key");
  EXPECT_TRUE(field.text().isEmpty());
  EXPECT_FALSE(view.keyMessage()->isVisible());

  QTest::mouseClick(view.removeKeyButton(), Qt::LeftButton);
  env.executor.runUntilIdle();
  EXPECT_EQ(storedKey(), std::nullopt);
  EXPECT_TRUE(view.keyEntry()->isVisible());
  EXPECT_TRUE(field.text().isEmpty());
}

TEST_F(SettingsWidgetsTest, AKeyringThatRefusesKeepsTheSectionAsItWasAndSaysSo) {
  SettingsView view(services);
  ASSERT_NO_FATAL_FAILURE(show(view));
  view.model().selectPane(Pane::refining);
  secrets.setFailing(true);
  QTest::keyClicks(view.geminiKeyField(), "AIzaSyAbc123");
  QTest::mouseClick(view.saveKeyButton(), Qt::LeftButton);
  env.executor.runUntilIdle();

  EXPECT_TRUE(view.keyEntry()->isVisible()) << "a refused key is not shown as saved";
  EXPECT_EQ(view.geminiKeyField()->text(), "AIzaSyAbc123") << "nothing typed is lost";
  EXPECT_TRUE(view.keyMessage()->isVisible());
  EXPECT_EQ(view.keyMessage()->text().toStdString(), GeminiKeyManager::kSaveFailed);

  secrets.setFailing(false);
  QTest::mouseClick(view.saveKeyButton(), Qt::LeftButton);
  env.executor.runUntilIdle();
  EXPECT_TRUE(view.keyStored()->isVisible());
  EXPECT_FALSE(view.keyMessage()->isVisible());

  secrets.setFailing(true);
  QTest::mouseClick(view.removeKeyButton(), Qt::LeftButton);
  env.executor.runUntilIdle();
  EXPECT_TRUE(view.keyStored()->isVisible()) << "a key the keyring kept is still shown";
  EXPECT_EQ(view.keyMessage()->text().toStdString(), GeminiKeyManager::kRemoveFailed);
}

TEST_F(SettingsWidgetsTest, WithoutTheKeyringLibraryTheSectionSaysTheKeyringCannotBeUsed) {
  secrets.setUnavailable(true);
  SettingsView view(services);
  ASSERT_NO_FATAL_FAILURE(show(view));
  view.model().selectPane(Pane::refining);
  env.executor.runUntilIdle();
  EXPECT_TRUE(view.keyMessage()->isVisible());
  EXPECT_EQ(view.keyMessage()->text().toStdString(), GeminiKeyManager::kKeyringUnavailable);

  QTest::keyClicks(view.geminiKeyField(), "AIzaSyAbc123");
  QTest::mouseClick(view.saveKeyButton(), Qt::LeftButton);
  env.executor.runUntilIdle();
  EXPECT_TRUE(view.keyEntry()->isVisible()) << "a key that could not be stored is not shown as saved";
  EXPECT_EQ(view.geminiKeyField()->text(), "AIzaSyAbc123");
  EXPECT_EQ(view.keyMessage()->text().toStdString(), GeminiKeyManager::kKeyringUnavailable);
}

TEST_F(SettingsWidgetsTest, AccessibilityBarAndGrant) {
  accessibility.trusted = false;
  SettingsView view(services);
  ASSERT_NO_FATAL_FAILURE(show(view));
  EXPECT_TRUE(view.accessibilityBar()->isVisible());
  QTest::mouseClick(view.paneButton(Pane::refining), Qt::LeftButton);
  EXPECT_TRUE(view.accessibilityBar()->isVisible()) << "under either pane";
  QTest::mouseClick(view.grantButton(), Qt::LeftButton);
  EXPECT_EQ(accessibility.openedURLs.size(), 1u);
  EXPECT_FALSE(view.accessibilityHelp()->isVisible()) << "a page opened: nothing more to say";

  // X11 has no page that grants it: the bar says what to do instead, wrapped within the window.
  accessibility.urlOpens = false;
  QTest::mouseClick(view.grantButton(), Qt::LeftButton);
  EXPECT_EQ(accessibility.openedURLs.size(), 2u);
  ASSERT_TRUE(view.accessibilityHelp()->isVisible());
  EXPECT_EQ(view.accessibilityHelp()->text().toStdString(),
            "No settings page grants this permission on Linux. Log out, choose an Xorg (X11) session "
            "\u2192 log in, then start Quorvelle again.");
  ASSERT_TRUE(test::waitUntil(
      [&] {
        QLabel* help = view.accessibilityHelp();
        return help->height() >= help->heightForWidth(help->width()) &&
               help->geometry().right() < view.accessibilityBar()->width();
      },
      "the help shown whole"));

  accessibility.trusted = true;
  env.notifications.post(std::string(platform::notifications::applicationDidBecomeActive));
  EXPECT_FALSE(view.accessibilityBar()->isVisible());
  EXPECT_TRUE(view.model().accessibilityHelp().empty());
}

TEST_F(SettingsWidgetsTest, FocusRequestWhileShownSwitchesToTheKeyFieldAndFocusesIt) {
  SettingsView view(services);
  env.notifications.post(std::string(notifications::kFocusGeminiApiKey));
  env.executor.runUntilIdle();
  EXPECT_EQ(view.currentPane(), Pane::translating) << "not while hidden";

  ASSERT_NO_FATAL_FAILURE(show(view));
  env.notifications.post(std::string(notifications::kFocusGeminiApiKey));
  EXPECT_TRUE(view.paneWidget(Pane::refining)->isVisible());
  EXPECT_FALSE(view.geminiKeyField()->hasFocus());  // queued behind the switch
  env.executor.runUntilIdle();
  EXPECT_TRUE(quorvelle::test::waitUntil([&] { return view.geminiKeyField()->hasFocus(); },
                                         "view.geminiKeyField()->hasFocus()"));
}

}  // namespace
}  // namespace quorvelle
