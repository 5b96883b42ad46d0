#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/MachineIdentity.h"

namespace platform {

// MachineIdentity from the systemd machine id ("/etc/machine-id": 32 hexadecimal digits). The machine id
// is meant to stay private to the machine, so the value handed out is derived from it:
// HMAC-SHA256 keyed by the 16 bytes of the machine id over a fixed application id, the first 16 bytes of
// the digest marked as a version 4 UUID, written in upper case. Every program with the same application
// id gets the same value on one machine; nothing leads back to the machine id.
//
// A missing, unreadable, malformed, all-zero or "uninitialized" file gives nothing. The file is read at
// every call (it is tiny and may appear after first boot). Thread-safe.
class MachineIdFileIdentity final : public MachineIdentity {
 public:
  using AppId = std::array<std::uint8_t, 16>;
  static const AppId kQuorvelleAppId;

  explicit MachineIdFileIdentity(std::filesystem::path file = "/etc/machine-id",
                                 AppId appId = kQuorvelleAppId);

  std::optional<std::string> platformUUID() const override;

  // The derivation on a machine id in hand (32 hexadecimal digits, surrounding white space allowed).
  static std::optional<std::string> derive(std::string_view machineId, const AppId& appId);

 private:
  std::filesystem::path file_;
  AppId appId_;
};

}  // namespace platform
