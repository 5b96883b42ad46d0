// The popup as the program assembles it, over the real transport, against a backend that cannot be
// reached: it says how to start the one this project has.

#include <gtest/gtest.h>

#include <QLabel>
#include <memory>
#include <string>

#include "app/AppSettings.h"
#include "app/LookupClient.h"
#include "app/PopupView.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/RecordingAudioPlayer.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/QtPopupPanel.h"
#include "platform/linux/desktop/QtScreens.h"
#include "program/DesktopEventMonitors.h"
#include "program/DesktopPopup.h"
#include "tests/support/Eventually.h"

namespace {

using quorvelle::PopupMode;
using quorvelle::test::waitUntil;

class PopupBackendX11Test : public testing::Test {
 protected:
  // The popup of the program against the backend at `url`.
  void assemble(const std::string& url) {
    lookup = std::make_unique<quorvelle::LookupClient>(http, executor, geminiKey, url, "Refine.");
    popup = std::make_unique<quorvelle::DesktopPopup>(
        panel, quorvelle::PopupController::Services{executor, notifications, *lookup, panel, screens,
                                                    monitors, audio, settings, pasteboard, selection});
  }
  void TearDown() override { popup.reset(); }

  QString label(const char* name) {
    auto* found = panel.window()->findChild<QLabel*>(name);
    return found && found->isVisible() ? found->text() : QString();
  }

  platform::QtMainExecutor executor;
  platform::NotificationCenter notifications;
  platform::CurlHttpClient http;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  quorvelle::Keychain keychain{secrets, keyringWorker, executor};
  quorvelle::GeminiKeyManager geminiKey{keychain};
  platform::QtPopupPanel panel;
  platform::QtScreens screens;
  quorvelle::DesktopEventMonitors monitors{nullptr, nullptr};
  platform::fake::RecordingAudioPlayer audio;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system{{"fr-FR"}};
  quorvelle::AppSettings settings{defaults, system};
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::RecordingKeystrokeSender keystrokes;
  quorvelle::SelectionCapture selection{accessibility, pasteboard, keystrokes, executor};
  std::unique_ptr<quorvelle::LookupClient> lookup;
  std::unique_ptr<quorvelle::DesktopPopup> popup;
};

TEST_F(PopupBackendX11Test, AnUnreachableBackendSaysHowToStartTheDevelopmentBackend) {
  // A port that nobody listens on: the connection is refused at once.
  assemble("http://127.0.0.1:1");
  popup->show("hello", PopupMode::translate);
  ASSERT_TRUE(waitUntil([&] { return !label("error").isEmpty(); }, "the popup shows an error"));
  EXPECT_TRUE(label("error").contains("scripts/run.sh")) << label("error").toStdString();
  EXPECT_FALSE(label("error").contains("bun")) << label("error").toStdString();
}

}  // namespace
