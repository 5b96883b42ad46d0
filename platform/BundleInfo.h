#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The application's fixed information (what a bundle's info dictionary holds elsewhere): string values by
// key, fixed for the life of the process. Thread-safe.
class BundleInfo {
 public:
  virtual ~BundleInfo() = default;
  // The value under `key`; nothing when the key is absent.
  virtual std::optional<std::string> infoValue(std::string_view key) const = 0;
};

}  // namespace platform
