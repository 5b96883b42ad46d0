#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
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

}  // namespace
