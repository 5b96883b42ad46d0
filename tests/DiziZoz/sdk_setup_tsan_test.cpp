#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace {

using dizizoz::DiziZozConfig;

// Two clients of one project set up at the same moment from two threads: the process's token registry,
// the integration guards and the shared publishers are touched from both. Under ThreadSanitizer any
// unguarded access is reported; in every build exactly one of the two warns about the shared token.
TEST(SdkSetupStress, TwoClientsWithOneTokenFromTwoThreads) {
  dizizoz::test::registerFakeIntegrations();
  std::mutex linesLock;
  std::vector<std::string> lines;
  const auto previousSink = dizizoz::setHedgeLogSink([&](std::string_view line) {
    std::lock_guard lock(linesLock);
    lines.emplace_back(line);
  });

  constexpr int rounds = 20;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    dizizoz::test::TestServices ts;
    const std::string token = "phc_race_" + std::to_string(round);
    std::vector<std::shared_ptr<dizizoz::DiziZozSDK>> clients;
    std::vector<std::shared_ptr<DiziZozConfig>> configs;
    for (int i = 0; i < 2; ++i) {
      configs.push_back(std::make_shared<DiziZozConfig>(token));
      configs.back()->debug = true;
      clients.push_back(ts.client(configs.back()));
    }
    {
      std::lock_guard lock(linesLock);
      lines.clear();
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) threads.emplace_back([&, i] { clients[i]->setup(configs[i]); });
    for (auto& thread : threads) thread.join();
    ts.executor.runUntilIdle();

    EXPECT_TRUE(clients[0]->isEnabled());
    EXPECT_TRUE(clients[1]->isEnabled());
    std::vector<std::string> seen;
    {
      std::lock_guard lock(linesLock);
      seen = lines;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(),
                         "[DiziZoz] Project token: " + token + " already has a DiziZoz instance."),
              1);
    // One client holds each integration; the other was skipped.
    EXPECT_EQ(clients[0]->installedIntegrations().size() + clients[1]->installedIntegrations().size(), 3u);
  }
  dizizoz::setHedgeLogSink(previousSink);
}

}  // namespace
