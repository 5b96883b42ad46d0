#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/BundleInfo.h"

namespace platform {

// The application's fixed information, compiled in by CMake: its identifier, name and executable, the
// project's version and the build number (cache variable QUORVELLE_BUILD_NUMBER). "DiziZozAPIKey" and
// "DiziZozHost" are present only when the cache variables QUORVELLE_DIZIZOZ_API_KEY and
// QUORVELLE_DIZIZOZ_HOST are defined at configure time; a default build has neither, which keeps analytics
// off.
class CompiledBundleInfo final : public BundleInfo {
 public:
  CompiledBundleInfo();
  std::optional<std::string> infoValue(std::string_view key) const override;

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace platform
