#pragma once

#include <string>

#include "platform/Relauncher.h"

namespace platform {

// Starts this program's own executable again (the file /proc/self/exe names), in a session of its own
// so that it outlives this copy, with this copy's environment plus kReplacesVariable set to this
// process id: the new copy reads it to wait for this one to let go of the display's single-instance lock
// instead of handing over to it.
class SpawnRelauncher final : public Relauncher {
 public:
  static constexpr const char* kReplacesVariable = "QUORVELLE_REPLACES_PID";

  bool launchNewInstance() override;
};

}  // namespace platform
