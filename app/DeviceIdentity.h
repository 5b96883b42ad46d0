#pragma once

#include <string>

#include "platform/MachineIdentity.h"
#include "platform/Random.h"
#include "platform/UserDefaults.h"

namespace quorvelle {

// The stable identifier of this installation's machine, used as the analytics distinct id: the machine's
// application-specific UUID, or else a random upper-case UUID generated once and kept in the user default
// "fallbackDeviceID". Recomputed at each call; stable because both sources are.
//
// Main thread; the references must outlive the object.
class DeviceIdentity {
 public:
  DeviceIdentity(const platform::MachineIdentity& machine, platform::UserDefaults& defaults,
                 platform::Random& random)
      : machine_(machine), defaults_(defaults), random_(random) {}

  // Never fails and never returns an empty string.
  std::string deviceID() const;

 private:
  const platform::MachineIdentity& machine_;
  platform::UserDefaults& defaults_;
  platform::Random& random_;
};

}  // namespace quorvelle
