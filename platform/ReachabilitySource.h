#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace platform {

class SerialQueue;

// What the system knows about reaching the internet at large, as a set of bits.
using ReachabilityFlags = std::uint32_t;

// The bits. Their values are those the analytics client's connection rule is written against; a source
// sets the ones it can tell apart and leaves the rest clear.
struct ReachabilityFlag {
  static constexpr ReachabilityFlags transientConnection = 0x1;
  static constexpr ReachabilityFlags reachable = 0x2;
  static constexpr ReachabilityFlags connectionRequired = 0x4;
  static constexpr ReachabilityFlags connectionOnTraffic = 0x8;
  static constexpr ReachabilityFlags interventionRequired = 0x10;
  static constexpr ReachabilityFlags connectionOnDemand = 0x20;
  static constexpr ReachabilityFlags isLocalAddress = 0x10000;
  static constexpr ReachabilityFlags isDirect = 0x20000;
};

// One read of the flags: the flags, or the source's error code when it could not read them.
struct ReachabilityRead {
  std::optional<ReachabilityFlags> flags;
  std::int32_t error = 0;  // meaningful only without flags
};

// Where the network's reachability comes from: the kernel's routing table, NetworkManager, or a test's
// settable fake. A monitor reads the flags, installs one change callback and schedules the source on its
// serial queue; the source then calls the callback on that queue, with the new flags, whenever the
// system reports a change (possibly with flags equal to the last ones).
//
// Errors are codes of the backend's own (errno values, D-Bus error types); zero is success. Every method
// may be called from any thread, the queue's own included. After setCallback({}) or unschedule() returns,
// reports already queued do not reach the removed callback; one already running may still finish.
class ReachabilitySource {
 public:
  using Callback = std::function<void(ReachabilityFlags)>;

  virtual ~ReachabilitySource() = default;

  // A short name for diagnostics ("rtnetlink", "NetworkManager").
  virtual std::string_view name() const = 0;
  // Reads the current flags; blocks while the system answers.
  virtual ReachabilityRead readFlags() = 0;
  // Installs `callback`, replacing the previous one; an empty function removes it. 0 or an error code.
  virtual std::int32_t setCallback(Callback callback) = 0;
  // Starts following the system's changes, reporting them on `queue` (replacing an earlier queue).
  // 0 or an error code; on an error nothing is scheduled.
  virtual std::int32_t schedule(std::shared_ptr<SerialQueue> queue) = 0;
  // Stops following changes and lets go of the queue. Never fails.
  virtual void unschedule() = 0;
};

// What opening a source gives: the source, or the code of the error that kept it from opening.
struct OpenedReachabilitySource {
  std::shared_ptr<ReachabilitySource> source;
  std::int32_t error = 0;  // meaningful only without a source
};

}  // namespace platform
