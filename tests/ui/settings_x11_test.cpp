// The settings window over the real settings file, typed into by another X client: the UI thread never
// writes the file, and what was typed reaches it.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/linux/FileUserDefaults.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/qt/DesktopTools.h"
#include "ui/SettingsView.h"

namespace quorvelle {
namespace {

using test::waitUntil;

// The threads that wrote the settings file, one entry per write.
struct WriteLog {
  std::vector<std::thread::id> threads() {
    std::lock_guard lock(mutex);
    return writers;
  }
  void add() {
    std::lock_guard lock(mutex);
    writers.push_back(std::this_thread::get_id());
  }
  std::mutex mutex;
  std::vector<std::thread::id> writers;
};

TEST(SettingsX11, FiftyCharactersTypedIntoThePromptNeverWriteTheFileOnTheUIThread) {
  const test::TempDir dir;
  const auto file = dir / "settings.json";
  WriteLog writes;
  platform::FileUserDefaults defaults(file);
  defaults.setWriteObserver([&] { writes.add(); });

  test::ShortcutsTestEnvironment env;
  platform::fake::FixedSystemInfo system{{"en-US"}};
  AppSettings settings(defaults, system);
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  Keychain keychain(secrets, keyringWorker, env.executor);
  GeminiKeyManager geminiKey(keychain);
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::ManualWorkspace workspace;
  const WindowServices services{settings,  geminiKey,         accessibility,
                                workspace, env.notifications, env.executor};

  SettingsView view(services);
  view.show();
  view.activateWindow();
  ASSERT_TRUE(quorvelle::test::waitUntilActive(&view));
  env.executor.runUntilIdle();
  view.model().selectPane(SettingsModel::Pane::refining);
  QPlainTextEdit* prompt = view.promptEditor();
  prompt->setFocus();
  prompt->moveCursor(QTextCursor::End);
  ASSERT_TRUE(waitUntil([&] { return prompt->hasFocus(); }, "the prompt editor's focus"));

  const std::string typed = " Keep the tone of the draft, and its names too.";
  const std::string fifty = typed + std::string(50 - typed.size(), '!');
  ASSERT_EQ(fifty.size(), 50u);
  QProcess xdotool;
  xdotool.start("xdotool", {"type", "--delay", "15", QString::fromStdString(fifty)});
  ASSERT_TRUE(xdotool.waitForStarted());
  const std::string expected = AppSettings::defaultRefinePrompt() + fifty;
  ASSERT_TRUE(waitUntil([&] { return prompt->toPlainText().toStdString() == expected; }, "the typed prompt"));
  EXPECT_EQ(defaults.stringForKey(AppSettings::kRefinePrompt), expected) << "readers see it at once";
  ASSERT_TRUE(
      waitUntil([&] { return platform::FileUserDefaults(file).stringForKey("refinePromptV5") == expected; },
                "the typed prompt in the file"));
  ASSERT_TRUE(waitUntil([&] { return xdotool.state() == QProcess::NotRunning; }, "xdotool's end"));

  defaults.flush();
  const auto threads = writes.threads();
  ASSERT_FALSE(threads.empty());
  for (const auto& thread : threads)
    EXPECT_NE(thread, std::this_thread::get_id()) << "a write on the UI thread";
  // Each keystroke stores five settings; their changes share a write (and the window's first save one).
  EXPECT_LE(threads.size(), 51u);
}

}  // namespace
}  // namespace quorvelle
