#pragma once

#include <memory>

#include "DiziZoz/core/AppLifecyclePublishing.h"
#include "DiziZoz/core/DiziZozIntegrationInstallState.h"
#include "DiziZoz/core/RegistrationToken.h"

namespace platform {
class UserDefaults;
}

namespace dizizoz {

// Records the application's life cycle as events of the client it is installed into:
//   "Application Installed" / "Application Updated": once per process, at install or when launching
//     finishes, whichever comes first. The build stored in the user defaults decides (no stored build:
//     installed; a different or no current build: updated; the same build: nothing); the version is
//     reported but never compared.
//   "Application Opened": each activation after being inactive, with the version and build on the first.
//   "Application Backgrounded": each resignation after being active.
// Each event checks the client's `captureApplicationLifecycleEvents` at the moment it happens.
//
// The version and build come from the client's bundle information; "DZGVersionKey" and "DZGBuildKeyV2"
// in `userDefaults` remember what the last check saw. They are written before the event is captured, so
// a check made while the option is off or the client is opted out still uses up the install event.
//
// Main thread only: installs, the publisher's callbacks and the state flags all live there. At most one
// client holds the integration at a time (the shared install guard).
class DiziZozAppLifeCycleIntegration final
    : public DiziZozIntegrationPattern<DiziZozAppLifeCycleIntegration>,
      public std::enable_shared_from_this<DiziZozAppLifeCycleIntegration> {
 public:
  static constexpr const char* versionKey = "DZGVersionKey";
  static constexpr const char* buildKey = "DZGBuildKeyV2";

  // Listens to `publisher` (the shared one unless a test gives its own), which must outlive the
  // integration; the version keys live in `userDefaults`, which may not be null.
  explicit DiziZozAppLifeCycleIntegration(std::shared_ptr<platform::UserDefaults> userDefaults);
  DiziZozAppLifeCycleIntegration(std::shared_ptr<platform::UserDefaults> userDefaults,
                                 AppLifecyclePublishing& publisher);

  bool requiresSwizzling() const override { return false; }
  // The shared install, then the install/update check.
  DiziZozIntegrationInstallResult install(DiziZozSDK& client) override;

  // The once-per-process install/update check; later calls do nothing.
  void captureAppInstallOrUpdated();
  void captureAppOpened();
  void captureAppBackgrounded();

  // Lets the next check run again, for tests that start over within one process.
  static void resetInstallOrUpdateCheckForTesting();

 protected:
  // Subscribes to launching, activation and resignation, each holding this integration weakly.
  void start(DiziZozSDK& client) override;
  // Ends the three subscriptions; the state flags and the process-wide check are kept.
  void stop() override;

 private:
  const std::shared_ptr<platform::UserDefaults> userDefaults_;
  AppLifecyclePublishing& publisher_;
  bool isFreshAppLaunch_ = true;   // no "Application Opened" captured yet by this object
  bool isAppBackgrounded_ = true;  // the application is considered inactive
  RegistrationToken didBecomeActiveToken_;
  RegistrationToken didEnterBackgroundToken_;
  RegistrationToken didFinishLaunchingToken_;
};

}  // namespace dizizoz
