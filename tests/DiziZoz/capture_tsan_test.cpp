#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozEvent;
using dizizoz::Properties;

// Eight threads capture into one client while a ninth changes the screen, the session (which reads the
// time zone again), the super properties and the groups (which the client keeps in memory): under
// ThreadSanitizer any unguarded access is reported, and in every build each event is queued exactly once,
// with an id of its own, and passed once to the captured-event subscribers.
TEST(CaptureStress, EightThreadsIntoOneClient) {
  dizizoz::test::registerFakeIntegrations();
  dizizoz::test::TestServices ts;
  auto options = std::make_shared<dizizoz::DiziZozConfig>("phc_capture_stress");
  options->disableFlushOnBackgroundForTesting = true;
  auto client = ts.client(options);
  client->setup(options);
  ts.lastRemoteConfig()->setFlags({{"beta", true}});

  std::mutex capturedLock;
  std::vector<std::string> captured;
  auto token = client->onEventCaptured.subscribe([&](const DiziZozEvent& e) {
    std::lock_guard lock(capturedLock);
    captured.push_back(e.uuid.toString());
  });

  constexpr int threads = 8;
  constexpr int perThread = 200;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < perThread; ++i) {
        client->capture("stress",
                        {.properties = Properties{{"thread", t}, {"i", i}},
                         .userProperties = i % 10 == 0 ? std::optional(Properties{{"t", t}}) : std::nullopt});
      }
    });
  }
  std::thread changer([&] {
    for (int i = 0; i < 50; ++i) {
      client->screen("Screen" + std::to_string(i % 3));
      if (i % 10 == 0) client->startSession();
      client->registerProperties(Properties{{"round", i}});
      if (i % 10 == 5) client->group("company", "c" + std::to_string(i));
    }
  });
  for (auto& worker : workers) worker.join();
  changer.join();

  std::map<std::pair<int, int>, int> seen;
  std::set<std::string> ids;
  int stress = 0;
  for (const auto& e : ts.lastEventQueue()->records()) {
    ids.insert(e.uuid.toString());
    if (e.event != "stress") continue;
    ++stress;
    ++seen[{e.properties["thread"].get<int>(), e.properties["i"].get<int>()}];
    EXPECT_EQ(e.properties["$feature/beta"], true);
    EXPECT_TRUE(e.properties.contains("$session_id"));
    if (e.properties.contains("round")) {
      EXPECT_TRUE(e.properties["round"].is_number_integer());
    }
  }
  EXPECT_EQ(stress, threads * perThread);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * perThread)) << "every event queued once";
  EXPECT_EQ(ids.size(), ts.lastEventQueue()->records().size()) << "every event has its own id";
  std::lock_guard lock(capturedLock);
  EXPECT_EQ(captured.size(), ts.lastEventQueue()->records().size());
}

}  // namespace
