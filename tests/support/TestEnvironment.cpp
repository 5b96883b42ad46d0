#include "tests/support/TestEnvironment.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <system_error>

namespace quorvelle::test {
namespace {

std::filesystem::path& root() {
  static std::filesystem::path path;
  return path;
}

std::filesystem::path makeTempDir(const std::filesystem::path& parent, const char* prefix) {
  std::string pattern = (parent / (std::string(prefix) + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  return pattern;
}

}  // namespace

void prepareTestEnvironment() {
  if (!root().empty()) return;
  root() = makeTempDir(std::filesystem::temp_directory_path(), "quorvelle-test-");
  const auto runtime = root() / "runtime";
  std::filesystem::create_directories(runtime);
  chmod(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  for (const char* name : {"config", "data", "cache"}) {
    std::filesystem::create_directories(root() / name);
  }
  setenv("XDG_CONFIG_HOME", (root() / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root() / "data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (root() / "cache").c_str(), 1);
  // No sound reaches the user's sound server, nor does one get started for a test: a pronunciation
  // finds no server there unless the test starts its own.
  setenv("PULSE_SERVER", ("unix:" + (runtime / "no-sound-server").string()).c_str(), 1);
}

void cleanUpTestEnvironment() {
  if (root().empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(root(), ignored);
  root().clear();
}

TempDir::TempDir() {
  prepareTestEnvironment();
  path_ = makeTempDir(root(), "tmp-");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace quorvelle::test
