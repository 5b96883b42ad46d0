#pragma once

#include <memory>
#include <mutex>

#include "platform/ReachabilityDelivery.h"
#include "platform/ReachabilitySource.h"

namespace platform {

class WorkerThread;

// Reachability from the kernel's routing table over rtnetlink, needing no daemon: the network is
// reachable when a default unicast route of the main table, IPv4 or IPv6, leaves through a link that is
// up, running (has a carrier) and not a loopback. Only the reachable bit is ever set. A route given as a
// nexthop object (no output link of its own) is not followed.
//
// While scheduled, a thread of its own (asynchronous signals blocked) listens to link, address and route
// messages; a burst of them becomes one re-read on the queue. Each read dumps the links and routes on a
// socket of its own, so reads may run on any thread. Sockets belong to the network namespace of the thread
// that opens them: open() for the change messages, each read for itself.
class RtnetlinkReachabilitySource final : public ReachabilitySource {
 public:
  // Opens the socket that receives change messages; the errno when the kernel refuses it.
  static OpenedReachabilitySource open();
  // The flags of the routing table now: what readFlags() gives, without a source.
  static ReachabilityRead readSystemFlags();

  ~RtnetlinkReachabilitySource() override;
  RtnetlinkReachabilitySource(const RtnetlinkReachabilitySource&) = delete;
  RtnetlinkReachabilitySource& operator=(const RtnetlinkReachabilitySource&) = delete;

  std::string_view name() const override { return "rtnetlink"; }
  ReachabilityRead readFlags() override { return readSystemFlags(); }
  std::int32_t setCallback(Callback callback) override;
  std::int32_t schedule(std::shared_ptr<SerialQueue> queue) override;
  void unschedule() override;

 private:
  explicit RtnetlinkReachabilitySource(int monitorFd);
  void stopWatching();  // scheduling_

  const int monitorFd_;
  ReachabilityDelivery delivery_;
  std::mutex scheduling_;
  int wakeFd_ = -1;                        // scheduling_; wakes the watcher to end it
  std::unique_ptr<WorkerThread> watcher_;  // scheduling_
};

}  // namespace platform
