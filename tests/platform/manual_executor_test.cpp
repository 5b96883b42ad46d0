#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualExecutor.h"

using namespace std::chrono_literals;
using platform::fake::ManualExecutor;

namespace {

struct Recorder {
  ManualExecutor& executor;
  std::vector<std::string> events;
  platform::Job note(std::string name) {
    return [this, name] { events.push_back(name + "@" + std::to_string(executor.now() / 1ms)); };
  }
};

}  // namespace

TEST(ManualExecutor, RunsDueJobsByDeadlineThenInPostingOrderAtTheirOwnTime) {
  ManualExecutor executor;
  Recorder r{executor, {}};
  executor.postAfter(30ms, r.note("c"));
  executor.postAfter(10ms, r.note("a1"));
  executor.post(r.note("now"));
  executor.postAfter(10ms, r.note("a2"));
  executor.postAfter(20ms, r.note("b"));

  EXPECT_TRUE(r.events.empty()) << "nothing runs before the test drives the executor";
  executor.advance(25ms);
  EXPECT_EQ(r.events, (std::vector<std::string>{"now@0", "a1@10", "a2@10", "b@20"}));
  EXPECT_EQ(executor.now(), 25ms);
  EXPECT_EQ(executor.pendingCount(), 1u);

  executor.advance(5ms);
  EXPECT_EQ(r.events.back(), "c@30");
}

TEST(ManualExecutor, JobsPostedWhileRunningWaitForTheNextTurn) {
  ManualExecutor executor;
  Recorder r{executor, {}};
  executor.post([&] {
    r.events.push_back("first");
    executor.post(r.note("posted-inside"));
    executor.postAfter(5ms, r.note("timer-inside"));
  });
  executor.post(r.note("second"));

  EXPECT_EQ(executor.runOnce(), 2u);
  EXPECT_EQ(r.events, (std::vector<std::string>{"first", "second@0"}));
  EXPECT_EQ(executor.pendingCount(), 2u);

  executor.runUntilIdle();  // runs what is due now, not the timer
  EXPECT_EQ(r.events.back(), "posted-inside@0");
  EXPECT_EQ(executor.pendingCount(), 1u);
  executor.advance(5ms);
  EXPECT_EQ(r.events.back(), "timer-inside@5");
}

TEST(ManualExecutor, CancelledJobsNeverRun) {
  ManualExecutor executor;
  std::vector<std::string> ran;
  auto early = executor.postAfter(10ms, [&] { ran.push_back("early"); });
  auto late = executor.postAfter(20ms, [&] { ran.push_back("late"); });
  executor.postAfter(15ms, [&] {
    ran.push_back("middle");
    late.cancel();  // from inside a job, before the other one is due
  });
  early.cancel();
  EXPECT_EQ(executor.pendingCount(), 2u);
  executor.advance(1s);
  EXPECT_EQ(ran, std::vector<std::string>{"middle"});
  EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST(ManualExecutor, RepeatingJobFiresEachIntervalUntilCancelledFromInside) {
  ManualExecutor executor;
  std::vector<long> ticks;
  platform::CancelToken token;
  token = executor.scheduleRepeating(100ms, [&] {
    ticks.push_back(executor.now() / 1ms);
    if (ticks.size() == 3) token.cancel();
  });
  executor.advance(250ms);
  EXPECT_EQ(ticks, (std::vector<long>{100, 200}));
  executor.advance(10s);
  EXPECT_EQ(ticks, (std::vector<long>{100, 200, 300}));
  EXPECT_EQ(executor.pendingCount(), 0u);

  auto outside = executor.scheduleRepeating(1s, [&] { ticks.push_back(-1); });
  outside.cancel();
  executor.advance(5s);
  EXPECT_EQ(ticks.size(), 3u);
}

TEST(ManualExecutor, MainThreadIsTheCreatorAndAnAttachedClockFollowsVirtualTime) {
  platform::fake::ManualClock clock;
  const auto wallStart = clock.now();
  ManualExecutor executor(clock);
  bool otherThreadIsMain = true;
  std::thread([&] {
    otherThreadIsMain = executor.isMainThread();
    executor.post([] {});  // posting from another thread is allowed
  }).join();
  EXPECT_TRUE(executor.isMainThread());
  EXPECT_FALSE(otherThreadIsMain);

  std::chrono::system_clock::time_point seen;
  executor.postAfter(2s, [&] { seen = clock.now(); });
  executor.advance(3s);
  EXPECT_EQ(seen - wallStart, 2s);
  EXPECT_EQ(clock.now() - wallStart, 3s);
  EXPECT_EQ(clock.monotonicNow().time_since_epoch(), 3s);
}
