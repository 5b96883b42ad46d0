#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/MainExecutor.h"
#include "platform/Task.h"

namespace GlobalShortcuts {

// A sequence of values that arrive over time, read one at a time by a task on the main executor.
//
// Two ends: the stream itself, owned by whoever reads it, and its Continuation, which producers copy and
// yield into. The stream buffers what is yielded while nobody reads: every value (unbounded), or only the
// newest one (newest), so a slow reader finds at most one value waiting.
//
// The stream ends in two ways. Its producer finishes it: the reader still gets what is buffered, then the
// end. Or its reader stops: the stream is destroyed, cancel() is called, or the task that reads it is
// cancelled; the buffer is dropped. Either way the stream's termination handler runs once, on the main
// thread, right then (for a cancelled reading task: in a later turn when the task was cancelled on
// another thread). Yields after the end are ignored.
//
// Main thread only, except cancelling the reading task, which may happen on any thread. Values are
// handed to the reader in a later turn of the executor, through its task, never inside yield().
template <class T>
class AsyncStream {
 public:
  enum class Buffering { unbounded, newest };

 private:
  struct State;

 public:
  class Continuation {
   public:
    void yield(T value) const {
      if (auto state = state_.lock()) state->yield(std::move(value));
    }
    void finish() const {
      if (auto state = state_.lock()) state->finish();
    }

   private:
    friend class AsyncStream;
    explicit Continuation(std::weak_ptr<State> state) : state_(std::move(state)) {}
    std::weak_ptr<State> state_;
  };

  // `onTermination` runs once when the stream ends, however it ends.
  AsyncStream(platform::MainExecutor& executor, Buffering buffering, std::function<void()> onTermination = {})
      : state_(std::make_shared<State>(executor, buffering, std::move(onTermination))) {}
  AsyncStream(AsyncStream&&) noexcept = default;
  AsyncStream& operator=(AsyncStream&& other) noexcept {
    if (this != &other) {
      end();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  AsyncStream(const AsyncStream&) = delete;
  AsyncStream& operator=(const AsyncStream&) = delete;
  ~AsyncStream() { end(); }

  Continuation continuation() const { return Continuation(state_); }

  // Hands the next value to `then` in a later turn, through `reader`: nothing when the stream has ended.
  // One read at a time (a new read replaces a pending one). Nothing runs once `reader` is cancelled, and
  // cancelling it ends the stream.
  void next(const platform::Task& reader, std::function<void(std::optional<T>)> then) {
    if (state_) state_->next(state_, reader, std::move(then));
  }

  // Reads every value in turn with `body`, then runs `onEnd` when the stream ends (not when `reader` is
  // cancelled: then nothing more runs).
  void forEach(const platform::Task& reader, std::function<void(T)> body, std::function<void()> onEnd = {}) {
    readLoop(state_, reader, std::make_shared<Loop>(Loop{std::move(body), std::move(onEnd)}));
  }

  // The reader stops: the stream ends.
  void cancel() { end(); }

 private:
  struct Loop {
    std::function<void(T)> body;
    std::function<void()> onEnd;
  };

  struct State {
    State(platform::MainExecutor& e, Buffering b, std::function<void()> t)
        : executor(e), buffering(b), onTermination(std::move(t)) {}

    void yield(T value) {
      if (finished) return;
      if (reader) {
        deliver(std::move(value));
      } else if (buffering == Buffering::unbounded || buffer.empty()) {
        buffer.push_back(std::move(value));
      } else {
        buffer.back() = std::move(value);
      }
    }

    void finish() {
      if (finished) return;
      finished = true;
      if (reader && buffer.empty()) deliver(std::nullopt);
      terminate();
    }

    // The reader went away: nothing buffered matters any more.
    void cancel() {
      buffer.clear();
      finish();
    }

    void next(const std::shared_ptr<State>& self, const platform::Task& task,
              std::function<void(std::optional<T>)> then) {
      if (!watchedReader || !(*watchedReader == task.token())) {
        watchedReader = task.token();
        task.onCancel([weak = std::weak_ptr<State>(self), executor = &executor] {
          const auto end = [weak] {
            if (auto state = weak.lock()) state->cancel();
          };
          if (executor->isMainThread()) {
            end();
          } else {
            executor->post(end);
          }
        });
      }
      if (task.isCancelled()) return;
      reader = task;
      readerThen = std::move(then);
      if (!buffer.empty()) {
        T value = std::move(buffer.front());
        buffer.pop_front();
        deliver(std::move(value));
      } else if (finished) {
        deliver(std::nullopt);
      }
    }

    void deliver(std::optional<T> value) {
      auto task = std::exchange(reader, std::nullopt);
      task->post([then = std::exchange(readerThen, {}), value = std::move(value)]() mutable {
        then(std::move(value));
      });
    }

    void terminate() {
      if (auto handler = std::exchange(onTermination, {})) handler();
    }

    platform::MainExecutor& executor;
    const Buffering buffering;
    std::function<void()> onTermination;
    std::deque<T> buffer;
    bool finished = false;
    std::optional<platform::Task> reader;
    std::function<void(std::optional<T>)> readerThen;
    std::optional<platform::CancelToken> watchedReader;
  };

  static void readLoop(const std::weak_ptr<State>& weak, const platform::Task& reader,
                       const std::shared_ptr<Loop>& loop) {
    const auto state = weak.lock();
    if (!state) {
      // The stream was destroyed between two values.
      if (!reader.isCancelled() && loop->onEnd) loop->onEnd();
      return;
    }
    state->next(state, reader, [weak, reader, loop](std::optional<T> value) {
      if (!value) {
        if (loop->onEnd) loop->onEnd();
        return;
      }
      loop->body(std::move(*value));
      readLoop(weak, reader, loop);
    });
  }

  void end() {
    if (state_) state_->cancel();
  }

  std::shared_ptr<State> state_;
};

}  // namespace GlobalShortcuts
