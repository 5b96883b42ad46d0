#include "platform/linux/RtnetlinkReachabilitySource.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Log.h"
#include "platform/linux/WorkerThread.h"

namespace platform {
namespace {

// Large enough for one datagram of any dump the kernel sends (it caps them at 32 KiB).
constexpr std::size_t kBufferSize = 64 * 1024;
// A routing table changing throughout a dump marks it interrupted; after this many tries the last
// result stands (the change that interrupted it brings another read anyway).
constexpr int kDumpAttempts = 3;
// The kernel answers dumps at once; this only bounds a read on a wedged socket.
constexpr time_t kReadTimeoutSeconds = 5;
// What wakes the change listener: every link, address and route change of both families.
constexpr std::uint32_t kChangeGroups =
    RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

constexpr std::size_t align4(std::size_t n) {
  return (n + 3) & ~std::size_t{3};
}

template <typename T>
T readValue(const char* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

// Calls `each(type, payload, length)` for every well-formed attribute in [data, data + length).
void forEachAttribute(const char* data, std::size_t length,
                      const std::function<void(unsigned type, const char* payload, std::size_t size)>& each) {
  while (length >= sizeof(rtattr)) {
    const auto header = readValue<rtattr>(data);
    if (header.rta_len < sizeof(rtattr) || header.rta_len > length) return;
    each(header.rta_type, data + align4(sizeof(rtattr)), header.rta_len - align4(sizeof(rtattr)));
    const std::size_t step = align4(header.rta_len);
    if (step >= length) return;
    data += step;
    length -= step;
  }
}

// A message of a dump: its header and what follows it.
struct Message {
  nlmsghdr header;
  const char* payload;
  std::size_t payloadSize;
};

// Sends one dump request of `type` for every family and hands each message of the answer to `each`.
// 0 or an errno; `interrupted` is set when the kernel says the table changed during the dump.
int dump(int fd, std::uint16_t type, std::uint32_t seq, const std::function<void(const Message&)>& each,
         bool& interrupted) {
  struct {
    nlmsghdr header;
    union {
      ifinfomsg link;
      rtmsg route;
    } body;
  } request{};
  request.header.nlmsg_len =
      NLMSG_LENGTH(type == RTM_GETLINK ? sizeof request.body.link : sizeof request.body.route);
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = seq;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  while (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                  sizeof kernel) < 0) {
    if (errno != EINTR) return errno;
  }

  std::vector<char> buffer(kBufferSize);
  for (;;) {
    sockaddr_nl from{};
    iovec io{buffer.data(), buffer.size()};
    msghdr envelope{};
    envelope.msg_name = &from;
    envelope.msg_namelen = sizeof from;
    envelope.msg_iov = &io;
    envelope.msg_iovlen = 1;
    const ssize_t got = ::recvmsg(fd, &envelope, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (envelope.msg_flags & MSG_TRUNC) return EMSGSIZE;
    if (from.nl_pid != 0) continue;  // only the kernel answers dumps

    const char* data = buffer.data();
    std::size_t left = static_cast<std::size_t>(got);
    while (left >= sizeof(nlmsghdr)) {
      const auto header = readValue<nlmsghdr>(data);
      if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > left) return EBADMSG;
      const Message message{header, data + NLMSG_HDRLEN, header.nlmsg_len - NLMSG_HDRLEN};
      const std::size_t step = std::min<std::size_t>(align4(header.nlmsg_len), left);
      data += step;
      left -= step;
      if (header.nlmsg_seq != seq) continue;
      if (header.nlmsg_flags & NLM_F_DUMP_INTR) interrupted = true;
      if (header.nlmsg_type == NLMSG_DONE) {
        // A dump that failed half-way ends with the negative errno in its DONE message.
        const int status = message.payloadSize >= sizeof(int) ? readValue<int>(message.payload) : 0;
        return status < 0 ? -status : 0;
      }
      if (header.nlmsg_type == NLMSG_ERROR) {
        if (message.payloadSize < sizeof(nlmsgerr)) return EBADMSG;
        const int status = readValue<nlmsgerr>(message.payload).error;
        if (status < 0) return -status;
        continue;
      }
      each(message);
    }
  }
}

// Links that can carry traffic out: up, running, not a loopback.
void collectUsableLink(const Message& message, std::unordered_set<int>& usable) {
  if (message.header.nlmsg_type != RTM_NEWLINK || message.payloadSize < sizeof(ifinfomsg)) return;
  const auto link = readValue<ifinfomsg>(message.payload);
  const unsigned flags = link.ifi_flags;
  if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK)) usable.insert(link.ifi_index);
}

