#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Task.h"
#include "platform/fake/ManualExecutor.h"

using namespace std::chrono_literals;
using platform::Task;
using platform::fake::ManualExecutor;

namespace {

// A search field that waits 0.35 s after the last keystroke.
struct SearchField : std::enable_shared_from_this<SearchField> {
  explicit SearchField(ManualExecutor& e) : executor(e) {}
  void type(const std::string& text) {
    pending.cancel();
    pending = Task(executor);
    pending.sleep(350ms, platform::weakly(weak_from_this(), [text](SearchField& f) {
                    f.searches.push_back(text + "@" + std::to_string(f.executor.now() / 1ms));
                  }));
  }
  ManualExecutor& executor;
  Task pending;
  std::vector<std::string> searches;
};

// Two requests in flight; the answers arrive later through these callbacks.
struct FakeRequests {
  std::vector<std::function<void(std::unique_ptr<std::string>)>> pending;
  void get(std::function<void(std::unique_ptr<std::string>)> done) { pending.push_back(std::move(done)); }
};

}  // namespace

TEST(Task, DebounceSleepIsCancelledByEachNewKeystroke) {
  ManualExecutor executor;
  auto field = std::make_shared<SearchField>(executor);
  field->type("h");
  executor.advance(100ms);
  field->type("he");
  executor.advance(349ms);
  field->type("hel");
  EXPECT_EQ(executor.pendingCount(), 1u) << "cancelling a task drops its sleeping timer";
  executor.advance(349ms);
  EXPECT_TRUE(field->searches.empty());
  executor.advance(1ms);
  EXPECT_EQ(field->searches, std::vector<std::string>{"hel@799"});
}

TEST(Task, SleepDoesNothingWhenItsOwnerIsGone) {
  ManualExecutor executor;
  auto field = std::make_shared<SearchField>(executor);
  field->type("x");
  std::weak_ptr<SearchField> weak = field;
  field.reset();  // the window closed while the debounce was sleeping
  EXPECT_TRUE(weak.expired());
  executor.advance(1s);  // must neither run nor touch freed memory
  EXPECT_EQ(executor.pendingCount(), 0u);

  // A plain delayed step outlives every handle of its task.
  bool pasted = false;
  Task(executor).sleep(150ms, [&] { pasted = true; });
  executor.advance(149ms);
  EXPECT_FALSE(pasted);
  executor.advance(1ms);
  EXPECT_TRUE(pasted);
}

TEST(Task, LoadWritesResultsOnlyAfterBothAnswersAndNeverAfterCancel) {
  for (bool cancelBetweenAnswers : {false, true}) {
    SCOPED_TRACE(cancelBetweenAnswers ? "cancelled between answers" : "not cancelled");
    ManualExecutor executor;
    FakeRequests http;
    Task load(executor);
    struct Results {
      std::string translation, dictionary;
    };
    auto results = std::make_shared<Results>();
    std::vector<std::string> shown;
    auto done =
        load.join(2, [&, results] { shown.push_back(results->translation + "+" + results->dictionary); });
    http.get(load.resume([results, done](std::unique_ptr<std::string> r) {
      results->translation = *r;
      done();
    }));
    http.get(load.resume([results, done](std::unique_ptr<std::string> r) {
      results->dictionary = *r;
      done();
    }));

    // Answers come from a network thread; the steps run on the main executor.
    std::thread([&] { http.pending[1](std::make_unique<std::string>("dict")); }).join();
    executor.runUntilIdle();
    EXPECT_TRUE(shown.empty());
    if (cancelBetweenAnswers) load.cancel();
    http.pending[0](std::make_unique<std::string>("tr"));
    executor.runUntilIdle();
    EXPECT_EQ(shown, cancelBetweenAnswers ? std::vector<std::string>{} : std::vector<std::string>{"tr+dict"});
    EXPECT_EQ(results->translation.empty(), cancelBetweenAnswers);
  }
}

TEST(Task, CancelAfterAnAnswerArrivedButBeforeItsStepRuns) {
  ManualExecutor executor;
  Task task(executor);
  bool ran = false;
  auto callback = task.resume([&](int) { ran = true; });
  callback(1);  // queued on the executor
  task.cancel();
  executor.runUntilIdle();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(task.token().isCancelled());

  Task none;  // an owner's empty slot
  none.cancel();
  none.post([&] { ran = true; });
  none.sleep(1ms, [&] { ran = true; });
  executor.advance(1s);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(none.isCancelled());
}

TEST(Task, CancelHandlersRunOnceWhenCancelledAndAtOnceWhenAlreadyCancelled) {
  ManualExecutor executor;
  Task task(executor);
  int first = 0;
  int second = 0;
  task.onCancel([&] { ++first; });
  task.onCancel([&] { ++second; });
  task.token().cancel();  // the token alone stops steps but tells nobody
  EXPECT_EQ(first + second, 0);
  task.cancel();
  task.cancel();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);

  int late = 0;
  task.onCancel([&] { ++late; });
  Task().onCancel([&] { ++late; });
  EXPECT_EQ(late, 2);
}

// Registration and cancellation race: every handler runs exactly once, whichever comes first.
TEST(Task, CancelHandlersRegisteredWhileAnotherThreadCancelsRunExactlyOnce) {
  ManualExecutor executor;
  for (int round = 0; round < 200; ++round) {
    Task task(executor);
    std::atomic<int> runs{0};
    std::thread canceller([&] { task.cancel(); });
    for (int i = 0; i < 20; ++i) task.onCancel([&] { runs.fetch_add(1); });
    canceller.join();
    EXPECT_EQ(runs.load(), 20);
  }
}
