#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvelle::test {

// The names of this process's threads (as far as a thread name goes: 15 bytes) that begin with `prefix`;
// every thread's with the empty prefix.
inline std::vector<std::string> threadNames(std::string_view prefix = {}) {
  std::vector<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name.starts_with(prefix)) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace quorvelle::test