// Whether the message is a default unicast route of the main table leaving through a usable link.
bool isUsableDefaultRoute(const Message& message, const std::unordered_set<int>& usable) {
  if (message.header.nlmsg_type != RTM_NEWROUTE || message.payloadSize < sizeof(rtmsg)) return false;
  const auto route = readValue<rtmsg>(message.payload);
  if (route.rtm_family != AF_INET && route.rtm_family != AF_INET6) return false;
  if (route.rtm_dst_len != 0 || route.rtm_type != RTN_UNICAST) return false;
  constexpr unsigned kDeadNexthop = RTNH_F_DEAD | RTNH_F_LINKDOWN;
  if (route.rtm_flags & kDeadNexthop) return false;

  std::uint32_t table = route.rtm_table;  // ids above 255 only come as RTA_TABLE
  bool leavesThroughUsableLink = false;
  forEachAttribute(message.payload + align4(sizeof(rtmsg)), message.payloadSize - align4(sizeof(rtmsg)),
                   [&](unsigned type, const char* payload, std::size_t size) {
                     if (type == RTA_TABLE && size >= sizeof(std::uint32_t)) {
                       table = readValue<std::uint32_t>(payload);
                     } else if (type == RTA_OIF && size >= sizeof(int)) {
                       if (usable.count(readValue<int>(payload))) leavesThroughUsableLink = true;
                     } else if (type == RTA_MULTIPATH) {
                       while (size >= sizeof(rtnexthop)) {
                         const auto hop = readValue<rtnexthop>(payload);
                         if (hop.rtnh_len < sizeof(rtnexthop) || hop.rtnh_len > size) break;
                         if (!(hop.rtnh_flags & kDeadNexthop) && usable.count(hop.rtnh_ifindex)) {
                           leavesThroughUsableLink = true;
                         }
                         const std::size_t step = std::min(align4(hop.rtnh_len), size);
                         payload += step;
                         size -= step;
                       }
                     }
                   });
  return table == RT_TABLE_MAIN && leavesThroughUsableLink;
}

ReachabilityRead failed(int error) {
  return ReachabilityRead{.flags = std::nullopt, .error = error};
}

}  // namespace

ReachabilityRead RtnetlinkReachabilitySource::readSystemFlags() {
  Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (fd.get() < 0) return failed(errno);
  const timeval timeout{kReadTimeoutSeconds, 0};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  std::uint32_t seq = 1;
  for (int attempt = 1;; ++attempt) {
    bool interrupted = false;
    std::unordered_set<int> usable;
    if (const int error = dump(
            fd.get(), RTM_GETLINK, seq++, [&](const Message& m) { collectUsableLink(m, usable); },
            interrupted)) {
      return failed(error);
    }
    bool reachable = false;
    if (const int error = dump(
            fd.get(), RTM_GETROUTE, seq++,
            [&](const Message& m) { reachable = reachable || isUsableDefaultRoute(m, usable); },
            interrupted)) {
      return failed(error);
    }
    if (!interrupted || attempt == kDumpAttempts) {
      return ReachabilityRead{.flags = reachable ? ReachabilityFlag::reachable : 0, .error = 0};
    }
  }
}

OpenedReachabilitySource RtnetlinkReachabilitySource::open() {
  Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
  if (fd.get() < 0) return {.source = nullptr, .error = errno};
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = kChangeGroups;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    return {.source = nullptr, .error = errno};
  }
  return {
      .source = std::shared_ptr<RtnetlinkReachabilitySource>(new RtnetlinkReachabilitySource(fd.release())),
      .error = 0};
}

RtnetlinkReachabilitySource::RtnetlinkReachabilitySource(int monitorFd)
    : monitorFd_(monitorFd), delivery_("rtnetlink", &RtnetlinkReachabilitySource::readSystemFlags) {}

RtnetlinkReachabilitySource::~RtnetlinkReachabilitySource() {
  unschedule();
  ::close(monitorFd_);
}

std::int32_t RtnetlinkReachabilitySource::setCallback(Callback callback) {
  delivery_.setCallback(std::move(callback));
  return 0;
}

std::int32_t RtnetlinkReachabilitySource::schedule(std::shared_ptr<SerialQueue> queue) {
  if (!queue) return EINVAL;
  std::lock_guard guard(scheduling_);
  delivery_.setQueue(std::move(queue));
  if (watcher_) return 0;

  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    const int error = errno;
    delivery_.setQueue(nullptr);
    return error;
  }
  wakeFd_ = wakeFd;
  watcher_ = std::make_unique<WorkerThread>("dz-rtnetlink", true);
  watcher_->schedule(WorkerThread::Duration{0}, WorkerThread::Duration{0}, CancelToken{},
                     [monitorFd = monitorFd_, wakeFd, &delivery = delivery_] {
                       std::vector<char> buffer(kBufferSize);
                       pollfd watched[2] = {{monitorFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
                       for (;;) {
                         if (::poll(watched, 2, -1) < 0) {
                           if (errno == EINTR) continue;
                           log(LogLevel::warning,
                               "rtnetlink: waiting for changes failed: " + std::string(std::strerror(errno)));
                           return;
                         }
                         if (watched[1].revents != 0) return;
                         // Read the whole burst that is waiting, then ask for one re-read.
                         bool changed = false;
                         for (;;) {
                           const ssize_t got = ::recv(monitorFd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                           if (got > 0 || (got < 0 && errno == EINTR)) {
                             changed = changed || got > 0;
                             continue;
                           }
                           // An overrun lost messages: the state is unknown, so read it.
                           if (got < 0 && errno == ENOBUFS) {
                             changed = true;
                             continue;
                           }
                           if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                             log(LogLevel::warning,
                                 "rtnetlink: receiving changes failed: " + std::string(std::strerror(errno)));
                             return;
                           }
                           break;
                         }
                         if (changed) delivery.changed();
                       }
                     });
  return 0;
}

void RtnetlinkReachabilitySource::unschedule() {
  std::lock_guard guard(scheduling_);
  stopWatching();
  delivery_.setQueue(nullptr);
}

void RtnetlinkReachabilitySource::stopWatching() {
  if (!watcher_) return;
  const std::uint64_t one = 1;
  while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
  watcher_.reset();  // joins the listener, which has returned on the wake-up
  ::close(wakeFd_);
  wakeFd_ = -1;
}

}  // namespace platform
