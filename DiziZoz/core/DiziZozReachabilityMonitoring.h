#pragma once

#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozMulticastCallback.h"

namespace dizizoz {

// How the network can be used right now. This platform reports `wifi` or `unavailable`: `cellular`
// exists for the options' data mode only.
enum class DiziZozConnection { unavailable, wifi, cellular };

// What the client and its queues need of the network monitor: the current connection kind and the
// reachable/unreachable callbacks. Set-up builds at most one per client through its services (none when
// the platform has no source) and shares it with the queues, the event context and the push handler; a
// client without one treats the network as usable.
//
// Thread-safe. `connection()` may read the source synchronously while no state is known yet; the
// callbacks run where the monitor delivers them (the main executor for the client's monitor).
class DiziZozReachabilityMonitoring {
 public:
  virtual ~DiziZozReachabilityMonitoring() = default;

  virtual DiziZozConnection connection() = 0;
  // Invoked with the monitor after a change that leaves the connection usable, or unusable.
  virtual DiziZozMulticastCallback<DiziZozReachabilityMonitoring>& onReachable() = 0;
  virtual DiziZozMulticastCallback<DiziZozReachabilityMonitoring>& onUnreachable() = 0;
  // Starts watching the source; a second call does nothing. A failure leaves the monitor stopped and is
  // described by the returned text.
  virtual std::optional<std::string> startNotifier() = 0;
  // Stops watching; the last known state stays. Never fails.
  virtual void stopNotifier() = 0;
};

}  // namespace dizizoz
