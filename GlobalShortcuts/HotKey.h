#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {
class MainExecutor;
}

namespace GlobalShortcuts {

class HotKeyCenter;

// One system-wide hot key: a key combination (Carbon units) with the closures its presses and releases
// call. It is held by shared_ptr by its owner (the shortcut registry); the center only refers to it. When
// the last owner lets go, its system registration and its entry in the center go too (on the main
// thread: a release on another thread is finished there later).
//
// Created on the main thread, where it draws the next id of the shared center: the first hot key of a
// process has id 1, and ids are never reused. Closures are called on the main thread.
class HotKey {
 public:
  using Id = std::int64_t;
  using Closure = std::function<void()>;

  HotKey(std::int64_t carbonKeyCode, std::int64_t carbonModifiers, Closure onKeyDown, Closure onKeyUp);
  ~HotKey();
  HotKey(const HotKey&) = delete;
  HotKey& operator=(const HotKey&) = delete;

  std::int64_t carbonKeyCode() const noexcept { return carbonKeyCode_; }
  std::int64_t carbonModifiers() const noexcept { return carbonModifiers_; }
  Id id() const noexcept { return id_; }

  // Run the key-down or key-up closure (if any): the center calls these for each press and release.
  void deliverKeyDown() const;
  void deliverKeyUp() const;

  // Called when the center could not register the hot key again after having withdrawn it (while a menu
  // was open or hot keys were disabled); the hot key has then left the center.
  Closure onRegistrationFailed;

 private:
  const std::int64_t carbonKeyCode_;
  const std::int64_t carbonModifiers_;
  const Closure onKeyDown_;
  const Closure onKeyUp_;
  const Id id_;
  // The center that drew the id; its registration of this hot key is withdrawn when the hot key ends.
  std::weak_ptr<HotKeyCenter> center_;
  platform::MainExecutor* executor_;
};

}  // namespace GlobalShortcuts
