#include "platform/ReachabilityDelivery.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/Log.h"
#include "platform/SerialQueue.h"

namespace platform {

struct ReachabilityDelivery::State {
  State(std::string n, std::function<ReachabilityRead()> r) : name(std::move(n)), read(std::move(r)) {}

  // The callback when `queue` is still the scheduled queue, else nothing.
  ReachabilitySource::Callback callbackOn(const SerialQueue* current) const {
    std::lock_guard guard(lock);
    return queue.get() == current ? callback : ReachabilitySource::Callback{};
  }

  const std::string name;
  const std::function<ReachabilityRead()> read;
  mutable std::mutex lock;
  ReachabilitySource::Callback callback;  // lock
  std::shared_ptr<SerialQueue> queue;     // lock
  // A re-read is queued and has not started yet.
  std::atomic<bool> rereadPending{false};
};

ReachabilityDelivery::ReachabilityDelivery(std::string name, std::function<ReachabilityRead()> read)
    : state_(std::make_shared<State>(std::move(name), std::move(read))) {}

ReachabilityDelivery::~ReachabilityDelivery() {
  setCallback({});
  setQueue(nullptr);
}

void ReachabilityDelivery::setCallback(ReachabilitySource::Callback callback) {
  ReachabilitySource::Callback previous;
  std::lock_guard guard(state_->lock);
  previous = std::exchange(state_->callback, std::move(callback));
  // `previous` is released after the lock (declared before the guard): its captures may call back in.
}

ReachabilitySource::Callback ReachabilityDelivery::callback() const {
  std::lock_guard guard(state_->lock);
  return state_->callback;
}

void ReachabilityDelivery::setQueue(std::shared_ptr<SerialQueue> queue) {
  std::shared_ptr<SerialQueue> previous;
  std::lock_guard guard(state_->lock);
  previous = std::exchange(state_->queue, std::move(queue));
  // A re-read left on the previous queue will find itself unscheduled: the next change must queue anew.
  state_->rereadPending = false;
}

bool ReachabilityDelivery::isScheduled() const {
  std::lock_guard guard(state_->lock);
  return state_->queue != nullptr;
}

void ReachabilityDelivery::report(ReachabilityFlags flags) {
  std::shared_ptr<SerialQueue> queue;
  {
    std::lock_guard guard(state_->lock);
    queue = state_->queue;
  }
  if (!queue) return;
  queue->async([weak = std::weak_ptr<State>(state_), current = queue.get(), flags] {
    auto state = weak.lock();
    if (!state) return;
    if (auto callback = state->callbackOn(current)) callback(flags);
  });
}

void ReachabilityDelivery::changed() {
  std::shared_ptr<SerialQueue> queue;
  {
    std::lock_guard guard(state_->lock);
    queue = state_->queue;
  }
  if (!queue || !state_->read || state_->rereadPending.exchange(true)) return;
  queue->async([weak = std::weak_ptr<State>(state_), current = queue.get()] {
    auto state = weak.lock();
    if (!state) return;
    // Cleared before reading: a change signalled from here on needs a read that starts after it.
    state->rereadPending = false;
    if (!state->callbackOn(current)) return;
    const ReachabilityRead read = state->read();
    if (!read.flags) {
      log(LogLevel::info, state->name + ": reading the network's state after a change failed (error " +
                              std::to_string(read.error) + ")");
      return;
    }
    if (auto callback = state->callbackOn(current)) callback(*read.flags);
  });
}

}  // namespace platform
