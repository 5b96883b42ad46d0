#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/HotKeySystem.h"

namespace platform::fake {

// An in-memory hot-key service. It records registrations, refuses the combinations it is told to, and
// delivers presses and releases of registered combinations to the installed handler, but only while the
// handler has that event type added, as the real service does. Thread-safe; the handler is called on
// the calling thread, outside the fake's lock.
class FakeHotKeySystem final : public HotKeySystem {
 public:
  struct Registration {
    HotKeyRef ref = 0;
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
    HotKeyId id;
  };

  std::optional<HotKeyRef> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                          HotKeyId id) override;
  void unregisterHotKey(HotKeyRef ref) override;
  std::optional<HandlerRef> installEventHandler(Handler handler) override;
  void addEventTypesToHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) override;
  void removeEventTypesFromHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) override;

  // Another client holds the combination: registering it is refused until allow().
  void refuse(std::uint32_t keyCode, std::uint32_t modifiers);
  void allow(std::uint32_t keyCode, std::uint32_t modifiers);
  // While set, installEventHandler() fails.
  void setHandlerInstallationFails(bool fails);

  // Presses or releases the combination. Delivered when it is registered (the latest registration
  // wins) and a handler has the event type added; the handler's status, or nothing when not delivered.
  std::optional<Status> press(std::uint32_t keyCode, std::uint32_t modifiers);
  std::optional<Status> release(std::uint32_t keyCode, std::uint32_t modifiers);
  // Hands `event` to every installed handler, whatever its event types; the last handler's status.
  std::optional<Status> send(const HotKeyEvent& event);

  std::vector<Registration> registrations() const;
  bool isRegistered(std::uint32_t keyCode, std::uint32_t modifiers) const;
  // Registrations ever accepted, including those since withdrawn.
  std::size_t registerCount() const;
  std::size_t handlerCount() const;
  // The event types currently added to `handler`.
  std::set<std::pair<std::uint32_t, std::uint32_t>> eventTypes(HandlerRef handler) const;

 private:
  std::optional<Status> deliver(std::uint32_t kind, std::uint32_t keyCode, std::uint32_t modifiers);

  mutable std::mutex mutex_;
  std::uint64_t lastRef_ = 0;
  std::size_t registerCount_ = 0;
  std::map<HotKeyRef, Registration> registrations_;
  std::set<std::pair<std::uint32_t, std::uint32_t>> refused_;
  bool handlerInstallationFails_ = false;
  struct InstalledHandler {
    Handler handler;
    std::set<std::pair<std::uint32_t, std::uint32_t>> types;
  };
  std::map<HandlerRef, InstalledHandler> handlers_;
};

}  // namespace platform::fake
