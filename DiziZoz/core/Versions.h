#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// The application's short version text: the "CFBundleShortVersionString" entry of the bundle
// information (`infoDictionary`, an object) when it is text; otherwise nothing.
std::optional<std::string> appVersionString(const Value& infoDictionary);

// The whole text as a signed 64-bit decimal integer (optional leading "+" or "-", digits only, no
// overflow) when it is one; otherwise the text itself. "42" -> 42, "1.2" -> "1.2".
Value parseBundleVersion(std::string_view text);

// The running system's version as "major.minor.patch" (always three decimal parts), read from
// /etc/os-release (VERSION_ID), else from the kernel release. "0.0.0" when neither can be read.
std::string osVersionString();
// The leading numeric parts of a version text padded or cut to three: "12" -> "12.0.0",
// "6.1.0-18-amd64" -> "6.1.0", "24.04" -> "24.4.0".
std::string normalizedVersion(std::string_view text);

}  // namespace dizizoz
