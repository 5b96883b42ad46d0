#pragma once

#include <memory>
#include <vector>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/KeyEvent.h"
#include "GlobalShortcuts/KeyEventMonitor.h"
#include "GlobalShortcuts/Shortcut.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/CountingSystemBeep.h"
#include "platform/fake/FakeHotKeySystem.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FakeMenuTracking.h"
#include "platform/fake/FakeSymbolicHotKeys.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAlertPresenter.h"

namespace quorvelle::test {

// Key-event monitors whose events the test hands in. As with the Qt monitors, an event reaches the
// menu-tracking monitors while a menu is open and the local ones otherwise, never both.
class FakeKeyEventMonitors {
 public:
  GlobalShortcuts::KeyEventMonitorFactory factory() {
    return [this](GlobalShortcuts::KeyEventMonitor::Kind kind,
                  GlobalShortcuts::KeyEventMonitor::Callback callback) {
      auto monitor = std::make_unique<Monitor>(kind, std::move(callback));
      monitors_.push_back(monitor.get());
      return monitor;
    };
  }

  void deliver(const GlobalShortcuts::KeyEvent& event, bool menuOpen = true) {
    const auto kind = menuOpen ? GlobalShortcuts::KeyEventMonitor::Kind::runLoop
                               : GlobalShortcuts::KeyEventMonitor::Kind::local;
    for (auto* monitor : monitors_) {
      if (monitor->kind == kind && monitor->running) monitor->callback(event);
    }
  }

  std::size_t runningCount() const {
    std::size_t count = 0;
    for (auto* monitor : monitors_) count += monitor->running ? 1 : 0;
    return count;
  }

 private:
  struct Monitor final : GlobalShortcuts::KeyEventMonitor {
    Monitor(Kind k, Callback c) : kind(k), callback(std::move(c)) {}
    void start() override { running = true; }
    void stop() override { running = false; }
    bool isRunning() const override { return running; }
    Kind kind;
    Callback callback;
    bool running = false;
  };
  // Owned by the hot-key center, which the environment below outlives only until it is replaced.
  std::vector<Monitor*> monitors_;
};

// Every service of the shortcuts package as a fake, installed for the object's life. Destroy it only
// after the hot keys the test made: ending it releases the package's hot keys and its hot-key center.
//
// The keyboard layout is the fake US one unless the test hands in another (which must outlive this object);
// a held key repeats after 500 ms, then every 50 ms; the texts are English unless the test gives `system`
// other languages before the first text is read. Alerts are answered by `alerts`, beeps counted by `beep`.
struct ShortcutsTestEnvironment {
  explicit ShortcutsTestEnvironment(platform::KeyboardLayout* otherLayout = nullptr,
                                    std::function<GlobalShortcuts::Menu()> mainMenu = {},
                                    bool optionShortcutsDisallowed = false)
      : installed({&executor, &defaults, &hotKeys, &notifications, &symbolicHotKeys, &menus,
                   otherLayout != nullptr ? otherLayout : &layout, monitors.factory(), &system,
                   std::move(mainMenu), &alerts, &beep, optionShortcutsDisallowed,
                   [this] { return keyRepeat; }}) {}

  // The shortcut's keys on the fake hot-key service.
  void press(const GlobalShortcuts::Shortcut& s) { hotKeys.press(keyCode(s), modifiers(s)); }
  void release(const GlobalShortcuts::Shortcut& s) { hotKeys.release(keyCode(s), modifiers(s)); }
  bool isRegistered(const GlobalShortcuts::Shortcut& s) const {
    return hotKeys.isRegistered(keyCode(s), modifiers(s));
  }

  platform::fake::ManualExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  platform::NotificationCenter notifications;
  platform::fake::FakeHotKeySystem hotKeys;
  platform::fake::FakeSymbolicHotKeys symbolicHotKeys;
  platform::fake::FakeMenuTracking menus;
  platform::fake::FakeKeyboardLayout layout = platform::fake::FakeKeyboardLayout::usLayout();
  platform::fake::FixedSystemInfo system;
  FakeKeyEventMonitors monitors;
  platform::fake::ScriptedAlertPresenter alerts;
  platform::fake::CountingSystemBeep beep;
  GlobalShortcuts::KeyRepeat keyRepeat{std::chrono::milliseconds(500), std::chrono::milliseconds(50)};
  // Last: uninstalled while the services above still exist.
  GlobalShortcuts::InstalledEnvironment installed;

 private:
  static std::uint32_t keyCode(const GlobalShortcuts::Shortcut& s) {
    return static_cast<std::uint32_t>(s.carbonKeyCode());
  }
  static std::uint32_t modifiers(const GlobalShortcuts::Shortcut& s) {
    return static_cast<std::uint32_t>(s.carbonModifiers());
  }
};

}  // namespace quorvelle::test
