#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ThreadCaptureSignal.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/linux/ThreadMainExecutor.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/Eventually.h"
#include "tests/support/ThreadNames.h"

using namespace std::chrono_literals;

TEST(ThreadSerialQueue, RunsJobsInOrderOneAtATimeOnItsOwnThread) {
  platform::ThreadSerialQueue queue("test-queue");
  std::vector<int> order;
  std::atomic<int> running{0};
  bool overlapped = false, allOnQueue = true;
  for (int i = 0; i < 500; ++i) {
    queue.async([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      allOnQueue = allOnQueue && queue.isCurrent();
      order.push_back(i);
      running.fetch_sub(1);
    });
  }
  queue.sync([] {});  // everything queued before has finished
  EXPECT_FALSE(queue.isCurrent());
  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_FALSE(overlapped);
  EXPECT_TRUE(allOnQueue);
}

TEST(ThreadSerialQueue, SyncFromInsideItsOwnJobRunsAtOnce) {
  platform::ThreadSerialQueue queue("test-queue");
  std::vector<std::string> steps;
  queue.sync([&] {
    steps.push_back("outer");
    queue.sync([&] { steps.push_back("inner"); });  // would deadlock if it waited for the queue
    steps.push_back("after");
  });
  EXPECT_EQ(steps, (std::vector<std::string>{"outer", "inner", "after"}));
}

TEST(ThreadSerialQueue, DelayedJobsRunAfterLaterImmediateOnesAndCanBeCancelled) {
  std::vector<std::string> order;
  std::promise<void> delayedRan;
  {
    platform::ThreadSerialQueue queue("test-queue");
    auto cancelled = queue.asyncAfter(1ms, [&] { order.push_back("cancelled"); });
    cancelled.cancel();
    queue.asyncAfter(20ms, [&] {
      order.push_back("delayed");
      delayedRan.set_value();
    });
    queue.async([&] { order.push_back("now"); });
    queue.asyncAfter(1h, [&] { order.push_back("never"); });  // dropped when the queue goes
    ASSERT_EQ(delayedRan.get_future().wait_for(10s), std::future_status::ready);
    queue.sync([] {});
  }
  EXPECT_EQ(order, (std::vector<std::string>{"now", "delayed"}));
}

TEST(ThreadSerialQueue, BlocksAsynchronousSignalsButNotFaultSignals) {
  platform::ThreadSerialQueue queue("test-queue");
  sigset_t mask;
  sigemptyset(&mask);
  queue.sync([&] { pthread_sigmask(SIG_BLOCK, nullptr, &mask); });
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGPIPE, SIGALRM}) {
    EXPECT_TRUE(sigismember(&mask, sig)) << "signal " << sig;
  }
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, platform::threadCaptureSignal()}) {
    EXPECT_FALSE(sigismember(&mask, sig)) << "signal " << sig;
  }
}

// A job's captures may post to the same thread when they go (the last reference to an object whose
// destructor hands work to its queue). They must be released without the thread's own lock held, both
// after the job ran and when it was cancelled before running; otherwise the worker deadlocks on itself.
TEST(ThreadSerialQueue, CapturesThatPostWhenReleasedDoNotDeadlockTheQueue) {
  struct PostsWhenReleased {
    platform::ThreadSerialQueue* queue;
    std::promise<void>* released;
    ~PostsWhenReleased() {
      queue->async([p = released] { p->set_value(); });
    }
  };
  // Leaked on failure: a deadlocked worker cannot be joined.
  auto* queue = new platform::ThreadSerialQueue("test-queue");
  std::promise<void> afterRun, afterCancel;
  queue->async([guard = std::make_shared<PostsWhenReleased>(queue, &afterRun)] {});
  auto token = queue->asyncAfter(1ms, [guard = std::make_shared<PostsWhenReleased>(queue, &afterCancel)] {});
  token.cancel();
  const bool ran = afterRun.get_future().wait_for(10s) == std::future_status::ready;
  const bool cancelled = afterCancel.get_future().wait_for(10s) == std::future_status::ready;
  EXPECT_TRUE(ran) << "released after running";
  EXPECT_TRUE(cancelled) << "released after cancelling";
  if (ran && cancelled) delete queue;
}

