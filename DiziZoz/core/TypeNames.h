#pragma once

#include <string>
#include <string_view>
#include <typeinfo>

namespace dizizoz {

// The readable C++ name of a type ("std::runtime_error", "dizizoz::DiziZozScreenViewIntegration"); the
// compiler's mangled name when it cannot be demangled. Any thread.
std::string demangledTypeName(const std::type_info& type);

// The type's readable name without any namespace or enclosing-class qualifier, inside template arguments
// too: "app::Card<app::User>" -> "Card<User>", as a view is named when it has no name of its own. Any
// thread.
std::string unqualifiedTypeName(const std::type_info& type);
// The same on a readable name in hand.
std::string withoutQualifiers(std::string_view typeName);

}  // namespace dizizoz
