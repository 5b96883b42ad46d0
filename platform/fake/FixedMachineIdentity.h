#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/MachineIdentity.h"

namespace platform::fake {

// MachineIdentity answering a value chosen by the test (nothing stands for a machine without one).
class FixedMachineIdentity final : public MachineIdentity {
 public:
  explicit FixedMachineIdentity(std::optional<std::string> uuid = std::nullopt) : uuid_(std::move(uuid)) {}
  std::optional<std::string> platformUUID() const override { return uuid_; }

 private:
  std::optional<std::string> uuid_;
};

}  // namespace platform::fake
