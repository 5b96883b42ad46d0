#include "GlobalShortcuts/HotKeyCenter.h"

#include <limits>
#include <string>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/KeyEvent.h"
#include "GlobalShortcuts/ModifierFlags.h"
#include "platform/Log.h"
#include "platform/MainExecutor.h"
#include "platform/SymbolicHotKeys.h"

namespace GlobalShortcuts {
namespace {

using platform::HotKeySystem;

constexpr std::uint32_t kEventRawKeyDown = 1;
constexpr std::uint32_t kEventRawKeyUp = 3;
// Device-independent modifier flags without Caps Lock and numeric pad.
constexpr ModifierFlags::RawValue kRawKeyModifierMask = 0xFFDE0000;

std::shared_ptr<HotKeyCenter>& sharedInstance() {
  static std::shared_ptr<HotKeyCenter> instance;
  return instance;
}

// Only the five modifiers count, and Fn not at all on keys that carry it by themselves.
std::int64_t normalisedModifiers(std::int64_t keyCode, std::int64_t modifiers) {
  std::int64_t result = ModifierFlags::fromCarbon(modifiers).carbon();
  if (Key::keysWithSynthesizedFunctionModifier().contains(Key(keyCode)))
    result &= ~std::int64_t{platform::carbon::function};
  return result;
}

bool fitsInUInt32(std::int64_t value) {
  return value >= 0 && value <= std::numeric_limits<std::uint32_t>::max();
}

}  // namespace

HotKeyCenter& HotKeyCenter::shared() {
  auto& instance = sharedInstance();
  if (!instance) {
    const auto& env = environment();
    instance = std::make_shared<HotKeyCenter>(Private{}, *env.hotKeySystem, *env.mainExecutor,
                                              env.menuTracking, env.makeKeyEventMonitor);
    instance->setUpMenuTrackingObserversIfNeeded();
  }
  return *instance;
}

void HotKeyCenter::dropShared() {
  sharedInstance().reset();
}

bool HotKeyCenter::hasShared() {
  return sharedInstance() != nullptr;
}

HotKeyCenter::HotKeyCenter(Private, platform::HotKeySystem& system, platform::MainExecutor& executor,
                           platform::MenuTracking* menuTracking, KeyEventMonitorFactory makeKeyEventMonitor)
    : system_(system),
      executor_(executor),
      menuTracking_(menuTracking),
      makeKeyEventMonitor_(std::move(makeKeyEventMonitor)) {}

HotKeyCenter::~HotKeyCenter() {
  if (menuTracking_ != nullptr && menuObserver_) menuTracking_->removeObserver(*menuObserver_);
}

bool HotKeyCenter::registerHotKey(const std::shared_ptr<HotKey>& hotKey) {
  const auto ref = registerEventHotKey(*hotKey);
  if (!ref) return false;
  hotKeys_[hotKey->id()] = Entry{hotKey, ref};
  if (installEventHandlerIfNeeded()) applyMode();
  return true;
}

bool HotKeyCenter::isRegistrable(std::int64_t carbonKeyCode, std::int64_t carbonModifiers) {
  if (!fitsInUInt32(carbonKeyCode) || !fitsInUInt32(carbonModifiers)) return false;
  // Id 0 is never a hot key's (ids start at 1): an event of the probe, should one come, is nobody's.
  const auto ref = system_.registerHotKey(static_cast<std::uint32_t>(carbonKeyCode),
                                          static_cast<std::uint32_t>(carbonModifiers),
                                          HotKeySystem::HotKeyId{kSignature, 0});
  if (!ref) return false;
  system_.unregisterHotKey(*ref);
  return true;
}

void HotKeyCenter::setEnabled(bool enabled) {
  if (isEnabled_ == enabled) return;
  isEnabled_ = enabled;
  updateMode();
}

void HotKeyCenter::setMenuOpen(bool open) {
  if (isMenuOpen_ == open) return;
  isMenuOpen_ = open;
  updateMode();
}

void HotKeyCenter::updateMode() {
  const Mode newMode = !isEnabled_ ? Mode::disabled : isMenuOpen_ ? Mode::menuOpen : Mode::normal;
  const bool changed = newMode != mode_;
  mode_ = newMode;
  if (!eventHandler_) {
    // Before the first registration the mode is only recorded: registerHotKey() applies it. Hot keys in
    // the table without a handler mean its installation failed: try again now, or their events stay lost.
    if (hotKeys_.empty() || !installEventHandlerIfNeeded()) return;
  } else if (!changed) {
    return;
  }
  applyMode();
}

void HotKeyCenter::applyMode() {
  if (mode_ == Mode::normal) {
    resumeAllHotKeys();
  } else {
    pauseAllHotKeys();
  }
  setHotKeyEventHandlingEnabled(mode_ == Mode::normal);
  setRawKeyEventHandlingEnabled(mode_ == Mode::menuOpen);
}

bool HotKeyCenter::installEventHandlerIfNeeded() {
  if (eventHandler_) return true;
  eventHandler_ = system_.installEventHandler(
      [center = weak_from_this(), executor = &executor_](const HotKeySystem::HotKeyEvent& event) {
        return carbonEventHandler(center, *executor, event);
      });
  if (!eventHandler_) {
    platform::log(platform::LogLevel::warning,
                  "GlobalShortcuts: could not install the hot-key event handler; will retry when the hot-key "
                  "mode next changes");
  }
  return eventHandler_.has_value();
}

std::optional<HotKeySystem::HotKeyRef> HotKeyCenter::registerEventHotKey(const HotKey& hotKey) const {
  // Values that do not fit the system's 32-bit fields (a hand-edited negative key code) are refused
  // rather than wrapped into some other key.
  if (!fitsInUInt32(hotKey.carbonKeyCode()) || !fitsInUInt32(hotKey.carbonModifiers()) ||
      !fitsInUInt32(hotKey.id())) {
    return std::nullopt;
  }
  return system_.registerHotKey(static_cast<std::uint32_t>(hotKey.carbonKeyCode()),
                                static_cast<std::uint32_t>(hotKey.carbonModifiers()),
                                HotKeySystem::HotKeyId{kSignature, static_cast<std::uint32_t>(hotKey.id())});
}

std::vector<HotKey::Id> HotKeyCenter::snapshotIds() const {
  std::vector<HotKey::Id> ids;
  ids.reserve(hotKeys_.size());
  for (const auto& [id, hotKey] : hotKeys_) ids.push_back(id);
  return ids;
}

std::shared_ptr<HotKey> HotKeyCenter::lookUp(HotKey::Id id) const {
  const auto it = hotKeys_.find(id);
  return it == hotKeys_.end() ? nullptr : it->second.hotKey.lock();
}

bool HotKeyCenter::contains(HotKey::Id id) const {
  return lookUp(id) != nullptr;
}

bool HotKeyCenter::isRegistered(HotKey::Id id) const {
  const auto it = hotKeys_.find(id);
  return it != hotKeys_.end() && !it->second.hotKey.expired() && it->second.registration.has_value();
}

// Closures called below may release hot keys or change the table: walk a snapshot of the ids and look each
// entry up again right before using it.
void HotKeyCenter::pauseAllHotKeys() {
  for (const auto id : snapshotIds()) {
    const auto it = hotKeys_.find(id);
    if (it == hotKeys_.end() || it->second.hotKey.expired() || !it->second.registration) continue;
    system_.unregisterHotKey(*it->second.registration);
    it->second.registration.reset();
  }
}

void HotKeyCenter::resumeAllHotKeys() {
  for (const auto id : snapshotIds()) {
    // A failure handler may have switched hot keys off meanwhile.
    if (mode_ != Mode::normal) return;
    const auto it = hotKeys_.find(id);
    const auto hotKey = it == hotKeys_.end() ? nullptr : it->second.hotKey.lock();
    if (!hotKey || it->second.registration) continue;
    if (const auto ref = registerEventHotKey(*hotKey)) {
      it->second.registration = ref;
      continue;
    }
    hotKeys_.erase(id);
    if (const auto onFailure = hotKey->onRegistrationFailed) onFailure();
  }
}

void HotKeyCenter::setHotKeyEventHandlingEnabled(bool enabled) {
  if (enabled == isHotKeyEventHandlingEnabled_) return;
  isHotKeyEventHandlingEnabled_ = enabled;
  if (enabled) {
    system_.addEventTypesToHandler(*eventHandler_, hotKeyEventTypes_);
  } else {
    system_.removeEventTypesFromHandler(*eventHandler_, hotKeyEventTypes_);
  }
}

void HotKeyCenter::setRawKeyEventHandlingEnabled(bool enabled) {
  if (enabled == isRawKeyEventHandlingEnabled_) return;
  isRawKeyEventHandlingEnabled_ = enabled;
  if (enabled) {
    const auto callback = [center = weak_from_this()](const KeyEvent& event) {
      if (auto strong = center.lock()) strong->handleRawKeyCallback(event);
    };
    if (!runLoopKeyEventMonitor_) {
      runLoopKeyEventMonitor_ = makeKeyEventMonitor_(KeyEventMonitor::Kind::runLoop, callback);
    }
    if (!appKitKeyEventMonitor_) {
      appKitKeyEventMonitor_ = makeKeyEventMonitor_(KeyEventMonitor::Kind::local, callback);
    }
    if (!runLoopKeyEventMonitor_->isRunning()) runLoopKeyEventMonitor_->start();
    if (!appKitKeyEventMonitor_->isRunning()) appKitKeyEventMonitor_->start();
  } else {
    // Releases are no longer seen here: a press still held is not ours to end.
    rawKeysDown_.clear();
    if (runLoopKeyEventMonitor_ && runLoopKeyEventMonitor_->isRunning()) runLoopKeyEventMonitor_->stop();
    if (appKitKeyEventMonitor_ && appKitKeyEventMonitor_->isRunning()) appKitKeyEventMonitor_->stop();
  }
}

void HotKeyCenter::setUpMenuTrackingObserversIfNeeded() {
  if (menuTracking_ == nullptr || menuObserver_) return;
  menuObserver_ = menuTracking_->addObserver(
      [center = weak_from_this(), executor = &executor_](platform::MenuTracking::Event event) {
        const bool open = event == platform::MenuTracking::Event::didBeginTracking;
        const auto apply = [center, open] {
          if (auto strong = center.lock()) strong->setMenuOpen(open);
        };
        if (executor->isMainThread()) {
          apply();
        } else {
          executor->post(apply);
        }
      });
}

HotKeyCenter::Status HotKeyCenter::carbonEventHandler(const std::weak_ptr<HotKeyCenter>& center,
                                                      platform::MainExecutor& executor,
                                                      const HotKeySystem::HotKeyEvent& event) {
  // Events off the main thread are declined, not queued: the system may offer them elsewhere.
  if (!executor.isMainThread()) return HotKeySystem::kEventNotHandledErr;
  const auto strong = center.lock();
  if (!strong) return HotKeySystem::kEventNotHandledErr;
  if (event.eventKind != HotKeySystem::kEventHotKeyPressed &&
      event.eventKind != HotKeySystem::kEventHotKeyReleased) {
    return HotKeySystem::kEventNotHandledErr;
  }
  return strong->handleHotKeyEvent(event);
}

HotKeyCenter::Status HotKeyCenter::handleHotKeyEvent(const HotKeySystem::HotKeyEvent& event) {
  if (event.hotKeyId.signature != kSignature) return HotKeySystem::kEventNotHandledErr;
  // Held for the call, so that a closure that releases its own hot key does not destroy itself mid-call.
  const auto hotKey = lookUp(event.hotKeyId.id);
  if (!hotKey) return HotKeySystem::kEventNotHandledErr;
  switch (event.eventKind) {
    case HotKeySystem::kEventHotKeyReleased:
      hotKey->deliverKeyUp();
      return HotKeySystem::kNoErr;
    case HotKeySystem::kEventHotKeyPressed:
      hotKey->deliverKeyDown();
      return HotKeySystem::kNoErr;
    default:
      return HotKeySystem::kEventNotHandledErr;
  }
}

void HotKeyCenter::handleRawKeyCallback(const KeyEvent& event) {
  const auto flags = ModifierFlags(event.modifierFlags.rawValue() & kRawKeyModifierMask);
  const auto kind = event.type == KeyEvent::Type::keyDown ? kEventRawKeyDown : kEventRawKeyUp;
  handleRawKeyEvent(event.keyCode, flags.carbon(), event.isRepeat, kind);
}

HotKeyCenter::Status HotKeyCenter::handleRawKeyEvent(std::uint16_t keyCode, std::int64_t modifiers,
                                                     bool isRepeat, std::uint32_t eventKind) {
  // Holding a key down must not fire the hot key again and again.
  if (eventKind == kEventRawKeyDown && isRepeat) return HotKeySystem::kEventNotHandledErr;
  const std::int64_t eventModifiers = normalisedModifiers(keyCode, modifiers);
  for (const auto id : snapshotIds()) {
    const auto hotKey = lookUp(id);
    if (!hotKey) continue;
    if (hotKey->carbonKeyCode() != keyCode ||
        normalisedModifiers(hotKey->carbonKeyCode(), hotKey->carbonModifiers()) != eventModifiers) {
      continue;
    }
    if (eventKind == kEventRawKeyDown) {
      rawKeysDown_[keyCode] = id;
      hotKey->deliverKeyDown();
      return HotKeySystem::kNoErr;
    }
    if (eventKind == kEventRawKeyUp) {
      rawKeysDown_.erase(keyCode);
      hotKey->deliverKeyUp();
      return HotKeySystem::kNoErr;
    }
    return HotKeySystem::kEventNotHandledErr;
  }
  // A modifier let go before the key: the key's release carries other modifiers, yet it ends the press
  // that its key-down began (a lost key-up would leave the hot key held for good).
  if (eventKind == kEventRawKeyUp) {
    if (const auto it = rawKeysDown_.find(keyCode); it != rawKeysDown_.end()) {
      const auto hotKey = lookUp(it->second);
      rawKeysDown_.erase(it);
      if (hotKey) {
        hotKey->deliverKeyUp();
        return HotKeySystem::kNoErr;
      }
    }
  }
  return HotKeySystem::kEventNotHandledErr;
}

void HotKeyCenter::remove(HotKey::Id id) {
  const auto it = hotKeys_.find(id);
  if (it == hotKeys_.end()) return;
  const auto registration = it->second.registration;
  hotKeys_.erase(it);
  if (registration) system_.unregisterHotKey(*registration);
}

std::vector<HotKeyCenter::SystemShortcut> HotKeyCenter::systemShortcuts() {
  std::vector<SystemShortcut> result;
  const auto* symbolic = environment().symbolicHotKeys;
  if (symbolic == nullptr) return result;
  const auto entries = symbolic->copySymbolicHotKeys();
  if (!entries) return result;
  for (const auto& entry : *entries) {
    if (entry.enabled != true || !entry.keyCode || !entry.modifiers) continue;
    result.push_back({*entry.keyCode, *entry.modifiers});
  }
  return result;
}

}  // namespace GlobalShortcuts
