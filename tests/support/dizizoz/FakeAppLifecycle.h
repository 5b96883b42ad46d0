#pragma once

#include "DiziZoz/core/AppLifecyclePublishing.h"

namespace dizizoz::test {

// A life-cycle publisher of the test's own: the test fires the callbacks.
class FakeAppLifecycle final : public AppLifecyclePublishing {
 public:
  DiziZozMulticastCallback<>& onDidBecomeActive() override { return becameActive; }
  DiziZozMulticastCallback<>& onDidEnterBackground() override { return enteredBackground; }
  DiziZozMulticastCallback<>& onDidFinishLaunching() override { return finishedLaunching; }

  void becomeActive() { becameActive.invoke(); }
  void enterBackground() { enteredBackground.invoke(); }

  DiziZozMulticastCallback<> becameActive;
  DiziZozMulticastCallback<> enteredBackground;
  DiziZozMulticastCallback<> finishedLaunching;
};

}  // namespace dizizoz::test
