#pragma once

#include "DiziZoz/core/AppLifecyclePublishing.h"
#include "platform/NotificationCenter.h"

namespace dizizoz {

// Turns the application notifications that the program posts on the default notification center
// (platform/AppNotifications.h) into the life-cycle callbacks: finished launching, became active, and
// resigned active, which counts as entering the background. One process-wide instance, observing for
// the life of the process.
//
// The handlers may be called directly too; each invokes its callback on the calling thread.
class ApplicationLifecyclePublisher final : public AppLifecyclePublishing {
 public:
  static ApplicationLifecyclePublisher& shared();

  DiziZozMulticastCallback<>& onDidBecomeActive() override { return onDidBecomeActive_; }
  DiziZozMulticastCallback<>& onDidEnterBackground() override { return onDidEnterBackground_; }
  DiziZozMulticastCallback<>& onDidFinishLaunching() override { return onDidFinishLaunching_; }

  void appDidFinishLaunching() { onDidFinishLaunching_.invoke(); }
  void appDidEnterBackground() { onDidEnterBackground_.invoke(); }
  void appDidBecomeActive() { onDidBecomeActive_.invoke(); }

 private:
  ApplicationLifecyclePublisher();

  DiziZozMulticastCallback<> onDidBecomeActive_;
  DiziZozMulticastCallback<> onDidEnterBackground_;
  DiziZozMulticastCallback<> onDidFinishLaunching_;
  platform::NotificationCenter::Token finishLaunchingObservation_;
  platform::NotificationCenter::Token resignActiveObservation_;
  platform::NotificationCenter::Token becomeActiveObservation_;
};

}  // namespace dizizoz
