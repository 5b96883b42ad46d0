#pragma once

#include <cstdint>
#include <functional>

namespace platform {

// Tells when one of the application's menus (the tray menu, a context menu) starts and stops being
// tracked, i.e. is open and takes the keyboard. Observers may be called on any thread.
class MenuTracking {
 public:
  enum class Event { didBeginTracking, didEndTracking };
  using Observer = std::function<void(Event)>;
  using ObserverId = std::uint64_t;

  virtual ~MenuTracking() = default;
  virtual ObserverId addObserver(Observer observer) = 0;
  // Unknown ids are ignored. An observer removed while events are being delivered is not called again.
  virtual void removeObserver(ObserverId id) = 0;
};

}  // namespace platform
