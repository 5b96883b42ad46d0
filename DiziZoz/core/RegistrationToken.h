#pragma once

#include <functional>
#include <utility>

namespace dizizoz {

// Keeps one subscription alive: destroying the token (or assigning another token over it) ends it.
// Move-only; a moved-from token holds nothing. Destroy it on any thread.
class RegistrationToken {
 public:
  RegistrationToken() = default;
  explicit RegistrationToken(std::function<void()> onDealloc) : onDealloc_(std::move(onDealloc)) {}
  RegistrationToken(RegistrationToken&& other) noexcept : onDealloc_(std::exchange(other.onDealloc_, {})) {}
  RegistrationToken& operator=(RegistrationToken&& other) noexcept {
    if (this != &other) {
      release();
      onDealloc_ = std::exchange(other.onDealloc_, {});
    }
    return *this;
  }
  RegistrationToken(const RegistrationToken&) = delete;
  RegistrationToken& operator=(const RegistrationToken&) = delete;
  ~RegistrationToken() { release(); }

  // Ends the subscription now; later calls do nothing.
  void release() {
    if (auto run = std::exchange(onDealloc_, {})) run();
  }

 private:
  std::function<void()> onDealloc_;
};

}  // namespace dizizoz
