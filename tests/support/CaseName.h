#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quorvelle::test {

// `text` as a test name: every character other than a letter, a digit or '_' becomes '_'.
inline std::string caseName(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!keep) c = '_';
  }
  return name;
}

// Names each case of a parameterised test after its `name` member, so that the runner lists the case
// instead of its index: INSTANTIATE_TEST_SUITE_P(..., ValuesIn(cases), NamedCase()).
struct NamedCase {
  template <class Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    return caseName(info.param.name);
  }
};

}  // namespace quorvelle::test
