#include "DiziZoz/delivery/Reachability.h"

#include <any>
#include <stdexcept>
#include <thread>
#include <utility>

#include "DiziZoz/core/HedgeLog.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

namespace dizizoz {
namespace {

using platform::ReachabilityFlag;
using platform::ReachabilityFlags;

constexpr std::uint64_t kFlagsKnown = std::uint64_t{1} << 32;

std::optional<ReachabilityFlags> unpack(std::uint64_t word) {
  if (!(word & kFlagsKnown)) return std::nullopt;
  return static_cast<ReachabilityFlags>(word);
}

DiziZozConnection connectionFor(std::optional<ReachabilityFlags> flags) {
  if (!flags || !(*flags & ReachabilityFlag::reachable)) return DiziZozConnection::unavailable;
  if (!(*flags & ReachabilityFlag::connectionRequired)) return DiziZozConnection::wifi;
  const bool automatic =
      *flags & (ReachabilityFlag::connectionOnTraffic | ReachabilityFlag::connectionOnDemand);
  if (automatic && !(*flags & ReachabilityFlag::interventionRequired)) return DiziZozConnection::wifi;
  return DiziZozConnection::unavailable;
}

}  // namespace

std::string describeReachabilityFlags(ReachabilityFlags flags) {
  const auto mark = [flags](ReachabilityFlags bit, char letter) { return (flags & bit) ? letter : '-'; };
  return {'-',
          mark(ReachabilityFlag::reachable, 'R'),
          ' ',
          mark(ReachabilityFlag::connectionRequired, 'c'),
          mark(ReachabilityFlag::transientConnection, 't'),
          mark(ReachabilityFlag::interventionRequired, 'i'),
          mark(ReachabilityFlag::connectionOnTraffic, 'C'),
          mark(ReachabilityFlag::connectionOnDemand, 'D'),
          mark(ReachabilityFlag::isLocalAddress, 'l'),
          mark(ReachabilityFlag::isDirect, 'd')};
}

Reachability::Creation Reachability::create(Parts parts) {
  if (!parts.source.source) {
    return {.monitor = nullptr,
            .error = ReachabilityError{.kind = ReachabilityError::Kind::failedToCreateWithAddress,
                                       .code = parts.source.error,
                                       .target = std::string(watchedAddress)}};
  }
  return {.monitor = std::shared_ptr<Reachability>(new Reachability(std::move(parts))),
          .error = std::nullopt};
}

decltype(DiziZozServices::makeReachability) Reachability::servicesFactory(
    std::function<platform::OpenedReachabilitySource()> openSource,
    std::function<std::shared_ptr<platform::SerialQueue>(std::string_view label)> makeSerialQueue,
    std::shared_ptr<platform::Executor> notificationQueue,
    std::shared_ptr<platform::NotificationCenter> center) {
  return [openSource = std::move(openSource), makeSerialQueue = std::move(makeSerialQueue),
          notificationQueue = std::move(notificationQueue), center = std::move(center)](
             const DiziZozConfig&) -> std::shared_ptr<DiziZozReachabilityMonitoring> {
    auto created = create({.source = openSource(),
                           .serialQueue = makeSerialQueue(serialQueueLabel),
                           .notificationQueue = notificationQueue,
                           .notificationCenter = center});
    if (created.error) hedgeLog("Network reachability is not watched: " + describe(*created.error));
    return created.monitor;
  };
}

Reachability::Reachability(Parts parts)
    : source_(std::move(parts.source.source)),
      serialQueue_(std::move(parts.serialQueue)),
      notificationQueue_(std::move(parts.notificationQueue)),
      notificationCenter_(std::move(parts.notificationCenter)) {
  if (!serialQueue_ || !notificationCenter_) {
    throw std::invalid_argument("Reachability: a serial queue and a notification center are required");
  }
}

Reachability::~Reachability() {
  stopNotifier();
  if (serialQueue_->isCurrent()) {
    // The last owner let go inside a job of the monitor's own queue, whose worker cannot tear itself down
    // (it would wait for its own job to end): another thread releases the queue.
    std::thread([queue = std::move(serialQueue_)]() mutable { queue.reset(); }).detach();
  }
}

std::optional<std::string> Reachability::startNotifier() {
  std::lock_guard guard(notifierLock_);
  if (notifierRunning_) return std::nullopt;

  // The callback's context holds the monitor weakly, so the source never keeps it alive.
  if (const std::int32_t code = source_->setCallback([weak = weak_from_this()](ReachabilityFlags flags) {
        if (auto self = weak.lock()) self->storeFlags(flags);
      })) {
    stopNotifierLocked();
    return describe(
        ReachabilityError{.kind = ReachabilityError::Kind::unableToSetCallback, .code = code, .target = {}});
  }
  if (const std::int32_t code = source_->schedule(serialQueue_)) {
    stopNotifierLocked();
    return describe(ReachabilityError{
        .kind = ReachabilityError::Kind::unableToSetDispatchQueue, .code = code, .target = {}});
  }
  std::optional<ReachabilityError> readError;
  serialQueue_->sync([&] { readError = setReachabilityFlags(); });
  if (readError) {
    stopNotifierLocked();
    return describe(*readError);
  }
  notifierRunning_ = true;
  return std::nullopt;
}

void Reachability::stopNotifier() {
  std::lock_guard guard(notifierLock_);
  stopNotifierLocked();
}

void Reachability::stopNotifierLocked() {
  source_->setCallback({});
  source_->unschedule();
  notifierRunning_ = false;
}

DiziZozConnection Reachability::connection() {
  auto flags = unpack(flags_.load());
  if (!flags) {
    std::optional<ReachabilityError> readError;
    const auto read = [&] {
      if (!unpack(flags_.load())) readError = setReachabilityFlags();
    };
    // On the serial queue itself, waiting for that queue would never end: read in place.
    if (serialQueue_->isCurrent()) {
      read();
    } else {
      serialQueue_->sync(read);
    }
    // A failed read stops the notifier; the kind is then unavailable, the error goes no further.
    if (readError) stopNotifier();
    flags = unpack(flags_.load());
  }
  return connectionFor(flags);
}

std::optional<ReachabilityFlags> Reachability::flags() const {
  return unpack(flags_.load());
}

std::string Reachability::description() const {
  const auto flags = this->flags();
  return flags ? describeReachabilityFlags(*flags) : "unavailable flags";
}

std::optional<ReachabilityError> Reachability::setReachabilityFlags() {
  const platform::ReachabilityRead read = source_->readFlags();
  if (!read.flags) {
    return ReachabilityError{
        .kind = ReachabilityError::Kind::unableToGetFlags, .code = read.error, .target = {}};
  }
  storeFlags(*read.flags);
  return std::nullopt;
}

void Reachability::storeFlags(ReachabilityFlags flags) {
  const std::uint64_t word = kFlagsKnown | flags;
  if (flags_.exchange(word) != word) notifyReachabilityChanged();
}

void Reachability::notifyReachabilityChanged() {
  auto pass = [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    const bool usable = self->connection() != DiziZozConnection::unavailable;
    (usable ? self->onReachable_ : self->onUnreachable_).invoke(*self);
    self->notificationCenter_->post(std::string(reachabilityChanged),
                                    platform::UserInfo{{std::string(notificationObjectKey), std::any(self)}});
  };
  if (notificationQueue_) {
    notificationQueue_->post(std::move(pass));
  } else {
    pass();
  }
}

}  // namespace dizizoz
