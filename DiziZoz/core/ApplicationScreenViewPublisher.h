#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "DiziZoz/core/ScreenViewPublishing.h"

namespace dizizoz {

// The process-wide screen-view publisher (DI::main().screenViewPublisher()): a multicast of the screens
// the client captured, and the slot through which automatic screen detection would hand detected screen
// names in. This platform has no view-controller hook, so nothing feeds the slot (hasSwizzled() stays
// false); the screen-view integration fills it so that a detected name becomes a screen event.
//
// Thread-safe: the slot has its own lock, and the multicast its own.
class ApplicationScreenViewPublisher final : public ScreenViewPublishing {
 public:
  using AutoCaptureHandler = std::function<void(const std::string& screenName)>;

  static ApplicationScreenViewPublisher& shared();

  DiziZozMulticastCallback<std::string>& onScreenView() override { return onScreenView_; }

  // Replaces the handler of detected screen names; an empty function clears the slot.
  void setAutoCaptureHandler(AutoCaptureHandler handler);
  // The current handler (empty when none), to be called with no lock held.
  AutoCaptureHandler autoCaptureHandler() const;

  bool hasSwizzled() const { return false; }

 private:
  ApplicationScreenViewPublisher() = default;

  DiziZozMulticastCallback<std::string> onScreenView_;
  mutable std::mutex handlerLock_;
  AutoCaptureHandler autoCaptureHandler_;  // handlerLock_
};

}  // namespace dizizoz
