#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The keys of the application's own description, as bundles name them.
namespace bundle_keys {
inline constexpr std::string_view identifier = "CFBundleIdentifier";            // "com.quorvelle.app"
inline constexpr std::string_view name = "CFBundleName";                        // as users see it
inline constexpr std::string_view shortVersion = "CFBundleShortVersionString";  // "0.1.0"
inline constexpr std::string_view build = "CFBundleVersion";                    // the build number, "1"
inline constexpr std::string_view executable = "CFBundleExecutable";            // the program's file name
}  // namespace bundle_keys

// The application's fixed information (what a bundle's info dictionary holds elsewhere): string values by
// key, fixed for the life of the process. Thread-safe.
class BundleInfo {
 public:
  virtual ~BundleInfo() = default;
  // The value under `key`; nothing when the key is absent.
  virtual std::optional<std::string> infoValue(std::string_view key) const = 0;
};

}  // namespace platform
