#include "platform/linux/CompiledBundleInfo.h"

namespace platform {

CompiledBundleInfo::CompiledBundleInfo() {
#ifdef QUORVELLE_DIZIZOZ_API_KEY
  values_.emplace("DiziZozAPIKey", QUORVELLE_DIZIZOZ_API_KEY);
#endif
#ifdef QUORVELLE_DIZIZOZ_HOST
  values_.emplace("DiziZozHost", QUORVELLE_DIZIZOZ_HOST);
#endif
}

std::optional<std::string> CompiledBundleInfo::infoValue(std::string_view key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

}  // namespace platform
