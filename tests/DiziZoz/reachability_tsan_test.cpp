#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "DiziZoz/delivery/Reachability.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/SettableReachabilitySource.h"
#include "platform/linux/ThreadSerialQueue.h"

namespace {

using dizizoz::DiziZozConnection;
using dizizoz::DiziZozReachabilityMonitoring;
using dizizoz::Reachability;
using platform::ReachabilityFlag;

// The source reports from the test's thread onto the monitor's queue, passes run on a second queue, and
// readers ask for the connection kind from threads of their own, while the notifier stops and starts
// again. Under ThreadSanitizer any unguarded access is reported; in every build each pass sees a kind
// that the flags could give, and the last pass matches the last flags.
TEST(ReachabilityStress, ReadsFromManyThreadsWhileTheFlagsChange) {
  auto source = std::make_shared<platform::fake::SettableReachabilitySource>(ReachabilityFlag::reachable);
  auto serial = std::make_shared<platform::ThreadSerialQueue>("reach-serial");
  auto passesQueue = std::make_shared<platform::ThreadSerialQueue>("reach-passes");
  const platform::OpenedReachabilitySource opened{.source = source, .error = 0};
  auto monitor =
      Reachability::create({.source = opened,
                            .serialQueue = serial,
                            .notificationQueue = passesQueue,
                            .notificationCenter = std::make_shared<platform::NotificationCenter>()})
          .monitor;
  std::atomic<int> passes{0};
  std::atomic<bool> lastReachable{false};
  auto reachable = monitor->onReachable().subscribe([&](const DiziZozReachabilityMonitoring&) {
    ++passes;
    lastReachable = true;
  });
  auto unreachable = monitor->onUnreachable().subscribe([&](const DiziZozReachabilityMonitoring&) {
    ++passes;
    lastReachable = false;
  });

  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        const auto kind = monitor->connection();
        EXPECT_NE(kind, DiziZozConnection::cellular);
      }
    });
  }
  ASSERT_EQ(monitor->startNotifier(), std::nullopt);
  for (int i = 0; i < 500; ++i) {
    source->set(i % 2 ? ReachabilityFlag::reachable : 0);
    if (i % 100 == 50) {
      monitor->stopNotifier();
      ASSERT_EQ(monitor->startNotifier(), std::nullopt);
    }
  }
  source->set(0);
  done = true;
  for (auto& reader : readers) reader.join();

  serial->sync([] {});
  passesQueue->sync([] {});
  EXPECT_GT(passes.load(), 0);
  EXPECT_EQ(monitor->connection(), DiziZozConnection::unavailable);
  EXPECT_FALSE(lastReachable.load());
}

}  // namespace
