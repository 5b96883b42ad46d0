#pragma once

#include <QDBusConnection>
#include <cstdint>
#include <memory>

#include "platform/ReachabilityDelivery.h"
#include "platform/ReachabilitySource.h"

namespace platform {

// Reachability as NetworkManager judges it, over D-Bus: its Connectivity property decides (full gives
// reachable; limited adds connection required; a captive portal adds intervention required as well; none
// gives nothing) and, while that is unknown (checks switched off), its State does (connected-global is
// reachable). Changes arrive as PropertiesChanged signals of NetworkManager's object, each becoming one
// re-read on the queue. Error codes are QDBusError::ErrorType values.
//
// Create it on a thread that runs a Qt event loop (the main thread): the change signals are received
// there. Reads are blocking D-Bus calls and may run on any thread.
class NetworkManagerReachabilitySource final : public ReachabilitySource {
 public:
  // NetworkManager's numbers for the two properties (its NMState and NMConnectivityState).
  static constexpr std::uint32_t kStateConnectedGlobal = 70;
  enum Connectivity : std::uint32_t { unknown = 0, none = 1, portal = 2, limited = 3, full = 4 };

  // Whether NetworkManager owns its well-known name on `bus`.
  static bool ownsName(const QDBusConnection& bus);
  // A source following NetworkManager on `bus`; fails when the bus is not connected or the change signal
  // cannot be followed.
  static OpenedReachabilitySource open(const QDBusConnection& bus);
  // The flags for NetworkManager's state and connectivity.
  static ReachabilityFlags flagsFor(std::uint32_t state, std::uint32_t connectivity);

  ~NetworkManagerReachabilitySource() override;
  NetworkManagerReachabilitySource(const NetworkManagerReachabilitySource&) = delete;
  NetworkManagerReachabilitySource& operator=(const NetworkManagerReachabilitySource&) = delete;

  std::string_view name() const override { return "NetworkManager"; }
  ReachabilityRead readFlags() override;
  std::int32_t setCallback(Callback callback) override;
  std::int32_t schedule(std::shared_ptr<SerialQueue> queue) override;
  void unschedule() override;

 private:
  class Receiver;
  explicit NetworkManagerReachabilitySource(const QDBusConnection& bus);

  QDBusConnection bus_;
  std::shared_ptr<ReachabilityDelivery> delivery_;  // shared with the receiver
  Receiver* receiver_;                              // deleted on its own thread
};

}  // namespace platform
