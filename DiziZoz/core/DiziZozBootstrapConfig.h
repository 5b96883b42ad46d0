#pragma once

#include <optional>
#include <string>
#include <utility>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// Identity and feature-flag values the application knows before the client's first request, so that the
// first events already use them. Plain data: read by set-up, the identity cache and remote configuration.
struct DiziZozBootstrapConfig {
  std::optional<std::string> distinctId;
  bool isIdentifiedId = false;
  std::optional<Properties> featureFlags;         // flag key -> value
  std::optional<Properties> featureFlagPayloads;  // flag key -> payload

  DiziZozBootstrapConfig() = default;
  DiziZozBootstrapConfig(std::optional<std::string> distinctId, bool isIdentifiedId,
                         std::optional<Properties> featureFlags,
                         std::optional<Properties> featureFlagPayloads)
      : distinctId(std::move(distinctId)),
        isIdentifiedId(isIdentifiedId),
        featureFlags(std::move(featureFlags)),
        featureFlagPayloads(std::move(featureFlagPayloads)) {}
  DiziZozBootstrapConfig(std::string distinctId, bool isIdentifiedId)
      : DiziZozBootstrapConfig(std::move(distinctId), isIdentifiedId, std::nullopt, std::nullopt) {}

  // An anonymous id chosen by the application: not identified, no flags.
  static DiziZozBootstrapConfig anonymous(std::string anonymousId) {
    return DiziZozBootstrapConfig(std::move(anonymousId), false);
  }
  // Flags only: no distinct id.
  static DiziZozBootstrapConfig flags(Properties featureFlags,
                                      std::optional<Properties> featureFlagPayloads = std::nullopt) {
    return DiziZozBootstrapConfig(std::nullopt, false, std::move(featureFlags),
                                  std::move(featureFlagPayloads));
  }
};

}  // namespace dizizoz
