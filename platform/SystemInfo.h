#pragma once

#include <string>
#include <vector>

namespace platform {

// Facts about the user's system that the application adapts to. Thread-safe.
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // The user's preferred languages, most preferred first, as BCP 47 identifiers ("en-US", "zh-Hant-TW").
  virtual std::vector<std::string> preferredLanguages() const = 0;
};

}  // namespace platform
