#pragma once

#include "platform/SystemInfo.h"

namespace platform {

// SystemInfo from Qt's system locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG on Linux).
class QtSystemInfo final : public SystemInfo {
 public:
  std::vector<std::string> preferredLanguages() const override;
};

}  // namespace platform
