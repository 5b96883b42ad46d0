#include "DiziZoz/core/TypeNames.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace dizizoz {

std::string demangledTypeName(const std::type_info& type) {
  const char* mangled = type.name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                   std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

}  // namespace dizizoz

namespace dizizoz {
namespace {

bool isIdentifierCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Removes the bracketed group that ends `text` ("<...>" or "(...)"), nested groups included.
void dropTrailingGroup(std::string& text, char open, char close) {
  int depth = 0;
  while (!text.empty()) {
    const char c = text.back();
    text.pop_back();
    if (c == close) ++depth;
    if (c == open && --depth == 0) return;
  }
}

}  // namespace

std::string withoutQualifiers(std::string_view typeName) {
  std::string result;
  result.reserve(typeName.size());
  for (std::size_t i = 0; i < typeName.size(); ++i) {
    if (typeName.substr(i, 2) != "::") {
      result += typeName[i];
      continue;
    }
    // Drop the qualifier just copied: a name, possibly with template arguments, or "(anonymous namespace)".
    if (!result.empty() && result.back() == ')') {
      dropTrailingGroup(result, '(', ')');
    } else {
      if (!result.empty() && result.back() == '>') dropTrailingGroup(result, '<', '>');
      while (!result.empty() && isIdentifierCharacter(result.back())) result.pop_back();
    }
    ++i;
  }
  return result;
}

std::string unqualifiedTypeName(const std::type_info& type) {
  return withoutQualifiers(demangledTypeName(type));
}

}  // namespace dizizoz
