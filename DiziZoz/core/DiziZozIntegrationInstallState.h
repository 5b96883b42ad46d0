#pragma once

#include <memory>
#include <mutex>

#include "DiziZoz/core/DiziZozIntegration.h"

namespace dizizoz {

// The process-wide guard that keeps one integration class attached to at most one client: while
// `installed` is true, every other install of that class, into any client, is skipped. Each class owns
// one state, made on first use and never destroyed.
class DiziZozIntegrationInstallState {
 public:
  std::mutex lock;
  bool installed = false;  // under `lock`

  // The one state of the integration class `Integration`.
  template <typename Integration>
  static DiziZozIntegrationInstallState& of() {
    static auto* state = registered(new DiziZozIntegrationInstallState);
    return *state;
  }

  // Marks every integration class not installed, for tests that start over within one process.
  static void resetAllForTesting();

 private:
  DiziZozIntegrationInstallState() = default;
  static DiziZozIntegrationInstallState* registered(DiziZozIntegrationInstallState* state);
};

// The install and uninstall that all integrations share, for an integration class `Self`:
//   install: skipped(alreadyInstalled) while the class is attached elsewhere; otherwise marks the class
//     installed, keeps the client weakly and runs start();
//   uninstall: only from the owning client (or once the owner is gone): runs stop(), forgets the client
//     and marks the class not installed.
// Integrations with a check of their own before the guard override install() and call installGuarded().
template <typename Self>
class DiziZozIntegrationPattern : public DiziZozIntegration {
 public:
  static DiziZozIntegrationInstallState& integrationInstallState() {
    return DiziZozIntegrationInstallState::of<Self>();
  }

  DiziZozIntegrationInstallResult install(DiziZozSDK& client) override { return installGuarded(client); }

  void uninstall(DiziZozSDK& client) override {
    const auto owner = diziZoz_.lock();
    if (owner && owner.get() != &client) return;
    stop();
    diziZoz_.reset();
    auto& state = integrationInstallState();
    std::lock_guard lock(state.lock);
    state.installed = false;
  }

  // The client this integration is attached to, while it lives.
  std::shared_ptr<DiziZozSDK> diziZoz() const { return diziZoz_.lock(); }

 protected:
  DiziZozIntegrationInstallResult installGuarded(DiziZozSDK& client);
  // Subscribes to what the integration listens to; runs without the guard's lock.
  virtual void start(DiziZozSDK& client) = 0;
  // Drops the subscriptions made by start().
  virtual void stop() = 0;

 private:
  std::weak_ptr<DiziZozSDK> diziZoz_;
};

// Keeps a client weakly. Defined with the client, where DiziZozSDK is complete.
std::weak_ptr<DiziZozSDK> weakClient(DiziZozSDK& client);

template <typename Self>
DiziZozIntegrationInstallResult DiziZozIntegrationPattern<Self>::installGuarded(DiziZozSDK& client) {
  auto& state = integrationInstallState();
  {
    std::lock_guard lock(state.lock);
    if (state.installed) {
      return DiziZozIntegrationInstallResult::skipped(DiziZozIntegrationInstallSkipReason::alreadyInstalled);
    }
    state.installed = true;
  }
  diziZoz_ = weakClient(client);
  start(client);
  return DiziZozIntegrationInstallResult::installed();
}

}  // namespace dizizoz
