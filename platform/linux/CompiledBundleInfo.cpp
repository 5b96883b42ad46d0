#include "platform/linux/CompiledBundleInfo.h"

namespace platform {

CompiledBundleInfo::CompiledBundleInfo() {
  values_.emplace(bundle_keys::identifier, "com.quorvelle.app");
  values_.emplace(bundle_keys::name, "Quorvelle");
  values_.emplace(bundle_keys::executable, "quorvelle");
  values_.emplace(bundle_keys::shortVersion, QUORVELLE_BUNDLE_VERSION);
  values_.emplace(bundle_keys::build, QUORVELLE_BUNDLE_BUILD);
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
