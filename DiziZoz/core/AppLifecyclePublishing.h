#pragma once

#include "DiziZoz/core/DiziZozMulticastCallback.h"

namespace dizizoz {

// The application's life cycle as multicast callbacks. Subscriptions last while their tokens are held;
// subscribers run on the thread that reports the change (the main thread).
class AppLifecyclePublishing {
 public:
  virtual ~AppLifecyclePublishing() = default;
  virtual DiziZozMulticastCallback<>& onDidBecomeActive() = 0;
  // The application stopped being the active one; a desktop application is "in the background" then.
  virtual DiziZozMulticastCallback<>& onDidEnterBackground() = 0;
  virtual DiziZozMulticastCallback<>& onDidFinishLaunching() = 0;
};

}  // namespace dizizoz
