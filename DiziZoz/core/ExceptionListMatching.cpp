#include "DiziZoz/core/ExceptionListMatching.h"

#include <algorithm>
#include <set>

namespace dizizoz {

bool exceptionListMatchesIgnoredTypes(const Properties& properties,
                                      const std::vector<std::string>& ignoredTypes) {
  if (!properties.is_object()) return false;
  const auto list = properties.find("$exception_list");
  if (list == properties.end() || !list->is_array()) return false;
  if (!std::all_of(list->begin(), list->end(), [](const Value& entry) { return entry.is_object(); })) {
    return false;
  }
  const std::set<std::string, std::less<>> ignored(ignoredTypes.begin(), ignoredTypes.end());
  return std::any_of(list->begin(), list->end(), [&](const Value& entry) {
    const auto type = entry.find("type");
    return type != entry.end() && type->is_string() && ignored.contains(type->get_ref<const std::string&>());
  });
}

}  // namespace dizizoz
