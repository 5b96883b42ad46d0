#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozIntegrationInstallState.h"

namespace dizizoz::test {

// Stand-ins for the four automatic integrations, named like them (the client's install lines print the
// type name) and with their swizzling needs, over the shared install pattern. start() and stop() are
// counted; `refusal`, when set, is returned before the install guard, as error tracking's remote check
// does.
template <typename Self, bool swizzling>
class FakeIntegration : public DiziZozIntegrationPattern<Self> {
 public:
  bool requiresSwizzling() const override { return swizzling; }

  DiziZozIntegrationInstallResult install(DiziZozSDK& client) override {
    if (refusal) return DiziZozIntegrationInstallResult::skipped(*refusal);
    return this->installGuarded(client);
  }

  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  // Set by a test before set-up; reset by registerFakeIntegrations().
  inline static std::optional<DiziZozIntegrationInstallSkipReason> refusal;

 protected:
  void start(DiziZozSDK&) override { ++starts; }
  void stop() override { ++stops; }
};

class DiziZozErrorTrackingAutoCaptureIntegration final
    : public FakeIntegration<DiziZozErrorTrackingAutoCaptureIntegration, false> {};
class DiziZozScreenViewIntegration final : public FakeIntegration<DiziZozScreenViewIntegration, true> {};
class DiziZozAppLifeCycleIntegration final : public FakeIntegration<DiziZozAppLifeCycleIntegration, false> {};
class DiziZozPushNotificationOpenIntegration final
    : public FakeIntegration<DiziZozPushNotificationOpenIntegration, true> {};

// Puts the four stand-ins into the options' integration table, clears their refusals and marks every
// integration class not installed. Call at the start of a test that sets clients up.
inline void registerFakeIntegrations() {
  DiziZozErrorTrackingAutoCaptureIntegration::refusal.reset();
  DiziZozScreenViewIntegration::refusal.reset();
  DiziZozAppLifeCycleIntegration::refusal.reset();
  DiziZozPushNotificationOpenIntegration::refusal.reset();
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::errorTrackingAutoCapture, [] {
    return std::make_shared<DiziZozErrorTrackingAutoCaptureIntegration>();
  });
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::screenViews,
                                       [] { return std::make_shared<DiziZozScreenViewIntegration>(); });
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::appLifecycle,
                                       [] { return std::make_shared<DiziZozAppLifeCycleIntegration>(); });
  DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind::pushNotificationOpened, [] {
    return std::make_shared<DiziZozPushNotificationOpenIntegration>();
  });
  DiziZozIntegrationInstallState::resetAllForTesting();
}

}  // namespace dizizoz::test
