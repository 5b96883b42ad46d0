#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/HotKeySystem.h"
#include "platform/linux/desktop/X11Connection.h"

namespace platform {

// System-wide hot keys on X11, as passive key grabs on every root window of the shared connection.
//
// Keys: a Carbon key code names a physical position; keyName() (given at construction, the shortcut
// package's table) turns it into an XKB key name ("AD05"), which the live keymap turns into a keycode, so a
// Cyrillic or AZERTY layout does not move the key. Modifiers follow the edge rule: Command is Control,
// Control is Super, Option is Alt, Shift is Shift; the Alt and Super bits (and those of Num Lock and Scroll
// Lock) are read from the server's modifier map. Function has no X11 modifier: a combination with it is
// refused, except on the keys that carry Function by themselves (hasSynthesizedFunction()), where it is
// dropped.
//
// One registration grabs its combination with every combination of the lock modifiers (Caps Lock, Num
// Lock, Scroll Lock when mapped), so it fires whatever locks are on. BadAccess on the plain combination
// means another client holds it: the registration is refused and nothing of it stays grabbed. The same X11
// combination is granted to one registration of this process only. Each refused registration leaves one
// line in the log naming the shortcut and why (a lost connection to the X server is said once only).
//
// Events: presses and releases come through the connection on the main thread and go to the handlers
// with the matching event types, on the main thread. Holding a key is one press (XKB detectable
// auto-repeat, repeats dropped); a release is matched by keycode, since while the grab is active the
// release may carry no modifiers. While a hot key is held its release is also watched as an XInput 2 raw
// event, which arrives even when our grab has ended meanwhile, so every press of a key still down is a
// repeat however late the server sends it (without XInput 2, a press that comes later than a repeat would
// counts as a new one). When the keymap changes, every registration is resolved and grabbed
// again.
//
// Main thread only. The connection must outlive this object.
class X11HotKeySystem final : public HotKeySystem {
 public:
  struct KeyTable {
    // The XKB key name of a Carbon key code; nothing for codes without one.
    std::function<std::optional<std::string>(std::uint32_t carbonKeyCode)> keyName;
    // Whether the key carries the Function modifier by itself (function keys, arrows, ...).
    std::function<bool(std::uint32_t carbonKeyCode)> hasSynthesizedFunction;
    // The combination as the desktop writes it ("Alt+T"), for the log; codes and masks when absent.
    std::function<std::string(std::uint32_t carbonKeyCode, std::uint32_t carbonModifiers)> describe;
  };

  X11HotKeySystem(X11Connection& x11, KeyTable keys);
  ~X11HotKeySystem() override;
  X11HotKeySystem(const X11HotKeySystem&) = delete;
  X11HotKeySystem& operator=(const X11HotKeySystem&) = delete;

  std::optional<HotKeyRef> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                          HotKeyId id) override;
  void unregisterHotKey(HotKeyRef ref) override;
  std::optional<HandlerRef> installEventHandler(Handler handler) override;
  void addEventTypesToHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) override;
  void removeEventTypesFromHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) override;

  // For each combination (Carbon units): whether another client holds it, found by trying to grab it
  // (and letting go at once). Combinations held by this process, or that cannot be expressed on this
  // keyboard, answer false. One round trip for the whole list.
  std::vector<bool> heldByOtherClients(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& combos);

  // Whether the combination has a key and modifiers on the current keyboard.
  bool isExpressible(std::uint32_t keyCode, std::uint32_t modifiers) const;
  bool hasSynthesizedFunction(std::uint32_t keyCode) const;

  // The keyboard's auto-repeat settings (XKB controls); the X server defaults when they cannot be read.
  struct KeyRepeat {
    std::chrono::milliseconds delay{660};
    std::chrono::milliseconds interval{40};
  };
  KeyRepeat keyRepeat() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
