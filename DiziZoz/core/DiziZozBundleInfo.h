#pragma once

#include <optional>
#include <string>

namespace dizizoz {

// What the client knows of the application that embeds it. The application fills it from its own bundle
// information; a default value stands for an application that has none.
struct DiziZozBundleInfo {
  std::optional<std::string> identifier{};      // for example "com.quorvelle.app"
  std::optional<std::string> shortVersion{};    // the user-visible version text
  std::optional<std::string> executableName{};  // the program's file name
  std::optional<std::string> name{};            // the application's name as users see it
  std::optional<std::string> build{};           // the build number text, for example "42"
};

// Stands in for the bundle identifier of an application that has none (in folder names and options).
inline constexpr const char* unknownBundleIdentifier = "com.dizizoz.unknown";

}  // namespace dizizoz
