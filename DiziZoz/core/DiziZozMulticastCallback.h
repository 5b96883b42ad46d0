#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "DiziZoz/core/RegistrationToken.h"

namespace dizizoz {

namespace detail {
template <typename T>
struct MulticastSignature {
  using type = void(const T&);
};
template <>
struct MulticastSignature<void> {
  using type = void();
};
}  // namespace detail

// A list of subscriber callbacks that all receive each published value (`T` = void publishes nothing).
// A subscription lasts exactly as long as its RegistrationToken; a token that outlives the list does
// nothing when released.
//
// Thread-safe. The lock only guards the list: subscribers and the subscriber-count observer run on the
// thread that called invoke/subscribe/released the token, with no lock held, so they may subscribe,
// release tokens or invoke again. An invoke calls the subscribers present when it started; no order is
// promised to subscribers.
template <typename T = void>
class DiziZozMulticastCallback {
 public:
  using Callback = std::function<typename detail::MulticastSignature<T>::type>;
  using CountObserver = std::function<void(std::size_t)>;

  explicit DiziZozMulticastCallback(CountObserver onSubscriberCountChanged = {})
      : state_(std::make_shared<State>()), onSubscriberCountChanged_(std::move(onSubscriberCountChanged)) {}
  DiziZozMulticastCallback(const DiziZozMulticastCallback&) = delete;
  DiziZozMulticastCallback& operator=(const DiziZozMulticastCallback&) = delete;

  [[nodiscard]] RegistrationToken subscribe(Callback callback) {
    std::size_t count;
    std::uint64_t key;
    {
      std::lock_guard lock(state_->lock);
      key = state_->nextKey++;
      state_->callbacks.emplace(key, std::make_shared<const Callback>(std::move(callback)));
      count = state_->callbacks.size();
    }
    if (onSubscriberCountChanged_) onSubscriberCountChanged_(count);

    std::weak_ptr<State> weakState = state_;
    CountObserver observer = onSubscriberCountChanged_;
    return RegistrationToken([weakState, key, observer] {
      auto state = weakState.lock();
      if (!state) return;
      std::size_t remaining;
      {
        std::lock_guard lock(state->lock);
        state->callbacks.erase(key);
        remaining = state->callbacks.size();
      }
      if (observer) observer(remaining);
    });
  }

  template <typename U = T>
  requires(!std::is_void_v<U>) void invoke(const U& value) const {
    for (const auto& callback : snapshot()) (*callback)(value);
  }

  template <typename U = T>
  requires std::is_void_v<U>
  void invoke() const {
    for (const auto& callback : snapshot()) (*callback)();
  }

  std::size_t subscriberCount() const {
    std::lock_guard lock(state_->lock);
    return state_->callbacks.size();
  }

 private:
  struct State {
    std::mutex lock;
    std::uint64_t nextKey = 0;
    std::map<std::uint64_t, std::shared_ptr<const Callback>> callbacks;
  };

  std::vector<std::shared_ptr<const Callback>> snapshot() const {
    std::lock_guard lock(state_->lock);
    std::vector<std::shared_ptr<const Callback>> copy;
    copy.reserve(state_->callbacks.size());
    for (const auto& entry : state_->callbacks) copy.push_back(entry.second);
    return copy;
  }

  std::shared_ptr<State> state_;
  // Observers are set once at construction, so tokens may keep their own copy.
  const CountObserver onSubscriberCountChanged_;
};

}  // namespace dizizoz
