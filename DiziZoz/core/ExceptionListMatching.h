#pragma once

#include <string>
#include <vector>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// True when an entry of the "$exception_list" array in `properties` has a "type" text equal to one of
// `ignoredTypes` (exact, case-sensitive). False when `properties` is not an object or has no such list
// of objects. The capture path and the crash-report path both drop exception events it matches.
bool exceptionListMatchesIgnoredTypes(const Properties& properties,
                                      const std::vector<std::string>& ignoredTypes);

}  // namespace dizizoz
