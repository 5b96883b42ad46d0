#include "platform/linux/RtnetlinkReachabilitySource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/delivery/Reachability.h"
#include "platform/NotificationCenter.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/WaitingExecutor.h"

// The kernel's own routing table, in a network namespace of the test's own: a child process unshares
// one (tests run as root) and changes its links and routes with `ip`.

namespace {

using dizizoz::DiziZozConnection;
using dizizoz::DiziZozReachabilityMonitoring;
using dizizoz::Reachability;

// The child's exit status when the kernel refuses what the test needs.
constexpr int kRefused = 77;
constexpr auto kChildDeadline = std::chrono::seconds(45);
constexpr auto kPassDeadline = std::chrono::seconds(10);

// What the child says, one line per failed check, on a pipe to the parent.
class ChildReport {
 public:
  explicit ChildReport(int fd) : fd_(fd) {}
  void say(const std::string& line) const {
    const std::string text = line + "\n";
    [[maybe_unused]] ssize_t written = ::write(fd_, text.data(), text.size());
  }
  void check(bool ok, const std::string& what) {
    if (!ok) {
      failed = true;
      say("failed: " + what);
    }
  }
  [[noreturn]] void refuse(const std::string& why) const {
    say(why);
    ::_exit(kRefused);
  }
  bool failed = false;

 private:
  int fd_;
};

// Runs `ip args...`; its exit status (its output goes to the test's output).
int ip(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"ip"};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> raw;
    for (auto& arg : argv) raw.push_back(arg.data());
    raw.push_back(nullptr);
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) ::execv(path, raw.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ChildResult {
  int status = -1;  // the exit status; -1 when killed or past the deadline
  std::string said;
};

// Runs `body` in a child process inside a new, empty network namespace.
ChildResult inPrivateNetwork(const std::function<void(ChildReport&)>& body) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {-1, "pipe2 failed"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    ChildReport report(fds[1]);
    if (::unshare(CLONE_NEWNET) != 0) {
      report.refuse(std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno));
    }
    body(report);
    ::_exit(report.failed ? 1 : 0);
  }
  ::close(fds[1]);
  ChildResult result;
  const auto deadline = std::chrono::steady_clock::now() + kChildDeadline;
  char buffer[512];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd readable{fds[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
      ::kill(child, SIGKILL);
      result.said += "(the child did not finish in time)\n";
      break;
    }
    const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    if (got <= 0) break;  // the child ended
    result.said.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(RtnetlinkReachability, FollowsDefaultRoutesOverUsableLinksInAPrivateNetwork) {
  const ChildResult result = inPrivateNetwork([](ChildReport& report) {
    // Only the loopback, even with a default route through it.
    report.check(ip({"link", "set", "lo", "up"}) == 0, "lo up");
    report.check(ip({"route", "add", "default", "dev", "lo", "metric", "100"}) == 0,
                 "default route through lo");

    auto opened = platform::RtnetlinkReachabilitySource::open();
    if (!opened.source) report.refuse("rtnetlink refused: " + std::string(std::strerror(opened.error)));
    auto notifications = std::make_shared<quorvelle::test::WaitingExecutor>();
    auto queue = std::make_shared<platform::ThreadSerialQueue>("rtnl-test");
    auto monitor =
        Reachability::create({.source = opened,
                              .serialQueue = queue,
                              .notificationQueue = notifications,
                              .notificationCenter = std::make_shared<platform::NotificationCenter>()})
            .monitor;
    std::vector<std::string> passes;
    auto reachable = monitor->onReachable().subscribe(
        [&](const DiziZozReachabilityMonitoring&) { passes.push_back("reachable"); });
    auto unreachable = monitor->onUnreachable().subscribe(
        [&](const DiziZozReachabilityMonitoring&) { passes.push_back("unreachable"); });
    const auto expectPass = [&](std::size_t count, const char* kind, const char* step) {
      const bool arrived = notifications->runUntil([&] { return passes.size() >= count; }, kPassDeadline);
      report.check(arrived && passes.size() == count && passes.back() == kind,
                   std::string(step) + ": expected pass " + std::to_string(count) + " to be " + kind);
    };

    report.check(monitor->startNotifier() == std::nullopt, "startNotifier");
    expectPass(1, "unreachable", "loopback only");
    report.check(monitor->connection() == DiziZozConnection::unavailable, "loopback only: unavailable");
    report.check(monitor->description() == "-- -------", "loopback only: " + monitor->description());

    if (ip({"link", "add", "v0", "type", "veth", "peer", "name", "v1"}) != 0) {
      report.refuse("the kernel refused a veth pair");
    }
    for (const auto& step :
         std::vector<std::vector<std::string>>{{"link", "set", "v1", "up"},
                                               {"link", "set", "v0", "up"},
                                               {"addr", "add", "10.0.0.2/24", "dev", "v0"},
                                               {"route", "add", "default", "via", "10.0.0.1"}}) {
      report.check(ip(step) == 0, "ip " + step[0] + " " + step[1]);
    }
    expectPass(2, "reachable", "IPv4 default route");
    report.check(monitor->connection() == DiziZozConnection::wifi, "IPv4 default route: wifi");
    report.check(monitor->description() == "-R -------", "IPv4 default route: " + monitor->description());

    report.check(ip({"route", "del", "default", "via", "10.0.0.1"}) == 0, "ip route del");
    expectPass(3, "unreachable", "IPv4 default route deleted");
    report.check(monitor->connection() == DiziZozConnection::unavailable, "route deleted: unavailable");

    report.check(ip({"-6", "route", "add", "default", "dev", "v0"}) == 0, "ip -6 route add");
    expectPass(4, "reachable", "IPv6 default route");

    // The peer going down takes v0's carrier: up but not running.
    report.check(ip({"link", "set", "v1", "down"}) == 0, "ip link set v1 down");
    expectPass(5, "unreachable", "link without carrier");

    // What the bursts brought until now settled without another pass: stop, let the queue finish its
    // reads, then run every pass they posted.
    monitor->stopNotifier();
    queue->sync([] {});
    bool drained = false;
    notifications->post([&] { drained = true; });
    notifications->runUntil([&] { return drained; }, kPassDeadline);
    report.check(passes.size() == 5, "one pass per change, got " + std::to_string(passes.size()));
  });

  if (result.status == kRefused) GTEST_SKIP() << "the kernel refused: " << result.said;
  EXPECT_EQ(result.status, 0) << result.said;
}

}  // namespace
