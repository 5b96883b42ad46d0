#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/SystemInfo.h"

namespace platform::fake {

// SystemInfo with preferred languages chosen by the test.
class FixedSystemInfo final : public SystemInfo {
 public:
  explicit FixedSystemInfo(std::vector<std::string> languages = {}) : languages_(std::move(languages)) {}
  std::vector<std::string> preferredLanguages() const override { return languages_; }

 private:
  std::vector<std::string> languages_;
};

}  // namespace platform::fake
