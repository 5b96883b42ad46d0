#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "platform/Clock.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::Properties;

// Identify, capture, reset and flush run on one client from several threads while another thread closes
// it part-way: under ThreadSanitizer any unguarded access is reported, and in every build no call crashes
// on a part that close() took away, every queued event has an id of its own and a distinct id, and the
// client ends disabled.
TEST(ClientLifecycleStress, IdentifyCaptureResetFlushAndCloseFromSeveralThreads) {
  dizizoz::test::registerFakeIntegrations();
  dizizoz::test::TestServices ts;
  auto options = std::make_shared<dizizoz::DiziZozConfig>("phc_lifecycle_stress");
  options->disableFlushOnBackgroundForTesting = true;
  auto client = ts.client(options);
  client->setup(options);
  auto queue = ts.lastEventQueue();

  constexpr int threads = 6;
  constexpr int rounds = 150;
  std::atomic<int> started{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      ++started;
      for (int i = 0; i < rounds; ++i) {
        switch ((t + i) % 5) {
          case 0:
            client->identify("user-" + std::to_string(t), Properties{{"round", i}});
            break;
          case 1:
            client->capture("stress", {.properties = Properties{{"thread", t}}});
            break;
          case 2:
            if (i % 10 == 2) client->reset();
            break;
          case 3:
            client->flush();
            break;
          default:
            client->setPersonProperties(Properties{{"t", t}});
            client->registerProperties(Properties{{"i", i}});
            break;
        }
      }
    });
  }
  std::thread closer([&] {
    while (started < threads) std::this_thread::yield();
    for (int i = 0; i < 200; ++i) client->capture("before-close");
    client->close();
  });
  for (auto& worker : workers) worker.join();
  closer.join();

  EXPECT_FALSE(client->isEnabled());
  EXPECT_EQ(queue->stops(), 1);
  std::set<std::string> ids;
  for (const auto& e : queue->records()) {
    ids.insert(e.uuid.toString());
    EXPECT_FALSE(e.distinctId.empty()) << e.event;
  }
  EXPECT_EQ(ids.size(), queue->records().size());
}

// Reads the test's clock, and at the one reading it is told of first closes a client: a close() of
// another thread landing at that very moment.
class ClosingClock final : public platform::Clock {
 public:
  explicit ClosingClock(const platform::Clock& time) : time_(time) {}
  void closeAtNextReading(std::shared_ptr<dizizoz::DiziZozSDK> client) {
    std::lock_guard lock(lock_);
    client_ = std::move(client);
  }
  std::chrono::system_clock::time_point now() const override {
    std::shared_ptr<dizizoz::DiziZozSDK> client;
    {
      std::lock_guard lock(lock_);
      client = std::exchange(client_, nullptr);
    }
    if (client) client->close();
    return time_.now();
  }
  std::chrono::steady_clock::time_point monotonicNow() const override { return time_.monotonicNow(); }

 private:
  const platform::Clock& time_;
  mutable std::mutex lock_;
  mutable std::shared_ptr<dizizoz::DiziZozSDK> client_;  // lock_
};

// A capture that passed the set-up check takes the event's time and then its distinct id: a close() in
// between leaves no identity, and the event would outlive the client in the queue with nobody to belong
// to. The clock closes the client exactly there.
TEST(ClientLifecycleStress, AnEventACloseMeetsHalfWayIsDropped) {
  dizizoz::test::TestServices ts;
  ClosingClock clock(ts.clock);
  auto services = ts.services();
  services.clock = std::shared_ptr<const platform::Clock>(std::shared_ptr<void>(), &clock);
  auto options = std::make_shared<dizizoz::DiziZozConfig>("phc_close_half_way");
  options->disableFlushOnBackgroundForTesting = true;
  auto client = dizizoz::DiziZozSDK::create(options, services);
  client->setup(options);
  client->capture("before");
  auto queue = ts.lastEventQueue();
  ASSERT_EQ(queue->records().size(), 1u);

  clock.closeAtNextReading(client);
  client->capture("met by the close");
  EXPECT_FALSE(client->isEnabled());
  ASSERT_EQ(queue->records().size(), 1u)
      << queue->records().back().event << " for \"" << queue->records().back().distinctId << "\"";
  ts.executor.runUntilIdle();
}

}  // namespace
