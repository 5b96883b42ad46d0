#pragma once

namespace platform {

// Starts a new copy of the running program, for when the running one cannot see a permission the
// desktop has since granted. The new copy waits for this one to end before it takes over (one copy
// runs per display), so the caller ends this copy once the start has succeeded.
//
// Main thread only.
class Relauncher {
 public:
  virtual ~Relauncher() = default;

  // True once the new copy is running; false when it could not be started (nothing was started).
  virtual bool launchNewInstance() = 0;
};

}  // namespace platform
