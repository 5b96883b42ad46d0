#include "app/DeviceIdentity.h"

#include "DiziZoz/core/Uuid.h"
#include "app/AppSettings.h"

namespace quorvelle {

std::string DeviceIdentity::deviceID() const {
  if (auto uuid = machine_.platformUUID(); uuid && !uuid->empty()) return *uuid;
  // An empty stored value (a hand-edited or damaged settings file) would make every installation that
  // has one share the same, empty, identity: generate a new one instead.
  if (auto stored = defaults_.stringForKey(AppSettings::kFallbackDeviceID); stored && !stored->empty()) {
    return *stored;
  }
  std::string generated = dizizoz::Uuid::random4(random_).toString();
  for (char& c : generated) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
  defaults_.set(AppSettings::kFallbackDeviceID, generated);
  return generated;
}

}  // namespace quorvelle
