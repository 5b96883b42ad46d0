#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/linux/desktop/QtMainExecutor.h"
#include "tests/support/Eventually.h"

using namespace std::chrono_literals;

TEST(QtMainExecutor, JobsPostedFromAnotherThreadRunOnTheMainThreadInOrder) {
  platform::QtMainExecutor executor;
  EXPECT_TRUE(executor.isMainThread());
  std::vector<int> order;
  std::atomic<bool> allOnMain{true};
  std::atomic<bool> workerIsMain{true};
  std::thread worker([&] {
    workerIsMain = executor.isMainThread();
    for (int i = 0; i < 100; ++i) {
      executor.post([&, i] {
        allOnMain = allOnMain && QThread::currentThread() == QCoreApplication::instance()->thread();
        order.push_back(i);
      });
    }
  });
  worker.join();
  EXPECT_FALSE(workerIsMain);
  EXPECT_TRUE(order.empty()) << "posting never runs the job inline";
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return order.size() == 100; }, "order.size() == 100"));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_TRUE(allOnMain);
}

TEST(QtMainExecutor, DelayedAndRepeatingJobsHonourCancellation) {
  platform::QtMainExecutor executor;
  std::vector<std::string> ran;
  auto cancelled = executor.postAfter(1ms, [&] { ran.push_back("cancelled"); });
  cancelled.cancel();
  platform::CancelToken fromThread;
  std::thread([&] { fromThread = executor.postAfter(5ms, [&] { ran.push_back("delayed"); }); }).join();

  int ticks = 0;
  platform::CancelToken repeating;
  repeating = executor.scheduleRepeating(2ms, [&] {
    if (++ticks == 3) repeating.cancel();
  });
  ASSERT_TRUE(
      quorvelle::test::waitUntil([&] { return ticks == 3 && !ran.empty(); }, "ticks == 3 && !ran.empty()"));
  // A job due well after a fourth tick or the cancelled job would have been: once it has run, so would they.
  bool later = false;
  executor.postAfter(20ms, [&] { later = true; });
  ASSERT_TRUE(quorvelle::test::waitUntil([&] { return later; }, "a later job ran"));
  EXPECT_EQ(ran, std::vector<std::string>{"delayed"});
  EXPECT_EQ(ticks, 3);
}
