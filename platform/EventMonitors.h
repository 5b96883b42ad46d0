#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/OptionSet.h"
#include "platform/PopupPanel.h"

namespace platform {

// The input events that monitors can watch, as bits of a mask.
enum class MonitoredEventType : std::uint32_t {
  leftMouseDown = 1u << 1,
  rightMouseDown = 1u << 3,
  keyDown = 1u << 10,
  scrollWheel = 1u << 22,
};

class MonitoredEventMask : public OptionSet<MonitoredEventMask, std::uint32_t> {
 public:
  using OptionSet::OptionSet;
  constexpr MonitoredEventMask(MonitoredEventType t) noexcept  // NOLINT: a type is a mask of one
      : OptionSet(static_cast<std::uint32_t>(t)) {}
};

constexpr MonitoredEventMask operator|(MonitoredEventType a, MonitoredEventType b) {
  return MonitoredEventMask(a) | MonitoredEventMask(b);
}

struct MonitoredEvent {
  MonitoredEventType type = MonitoredEventType::leftMouseDown;
  // The window of this application that the event goes to; 0 for none (and always 0 for events that go
  // to other applications).
  WindowId window = 0;
  // For key events: the virtual key code of the physical key (GlobalShortcuts::Key numbering).
  int keyCode = 0;
};

// Watching input events without taking them over.
//   - A global monitor sees the chosen events that go to OTHER applications; it cannot change them.
//   - A local monitor sees the chosen events that go to THIS application before they are delivered; its
//     handler returns true to let the event through unchanged, false to swallow it.
// Adding returns a token, or nothing when the system refuses the monitor (then nothing is watched).
// Handlers run on the main thread. removeMonitor() of an unknown or already removed token does nothing.
// Main thread only.
class EventMonitors {
 public:
  using Token = std::uint64_t;
  using GlobalHandler = std::function<void(const MonitoredEvent&)>;
  using LocalHandler = std::function<bool(const MonitoredEvent&)>;

  virtual ~EventMonitors() = default;
  virtual std::optional<Token> addGlobalMonitor(MonitoredEventMask mask, GlobalHandler handler) = 0;
  virtual std::optional<Token> addLocalMonitor(MonitoredEventMask mask, LocalHandler handler) = 0;
  virtual void removeMonitor(Token token) = 0;
};

}  // namespace platform
