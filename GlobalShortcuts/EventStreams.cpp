#include "GlobalShortcuts/EventStreams.h"

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "platform/MainExecutor.h"
#include "platform/Task.h"

namespace GlobalShortcuts {
namespace {

platform::MainExecutor& mainExecutor() {
  auto& executor = *environment().mainExecutor;
  if (!executor.isMainThread())
    throw std::logic_error("GlobalShortcuts: streams are made on the main thread");
  return executor;
}

registry::StreamId nextStreamId() {
  static std::atomic<registry::StreamId> last{0};
  return ++last;
}

// `Key` is a Name or a Shortcut: the registry keeps the streams of each in tables of their own.
template <class Key>
EventStream makeEventStream(const Key& key, std::optional<EventType> only) {
  auto& executor = mainExecutor();
  const auto id = nextStreamId();
  // The clean-up waits for a later turn: the stream may end inside the registry's own dispatch.
  EventStream stream(executor, EventStream::Buffering::unbounded, [&executor, key, id] {
    executor.post([key, id] {
      if (isEnvironmentInstalled()) registry::removeStreamHandlers(key, id);
    });
  });
  const auto yielder = [continuation = stream.continuation(), only](EventType type) {
    return [continuation, type, only] {
      if (!only || *only == type) continuation.yield(type);
    };
  };
  registry::addStreamHandlers(key, id, yielder(EventType::keyDown), yielder(EventType::keyUp));
  return stream;
}

// Turns a stream of key events into ticks: one at the key-down, then repeats on a timer chain of its own
// until the key-up, the end of either stream, or a failed continuation test.
class Repeater : public std::enable_shared_from_this<Repeater> {
 public:
  Repeater(platform::MainExecutor& executor, EventStream source, RepeatStream::Continuation ticks,
           std::function<void()> didReceiveKeyDown, std::function<bool()> shouldContinueRepeating)
      : executor_(executor),
        source_(std::move(source)),
        ticks_(std::move(ticks)),
        repeat_(environment().keyRepeat()),
        didReceiveKeyDown_(std::move(didReceiveKeyDown)),
        shouldContinueRepeating_(std::move(shouldContinueRepeating)) {}

  void startPump() {
    pump_ = platform::Task(executor_);
    const std::weak_ptr<Repeater> weak = weak_from_this();
    source_.forEach(
        pump_,
        [weak](EventType type) {
          if (auto self = weak.lock()) self->handle(type);
        },
        [weak] {
          if (auto self = weak.lock()) {
            self->stop();
            self->ticks_.finish();
          }
        });
  }

  // The repeat stream ended: reading the source stops, which ends it too.
  void end() {
    pump_.cancel();
    stop();
  }

 private:
  void handle(EventType type) {
    if (type == EventType::keyUp) {
      stop();
      return;
    }
    if (didReceiveKeyDown_) didReceiveKeyDown_();
    ticks_.yield({});
    // A key-down without a key-up in between starts the whole sequence again.
    stop();
    repeating_ = platform::Task(executor_);
    tickAfter(repeating_, repeat_.delay);
  }

  void tickAfter(const platform::Task& task, platform::MainExecutor::Duration delay) {
    task.sleep(delay, [weak = weak_from_this(), task] {
      const auto self = weak.lock();
      if (!self || !self->shouldContinueRepeating_()) return;
      self->ticks_.yield({});
      self->tickAfter(task, self->repeat_.interval);
    });
  }

  void stop() { repeating_.cancel(); }

  platform::MainExecutor& executor_;
  EventStream source_;
  RepeatStream::Continuation ticks_;
  const KeyRepeat repeat_;
  std::function<void()> didReceiveKeyDown_;
  std::function<bool()> shouldContinueRepeating_;
  platform::Task pump_;
  platform::Task repeating_;
};

RepeatStream makeRepeatStream(EventStream source, std::function<void()> didReceiveKeyDown,
                              std::function<bool()> shouldContinueRepeating) {
  auto& executor = mainExecutor();
  auto holder = std::make_shared<std::shared_ptr<Repeater>>();
  // The repeat stream owns the repeater (through its termination handler), which owns the source.
  RepeatStream ticks(executor, RepeatStream::Buffering::newest, [holder] {
    if (*holder) (*holder)->end();
  });
  *holder = std::make_shared<Repeater>(executor, std::move(source), ticks.continuation(),
                                       std::move(didReceiveKeyDown), std::move(shouldContinueRepeating));
  (*holder)->startPump();
  return ticks;
}

}  // namespace

EventStream events(const Name& name) {
  return makeEventStream(name, std::nullopt);
}

EventStream events(const Shortcut& shortcut) {
  return makeEventStream(shortcut, std::nullopt);
}

EventStream events(EventType type, const Name& name) {
  return makeEventStream(name, type);
}

EventStream events(EventType type, const Shortcut& shortcut) {
  return makeEventStream(shortcut, type);
}

RepeatStream repeatingKeyDownEvents(const Name& name) {
  // The shortcut as it was at the last key-down: a different one stored since then stops the repeats.
  auto heldShortcut = std::make_shared<std::optional<Shortcut>>();
  return makeRepeatStream(
      events(name), [name, heldShortcut] { *heldShortcut = getShortcut(name); },
      [name, heldShortcut] {
        return !isPaused() && isEnabled(name) && heldShortcut->has_value() &&
               *heldShortcut == getShortcut(name);
      });
}

RepeatStream repeatingKeyDownEvents(const Shortcut& shortcut) {
  return makeRepeatStream(events(shortcut), {},
                          [shortcut] { return !isPaused() && isEnabled() && registry::hasHotKey(shortcut); });
}

}  // namespace GlobalShortcuts
