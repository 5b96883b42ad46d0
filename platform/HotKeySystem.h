#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

// Carbon modifier mask bits: the unit in which shortcuts are stored and registered.
namespace carbon {
inline constexpr std::uint32_t command = 0x100;
inline constexpr std::uint32_t shift = 0x200;
inline constexpr std::uint32_t option = 0x800;
inline constexpr std::uint32_t control = 0x1000;
inline constexpr std::uint32_t function = 0x20000;
}  // namespace carbon

// The system's hot-key service: system-wide key combinations registered by this process, whose presses
// and releases are delivered to one event handler. Keys and modifiers travel in Carbon units (virtual key
// code, Carbon modifier mask of the `carbon` bits above); the backend translates them at its edge.
//
// A registration is delivered only while the handler has the matching event types added; without them
// the combination stays taken by this process but its events go nowhere.
//
// Backends: X11 passive grabs (platform/linux/desktop) and FakeHotKeySystem (platform/fake). Calls come
// from the main thread; the handler may be called on any thread the backend reads events on.
class HotKeySystem {
 public:
  using Status = std::int32_t;
  static constexpr Status kNoErr = 0;
  // The event was not handled here; the system may offer it to other handlers.
  static constexpr Status kEventNotHandledErr = -9874;

  static constexpr std::uint32_t kEventClassKeyboard = 0x6B657962;  // 'keyb'
  static constexpr std::uint32_t kEventHotKeyPressed = 5;
  static constexpr std::uint32_t kEventHotKeyReleased = 6;

  // Handed over at registration and carried by every event of that registration.
  struct HotKeyId {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;
    friend bool operator==(const HotKeyId&, const HotKeyId&) = default;
  };

  struct EventTypeFilter {
    std::uint32_t eventClass = 0;
    std::uint32_t eventKind = 0;
    friend bool operator==(const EventTypeFilter&, const EventTypeFilter&) = default;
  };

  struct HotKeyEvent {
    std::uint32_t eventClass = kEventClassKeyboard;
    std::uint32_t eventKind = kEventHotKeyPressed;
    HotKeyId hotKeyId;
  };

  // Non-zero handles; zero is never handed out.
  using HotKeyRef = std::uint64_t;
  using HandlerRef = std::uint64_t;
  using Handler = std::function<Status(const HotKeyEvent&)>;

  virtual ~HotKeySystem() = default;

  // Nothing when the system refuses the combination (another client holds it, or it cannot be expressed).
  virtual std::optional<HotKeyRef> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                  HotKeyId id) = 0;
  // Unknown handles are ignored.
  virtual void unregisterHotKey(HotKeyRef ref) = 0;

  // Installs a handler that initially receives no event types. Nothing when it cannot be installed.
  virtual std::optional<HandlerRef> installEventHandler(Handler handler) = 0;
  virtual void addEventTypesToHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) = 0;
  virtual void removeEventTypesFromHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) = 0;
};

}  // namespace platform
