#pragma once

#include <optional>
#include <string>

namespace platform {

// A stable identifier of this machine for this application, in the upper-case hyphenated UUID form
// (36 characters). It never reveals the system's own machine identifier: backends derive an
// application-specific value from it. Nothing when the machine has no usable identifier. Thread-safe.
class MachineIdentity {
 public:
  virtual ~MachineIdentity() = default;
  virtual std::optional<std::string> platformUUID() const = 0;
};

}  // namespace platform
