#include "platform/linux/SpawnRelauncher.h"

#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Log.h"

extern char** environ;

namespace platform {

bool SpawnRelauncher::launchNewInstance() {
  std::error_code error;
  const std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error || path.empty()) {
    log(LogLevel::error, "SpawnRelauncher: cannot find this program's executable: " + error.message());
    return false;
  }

  const std::string prefix = std::string(kReplacesVariable) + "=";
  std::vector<std::string> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) variables.emplace_back(*entry);
  }
  variables.push_back(prefix + std::to_string(::getpid()));
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::string program = path;
  char* argv[] = {program.data(), nullptr};

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  // glibc reports a failed exec here, so success means the new copy is running.
  const int result = posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, envp.data());
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    log(LogLevel::error, "SpawnRelauncher: cannot start " + path + ": " + std::strerror(result));
    return false;
  }
  return true;
}

}  // namespace platform
