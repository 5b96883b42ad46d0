#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozReachabilityMonitoring.h"

namespace dizizoz::test {

// A network monitor whose connection the test sets. A change runs one notification pass at once, on
// the calling thread: onReachable or onUnreachable with the monitor. The notifier can be made to fail.
class FakeReachability final : public DiziZozReachabilityMonitoring {
 public:
  explicit FakeReachability(DiziZozConnection connection = DiziZozConnection::wifi)
      : connection_(connection) {}

  void setConnection(DiziZozConnection connection) {
    if (connection_.exchange(connection) == connection) return;
    if (connection == DiziZozConnection::unavailable) {
      onUnreachable_.invoke(*this);
    } else {
      onReachable_.invoke(*this);
    }
  }

  DiziZozConnection connection() override {
    ++connectionReads;
    return connection_;
  }
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring>& onReachable() override { return onReachable_; }
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring>& onUnreachable() override { return onUnreachable_; }
  std::optional<std::string> startNotifier() override {
    ++starts;
    if (startFailure) return startFailure;
    running = true;
    return std::nullopt;
  }
  void stopNotifier() override {
    ++stops;
    running = false;
  }

  std::optional<std::string> startFailure;  // set before starting
  std::atomic<int> connectionReads{0};
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<bool> running{false};

 private:
  std::atomic<DiziZozConnection> connection_;
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring> onReachable_;
  DiziZozMulticastCallback<DiziZozReachabilityMonitoring> onUnreachable_;
};

}  // namespace dizizoz::test