// The owner of a queue may lose its last reference inside one of the queue's own jobs. Waiting there for
// the queue's thread to end would wait for that very job (the worker would join itself and abort): the
// job instead finishes, the jobs behind it are dropped, and the thread goes.
TEST(ThreadSerialQueue, DestroyedByItsOwnJobTheJobFinishesTheRestIsDroppedAndTheThreadEnds) {
  const std::string name = "self-ending";
  auto queue = std::make_shared<platform::ThreadSerialQueue>(name);
  std::promise<void> release;
  std::promise<bool> finished;
  std::promise<void> behind;
  auto behindRan = behind.get_future();
  auto holder = std::make_shared<std::shared_ptr<platform::ThreadSerialQueue>>(queue);
  queue->async([holder, gate = release.get_future().share(), &finished] {
    gate.wait();
    holder->reset();  // the last reference: the queue is destroyed here, on its own thread
    finished.set_value(true);
  });
  queue->async([done = std::make_shared<std::promise<void>>(std::move(behind))] { done->set_value(); });
  queue.reset();
  release.set_value();

  auto ran = finished.get_future();
  ASSERT_EQ(ran.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(ran.get());
  // Dropped, not run: its promise is broken.
  EXPECT_THROW(behindRan.get(), std::future_error);
  EXPECT_TRUE(quorvelle::test::waitUntil([&] { return quorvelle::test::threadNames(name).empty(); },
                                         "the queue's thread ended"));
}

TEST(ThreadMainExecutor, RunsPostedAndRepeatingJobsOnItsThread) {
  platform::ThreadMainExecutor executor;
  EXPECT_FALSE(executor.isMainThread());
  std::promise<bool> onMain;
  executor.post([&] { onMain.set_value(executor.isMainThread()); });
  EXPECT_TRUE(onMain.get_future().get());

  std::atomic<int> ticks{0};
  std::promise<void> stopped;
  std::promise<platform::CancelToken> tokenReady;  // the job may run before scheduleRepeating returns
  auto tokenFuture = tokenReady.get_future().share();
  tokenReady.set_value(executor.scheduleRepeating(1ms, [&, tokenFuture] {
    if (++ticks == 3) {
      tokenFuture.get().cancel();  // from inside: no fourth tick
      stopped.set_value();
    }
  }));
  ASSERT_EQ(stopped.get_future().wait_for(10s), std::future_status::ready);
  std::promise<void> drained;
  executor.postAfter(20ms, [&] { drained.set_value(); });
  drained.get_future().wait();
  EXPECT_EQ(ticks.load(), 3);
}

// A program whose analytics are off still names the standalone executor in the client's default
// services: its thread must not start until a job needs it.
TEST(ThreadMainExecutor, TheStandaloneExecutorStartsItsThreadWithItsFirstJob) {
  platform::MainExecutor& executor = platform::standaloneMainExecutor();
  EXPECT_TRUE(quorvelle::test::threadNames("standalone-main").empty());
  EXPECT_FALSE(executor.isMainThread());
  std::promise<bool> ran;
  executor.post([&] { ran.set_value(executor.isMainThread()); });
  EXPECT_TRUE(ran.get_future().get()) << "the job runs on the executor's own thread";
  EXPECT_EQ(quorvelle::test::threadNames("standalone-main").size(), 1u);
  EXPECT_FALSE(executor.isMainThread());
}

TEST(ManualSerialQueue, RunsOnlyWhenDrainedAndSyncKeepsOrder) {
  platform::fake::ManualSerialQueue queue;
  std::vector<std::string> order;
  queue.async([&] {
    order.push_back("a");
    EXPECT_TRUE(queue.isCurrent());
    queue.sync([&] { order.push_back("inside-sync"); });
  });
  queue.asyncAfter(50ms, [&] { order.push_back("later"); });
  EXPECT_TRUE(order.empty());
  queue.sync([&] { order.push_back("sync"); });  // runs the earlier job first
  EXPECT_EQ(order, (std::vector<std::string>{"a", "inside-sync", "sync"}));
  queue.advance(49ms);
  EXPECT_EQ(order.size(), 3u);
  queue.advance(1ms);
  EXPECT_EQ(order.back(), "later");
  EXPECT_FALSE(queue.isCurrent());
}

TEST(InlineSerialQueue, JobsQueuedFromAJobRunAfterItInsteadOfNesting) {
  platform::fake::InlineSerialQueue queue;
  std::vector<std::string> order;
  queue.async([&] {
    queue.async([&] { order.push_back("second"); });
    queue.sync([&] { order.push_back("sync-inside"); });
    order.push_back("first-end");
  });
  EXPECT_EQ(order, (std::vector<std::string>{"sync-inside", "first-end", "second"}));
  EXPECT_FALSE(queue.isCurrent());
}
