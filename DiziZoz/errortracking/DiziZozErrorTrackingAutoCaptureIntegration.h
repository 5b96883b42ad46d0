#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozIntegrationInstallState.h"
#include "DiziZoz/core/RegistrationToken.h"
#include "DiziZoz/core/Value.h"

namespace dzcrash {
class DZCrashReporter;
}

namespace dizizoz {

class DiziZozCrashCustomDataWriter;

// Connects the analytics client to the crash reporter. Installing it (the client's set-up does, first of
// all integrations, while `errorTrackingConfig.autoCapture` is on) sends the report the previous run left
// behind as a fatal "$exception" event with that run's identity, properties and steps, enables the crash
// handlers (not under a debugger) and from then on keeps the reporter's custom data current with the
// client's event context and exception steps, so that the next crash carries them.
//
// The remote configuration decides too: when it is known to say "off", install only deletes a pending
// report and skips (and, when that answer came from the cache, installs after all once this start's fresh
// configuration says "on"); when it is not loaded yet, a later "off" removes the integration again.
//
// One install per process, into one client at a time. The crash reporter lives in
// $XDG_CACHE_HOME/com.dizizoz.crashreporter.data/<bundle identifier>/. Crash handlers, once enabled,
// stay in force for the rest of the process, also after uninstall.
//
// Threads: install and uninstall run under the client's set-up lock (the client calls them); the pending
// report is processed synchronously inside install. Remote-configuration events arrive on the main
// executor; context and step updates on the threads that publish them.
class DiziZozErrorTrackingAutoCaptureIntegration final
    : public DiziZozIntegrationPattern<DiziZozErrorTrackingAutoCaptureIntegration>,
      public std::enable_shared_from_this<DiziZozErrorTrackingAutoCaptureIntegration> {
 public:
  DiziZozErrorTrackingAutoCaptureIntegration() = default;
  ~DiziZozErrorTrackingAutoCaptureIntegration() override;

  bool requiresSwizzling() const override { return false; }
  DiziZozIntegrationInstallResult install(DiziZozSDK& client) override;

  // The capture path's test of the ignored exception types (one definition, in the core).
  static bool exceptionListMatchesIgnoredTypes(const Properties& properties,
                                               const std::vector<std::string>& ignoredTypes);

 protected:
  void start(DiziZozSDK& client) override;
  void stop() override;

 private:
  // Installs this integration into `client` once the fresh remote configuration switches auto-capture on.
  void watchForRemoteEnable(DiziZozSDK& client);
  void processPendingCrashReport();
  void enableCrashReporter(dzcrash::DZCrashReporter& reporter);

  std::mutex lock_;
  std::shared_ptr<dzcrash::DZCrashReporter> crashReporter_;        // lock_
  std::shared_ptr<DiziZozCrashCustomDataWriter> crashCustomData_;  // lock_
  RegistrationToken contextChangedToken_;                          // lock_
  RegistrationToken exceptionStepsChangedToken_;                   // lock_
  RegistrationToken remoteConfigLoadedToken_;                      // lock_
};

// Puts the integration into the options' integration table, so that set-up installs it (first) while
// `errorTrackingConfig.autoCapture` is on. The program calls it once at start-up, before the first set-up.
void registerErrorTrackingIntegrationFactory();

}  // namespace dizizoz
