#pragma once

#include <memory>

#include "DiziZoz/core/DiziZozIntegrationInstallState.h"

namespace dizizoz {

// Turns automatically detected screens into screen events: while installed, the screen-view publisher's
// automatic-capture slot calls screen(name) on the client. On this platform nothing detects screens, so
// the slot stays unfed and screen events come only from explicit DiziZozSDK::screen() calls. Counts as
// wrapping system callbacks, so the client installs it only while `enableSwizzling` is on. At most one
// client holds it at a time (the shared install guard).
class DiziZozScreenViewIntegration final : public DiziZozIntegrationPattern<DiziZozScreenViewIntegration>,
                                           public std::enable_shared_from_this<DiziZozScreenViewIntegration> {
 public:
  bool requiresSwizzling() const override { return true; }

 protected:
  // Fills the slot with a handler that holds this integration weakly; an earlier handler is replaced.
  void start(DiziZozSDK& client) override;
  // Clears the slot.
  void stop() override;
};

}  // namespace dizizoz
