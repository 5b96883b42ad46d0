#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvelle::test {

// Sets (or, with nullopt, removes) environment variables for the life of the object, then puts back
// what was there. The test's thread only: the environment is the process's.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<std::string, std::optional<std::string>>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
      apply(name, value);
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first, it->second);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace quorvelle::test
