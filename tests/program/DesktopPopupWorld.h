#pragma once

// The popup as the program assembles it (DesktopPopup over a real Qt panel on the display), with
// in-memory stand-ins for what the popup does not show: keyring, settings, pasteboard, selection, audio.
// Tests choose the backend client and build the popup from services(). Main thread of an x11 test.

#include "app/AppSettings.h"
#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "app/LookupClient.h"
#include "app/PopupController.h"
#include "app/SelectionCapture.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/RecordingAudioPlayer.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/QtPopupPanel.h"
#include "platform/linux/desktop/QtScreens.h"
#include "program/DesktopEventMonitors.h"

namespace quorvelle::test {

struct DesktopPopupWorld {
  PopupController::Services services(const LookupClient& lookup) {
    return {executor, notifications, lookup,   panel,      screens,
            monitors, audio,         settings, pasteboard, selection};
  }
  // The panel's child of this name and type, or null.
  template <class T = QWidget>
  T* child(const char* name) {
    return panel.window()->findChild<T*>(name);
  }

  platform::QtMainExecutor executor;
  platform::NotificationCenter notifications;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  Keychain keychain{secrets, keyringWorker, executor};
  GeminiKeyManager geminiKey{keychain};
  platform::QtPopupPanel panel;
  platform::QtScreens screens;
  DesktopEventMonitors monitors{nullptr, nullptr};
  platform::fake::RecordingAudioPlayer audio;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system{{"fr-FR"}};
  AppSettings settings{defaults, system};
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::RecordingKeystrokeSender keystrokes;
  SelectionCapture selection{accessibility, pasteboard, keystrokes, executor};
};

}  // namespace quorvelle::test
