#pragma once

#include <string>
#include <typeinfo>

namespace dizizoz {

// The readable C++ name of a type ("std::runtime_error", "dizizoz::DiziZozScreenViewIntegration"); the
// compiler's mangled name when it cannot be demangled. Any thread.
std::string demangledTypeName(const std::type_info& type);

}  // namespace dizizoz
