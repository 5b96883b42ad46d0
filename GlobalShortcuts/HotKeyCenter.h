#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "GlobalShortcuts/HotKey.h"
#include "GlobalShortcuts/KeyEventMonitor.h"
#include "platform/HotKeySystem.h"
#include "platform/MenuTracking.h"

namespace platform {
class MainExecutor;
}

namespace GlobalShortcuts {

// The one place that talks to the system's hot-key service. It registers hot keys, delivers their presses
// and releases on the main thread, and, while a menu of the application holds the keyboard, withdraws
// its registrations and matches the key events the application itself receives instead:
//
//   isEnabled  menu open   mode       system registrations   hot-key events   key-event monitors
//   false      any         disabled   withdrawn              not received     stopped
//   true       no          normal     every live hot key     received         stopped
//   true       yes         menuOpen   withdrawn              not received     running
//
// One instance, shared(), made on first use from the installed environment and kept until the
// environment is uninstalled. Hot keys are owned elsewhere (shared_ptr) and leave the center when released.
// Main thread only, except that the system may call the center's event handler on any thread (it then
// answers "not handled" and does nothing).
class HotKeyCenter : public std::enable_shared_from_this<HotKeyCenter> {
 public:
  enum class Mode { disabled, normal, menuOpen };
  using Status = platform::HotKeySystem::Status;

  // Signature of every hot-key id this center registers ('SSKS').
  static constexpr std::uint32_t kSignature = 0x53534B53;

  struct SystemShortcut {
    std::int64_t carbonKeyCode;
    std::int64_t carbonModifiers;
  };

  static HotKeyCenter& shared();
  // Drops the shared center (uninstalling the environment does this); hot keys still alive lose their
  // center.
  static void dropShared();
  static bool hasShared();

  ~HotKeyCenter();
  HotKeyCenter(const HotKeyCenter&) = delete;
  HotKeyCenter& operator=(const HotKeyCenter&) = delete;

  // Registers the hot key with the system and keeps it in the table; false when the system refuses it
  // (it is then not kept). In any mode other than normal the registration is withdrawn again at once and
  // the hot key waits in the table until the mode returns to normal.
  bool registerHotKey(const std::shared_ptr<HotKey>& hotKey);

  // Whether the system would grant a registration of the combination now: registered for an instant and
  // let go at once, whatever the mode. False when another client holds it or it cannot be expressed. A
  // combination that one of this center's own registrations holds may answer false.
  bool isRegistrable(std::int64_t carbonKeyCode, std::int64_t carbonModifiers);

  bool isEnabled() const noexcept { return isEnabled_; }
  // The package is enabled and not paused; written by the shortcut registry.
  void setEnabled(bool enabled);

  Mode mode() const noexcept { return mode_; }
  bool isMenuOpen() const noexcept { return isMenuOpen_; }
  bool isHotKeyEventHandlingEnabled() const noexcept { return isHotKeyEventHandlingEnabled_; }
  bool isRawKeyEventHandlingEnabled() const noexcept { return isRawKeyEventHandlingEnabled_; }
  HotKey::Id lastHotKeyId() const noexcept { return lastHotKeyId_; }
  // Whether the table holds a live hot key with this id.
  bool contains(HotKey::Id id) const;
  // Whether that hot key is registered with the system right now (it is not while withdrawn).
  bool isRegistered(HotKey::Id id) const;

  // For HotKey: the id of a new hot key (one more than the last), and the executor its tear-down runs on.
  HotKey::Id nextHotKeyId() noexcept { return ++lastHotKeyId_; }
  platform::MainExecutor& executor() const noexcept { return executor_; }
  // A hot key's tear-down: withdraws its registration, if any, and drops it from the table. Unknown ids
  // are ignored.
  void remove(HotKey::Id id);

  // The desktop's own enabled hot keys, read afresh: entries that are disabled or lack a code or
  // modifiers are skipped; an unreadable list is empty.
  static std::vector<SystemShortcut> systemShortcuts();

 private:
  struct Private {};

 public:
  HotKeyCenter(Private, platform::HotKeySystem& system, platform::MainExecutor& executor,
               platform::MenuTracking* menuTracking, KeyEventMonitorFactory makeKeyEventMonitor);

 private:
  void setMenuOpen(bool open);
  void updateMode();
  void applyMode();
  bool installEventHandlerIfNeeded();
  std::optional<platform::HotKeySystem::HotKeyRef> registerEventHotKey(const HotKey& hotKey) const;
  void pauseAllHotKeys();
  void resumeAllHotKeys();
  void setHotKeyEventHandlingEnabled(bool enabled);
  void setRawKeyEventHandlingEnabled(bool enabled);
  void setUpMenuTrackingObserversIfNeeded();
  std::shared_ptr<HotKey> lookUp(HotKey::Id id) const;
  std::vector<HotKey::Id> snapshotIds() const;

  static Status carbonEventHandler(const std::weak_ptr<HotKeyCenter>& center,
                                   platform::MainExecutor& executor,
                                   const platform::HotKeySystem::HotKeyEvent& event);
  Status handleHotKeyEvent(const platform::HotKeySystem::HotKeyEvent& event);
  Status handleRawKeyEvent(std::uint16_t keyCode, std::int64_t modifiers, bool isRepeat,
                           std::uint32_t eventKind);
  void handleRawKeyCallback(const KeyEvent& event);

  platform::HotKeySystem& system_;
  platform::MainExecutor& executor_;
  platform::MenuTracking* menuTracking_;
  KeyEventMonitorFactory makeKeyEventMonitor_;

  HotKey::Id lastHotKeyId_ = 0;
  // The table: each hot key with its registration, which is absent while withdrawn.
  struct Entry {
    std::weak_ptr<HotKey> hotKey;
    std::optional<platform::HotKeySystem::HotKeyRef> registration;
  };
  std::map<HotKey::Id, Entry> hotKeys_;
  std::optional<platform::HotKeySystem::HandlerRef> eventHandler_;
  std::optional<platform::MenuTracking::ObserverId> menuObserver_;
  bool isEnabled_ = true;
  bool isMenuOpen_ = false;
  bool isHotKeyEventHandlingEnabled_ = false;
  bool isRawKeyEventHandlingEnabled_ = false;
  const std::vector<platform::HotKeySystem::EventTypeFilter> hotKeyEventTypes_{
      {platform::HotKeySystem::kEventClassKeyboard, platform::HotKeySystem::kEventHotKeyPressed},
      {platform::HotKeySystem::kEventClassKeyboard, platform::HotKeySystem::kEventHotKeyReleased}};
  // While a menu is open: the hot key whose key-down each key code delivered, until its key-up.
  std::map<std::uint16_t, HotKey::Id> rawKeysDown_;
  std::unique_ptr<KeyEventMonitor> runLoopKeyEventMonitor_;
  std::unique_ptr<KeyEventMonitor> appKitKeyEventMonitor_;
  Mode mode_ = Mode::normal;
};

}  // namespace GlobalShortcuts
