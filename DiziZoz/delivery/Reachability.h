#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/DiziZozMulticastCallback.h"
#include "DiziZoz/core/DiziZozReachabilityMonitoring.h"
#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/delivery/ReachabilityError.h"
#include "platform/ReachabilitySource.h"

namespace platform {
class Executor;
class NotificationCenter;
class SerialQueue;
}  // namespace platform

namespace dizizoz {

// The analytics client's network monitor, one per client. It keeps the last flags its source reported,
// derives the connection kind from them (wifi or unavailable: this platform never reports cellular) and
// runs exactly one notification pass per change of the flags, the first read included: onReachable or
// onUnreachable with the monitor, then "reachabilityChanged" on the notification center with the monitor
// (a shared_ptr<Reachability>) under "object". The pass runs on the notification executor, or at once on
// the monitor's serial queue, inside the update, when there is none.
//
// Threads: the source's callback, every flags read and every write of the flags run on the serial queue;
// the flags are one atomic word, so connection() reads them from any thread without a lock. While no flags
// are known yet, connection() first reads them synchronously on the serial queue (in place when called on
// that queue). startNotifier() and stopNotifier() may be called from any thread, but not from the
// callbacks of a monitor without a notification executor: those run on the serial queue that
// startNotifier() waits for.
//
// Owned through shared_ptr (create()). The source holds the monitor weakly: a report that arrives after
// the monitor is gone does nothing. Destroying the monitor stops the notifier.
class Reachability final : public DiziZozReachabilityMonitoring,
                           public std::enable_shared_from_this<Reachability> {
 public:
  static constexpr std::string_view reachabilityChanged = "reachabilityChanged";
  static constexpr std::string_view notificationObjectKey = "object";
  static constexpr std::string_view serialQueueLabel = "com.dizizoz.Reachability";
  // What the monitor watches: any internet host.
  static constexpr std::string_view watchedAddress = "0.0.0.0";
  // Kept for cellular connections, which this platform never reports; not consulted.
  static constexpr bool reachableOnWWAN = true;

  struct Parts {
    platform::OpenedReachabilitySource source;
    std::shared_ptr<platform::SerialQueue> serialQueue;                // not null
    std::shared_ptr<platform::Executor> notificationQueue;             // null: the serial queue
    std::shared_ptr<platform::NotificationCenter> notificationCenter;  // not null
  };
  struct Creation {
    std::shared_ptr<Reachability> monitor;
    std::optional<ReachabilityError> error;  // failedToCreateWithAddress when the source did not open
  };
  static Creation create(Parts parts);

  // The services record's factory of the client's monitor: at each set-up it opens a source, gives the
  // monitor a serial queue of its own (named serialQueueLabel) and notifies on `notificationQueue` (the
  // main executor) and `center`. A source that does not open leaves the client without a monitor.
  static decltype(DiziZozServices::makeReachability) servicesFactory(
      std::function<platform::OpenedReachabilitySource()> openSource,
      std::function<std::shared_ptr<platform::SerialQueue>(std::string_view label)> makeSerialQueue,
      std::shared_ptr<platform::Executor> notificationQueue,
      std::shared_ptr<platform::NotificationCenter> center);

  ~Reachability() override;
  Reachability(const Reachability&) = delete;
  Reachability& operator=(const Reachability&) = delete;

  DiziZozConnection connection() override;
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring>& onReachable() override { return onReachable_; }
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring>& onUnreachable() override { return onUnreachable_; }
  // Installs the source's callback, schedules it on the serial queue and reads the flags there; does
  // nothing when already running. A failure stops the notifier and is returned, described
  // (unableToSetCallback, unableToSetDispatchQueue, unableToGetFlags with the source's code).
  std::optional<std::string> startNotifier() override;
  // Removes the source's callback and queue; the last flags stay. A stopped monitor can start again.
  void stopNotifier() override;

  bool notifierRunning() const { return notifierRunning_; }
  // The last flags read; none before the first read.
  std::optional<platform::ReachabilityFlags> flags() const;
  // "unavailable flags" before the first read, else describeReachabilityFlags() of the flags.
  std::string description() const;
  std::string_view sourceName() const { return source_->name(); }

  // Not consulted on this platform.
  std::atomic<bool> allowsCellularConnection{true};

 private:
  explicit Reachability(Parts parts);

  // On the serial queue: reads the flags from the source and stores them; the error when the read
  // failed (the caller stops the notifier).
  std::optional<ReachabilityError> setReachabilityFlags();
  // On the serial queue.
  void storeFlags(platform::ReachabilityFlags flags);
  void notifyReachabilityChanged();
  void stopNotifierLocked();  // notifierLock_

  const std::shared_ptr<platform::ReachabilitySource> source_;
  std::shared_ptr<platform::SerialQueue> serialQueue_;
  const std::shared_ptr<platform::Executor> notificationQueue_;
  const std::shared_ptr<platform::NotificationCenter> notificationCenter_;
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring> onReachable_;
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring> onUnreachable_;
  // The flags in the low 32 bits; bit 32 set once they are known.
  std::atomic<std::uint64_t> flags_{0};
  // Serialises starting and stopping.
  std::mutex notifierLock_;
  std::atomic<bool> notifierRunning_{false};
};

// The flags in ten characters: "-", "R" when reachable, a blank, then c (connection required),
// t (transient connection), i (intervention required), C (on traffic), D (on demand), l (local address),
// d (direct), "-" for each absent one. Reachable alone is "-R -------".
std::string describeReachabilityFlags(platform::ReachabilityFlags flags);

}  // namespace dizizoz
