#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/MainExecutor.h"

namespace platform {

// Main-actor tasks.
//
// The program has one mechanism for work that runs "on the main actor" and waits in between: callbacks
// on the MainExecutor, held together by a Task. (Not C++20 coroutines: continuations stay plain
// std::function jobs that any executor, test fake or service completion can carry, and a cancelled task
// leaves no suspended frame whose lifetime someone must manage.)
//
// A Task is a cheap, copyable handle on shared state: the executor and a CancelToken. Every point where
// the task waits ("await") is a callback that the task wraps:
//   - resume(fn)   wraps a completion handler: calling it from any thread hops to the main executor and
//                  runs fn with the arguments, unless the task was cancelled by then;
//   - sleep(d, fn) runs fn after d unless the task is cancelled first (cancelling drops the timer);
//   - post(fn)     runs fn in a later turn of the main executor unless cancelled;
//   - join(n, fn)  returns an "arrive" callable; the n-th call runs fn unless cancelled: the way to
//                  await several operations started in parallel.
//   - onCancel(fn) runs fn when the task is cancelled: the way for something the task waits on (a
//                  stream it reads) to learn that nobody waits any more.
// So the check "am I cancelled?" happens after every await without the task body writing it. Hand
// token() to services that can stop work early (an HTTP request). Cancelling is thread-safe and
// idempotent. Dropping the last handle does NOT cancel: a fire-and-forget task runs to its end.
//
// Owners are held weakly: wrap a step in weakly(std::weak_ptr<T>, fn) and fn(T&, args...) runs only if
// the owner is still alive when the step runs.
//
// Usage, on the main thread:
//
//   // Debounce: each keystroke replaces the pending search.
//   searchTask_.cancel();
//   searchTask_ = platform::Task(executor);
//   searchTask_.sleep(350ms, platform::weakly(weak_from_this(), [](Controller& c) { c.search(); }));
//
//   // Two requests in parallel, results written only if nobody cancelled the load meanwhile.
//   loadTask_.cancel();
//   loadTask_ = platform::Task(executor);
//   auto results = std::make_shared<Results>();
//   auto done = loadTask_.join(2, platform::weakly(weak_from_this(), [results](Popup& p) { p.show(*results);
//   })); http.get(a, loadTask_.token(), loadTask_.resume([results, done](Response r) { results->a = r;
//   done(); })); http.get(b, loadTask_.token(), loadTask_.resume([results, done](Response r) { results->b =
//   r; done(); }));
//
//   // A delayed paste that nothing cancels.
//   platform::Task(executor).sleep(150ms, [] { paste(); });
//
// On ManualExecutor every step runs in advance()/runUntilIdle(), so tests drive tasks on virtual time.
class Task {
 public:
  using Duration = MainExecutor::Duration;

  // No task: cancel() does nothing, isCancelled() is true and steps given to it never run. Lets owners
  // keep a Task member that they cancel before starting the next one.
  Task() = default;
  explicit Task(MainExecutor& executor) : state_(std::make_shared<State>(executor)) {}

  void cancel() const {
    if (!state_) return;
    state_->token.cancel();
    std::vector<CancelToken> timers;
    std::vector<Job> handlers;
    {
      std::lock_guard lock(state_->mutex);
      timers.swap(state_->timers);
      handlers.swap(state_->cancelHandlers);
    }
    for (const auto& timer : timers) timer.cancel();
    for (const auto& handler : handlers) handler();
  }
  bool isCancelled() const { return !state_ || state_->token.isCancelled(); }
  // The task's token; cancelling it cancels the task's future steps (not its pending timers).
  CancelToken token() const { return state_ ? state_->token : cancelledToken(); }
  MainExecutor* executor() const { return state_ ? &state_->executor : nullptr; }

  void post(Job step) const {
    if (!state_) return;
    state_->executor.post([state = state_, step = std::move(step)] {
      if (!state->token.isCancelled()) step();
    });
  }

  void sleep(Duration delay, Job then) const {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    if (state_->token.isCancelled()) return;
    auto timer = std::make_shared<CancelToken>();
    *timer = state_->executor.postAfter(delay, [state = state_, timer, then = std::move(then)] {
      {
        std::lock_guard lock(state->mutex);
        auto& timers = state->timers;
        timers.erase(std::remove(timers.begin(), timers.end(), *timer), timers.end());
      }
      if (!state->token.isCancelled()) then();
    });
    state_->timers.push_back(*timer);
  }

  // Runs `handler` once, on the thread that calls cancel(), when the task is cancelled; at once (on the
  // calling thread) when it already is, or when there is no task. Cancelling through token() does not
  // run it. Handlers stay with the task until then: register one per thing waited on, not per wait.
  void onCancel(Job handler) const {
    if (state_) {
      std::lock_guard lock(state_->mutex);
      if (!state_->token.isCancelled()) {
        state_->cancelHandlers.push_back(std::move(handler));
        return;
      }
    }
    handler();
  }

  // Returns a copyable callable that may be called from any thread with any arguments `fn` accepts.
  // The arguments are moved onto the main executor.
  template <class F>
  auto resume(F fn) const {
    return [state = state_, fn = std::move(fn)](auto&&... args) {
      if (!state || state->token.isCancelled()) return;
      auto bound = std::make_shared<std::tuple<std::decay_t<decltype(args)>...>>(
          std::forward<decltype(args)>(args)...);
      state->executor.post([state, fn, bound] {
        if (!state->token.isCancelled()) std::apply(fn, std::move(*bound));
      });
    };
  }

  // The returned callable runs `then` on its `count`-th call (on the thread of that call: call it from
  // steps that run on the main executor, as resume() steps do), unless the task is cancelled by then.
  // A count of zero runs `then` in a later turn, as if everything had already arrived.
  std::function<void()> join(std::size_t count, Job then) const {
    if (count == 0) {
      post(std::move(then));
      return [] {};
    }
    auto remaining = std::make_shared<std::atomic<std::size_t>>(count);
    return [state = state_, remaining, then = std::move(then)] {
      if (remaining->fetch_sub(1) != 1) return;
      if (state && !state->token.isCancelled()) then();
    };
  }

 private:
  struct State {
    explicit State(MainExecutor& e) : executor(e) {}
    MainExecutor& executor;
    CancelToken token;
    std::mutex mutex;
    std::vector<CancelToken> timers;  // pending sleeps
    std::vector<Job> cancelHandlers;
  };
  static CancelToken cancelledToken() {
    CancelToken t;
    t.cancel();
    return t;
  }

  std::shared_ptr<State> state_;
};

// Wraps `fn(T&, args...)` so that it runs only while `owner` is alive; otherwise the call does nothing.
template <class T, class F>
auto weakly(std::weak_ptr<T> owner, F fn) {
  return [owner = std::move(owner), fn = std::move(fn)](auto&&... args) {
    if (auto strong = owner.lock()) fn(*strong, std::forward<decltype(args)>(args)...);
  };
}

}  // namespace platform
