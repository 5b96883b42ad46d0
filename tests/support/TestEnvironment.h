#pragma once

#include <filesystem>
#include <string>

namespace quorvelle::test {

// Gives the test process private, empty XDG folders (runtime dir with mode 0700, config, data, cache)
// so that no test reads or writes the user's real settings, and a sound server address where none
// listens. Called once by the shared test mains.
void prepareTestEnvironment();

// Removes the folders made by prepareTestEnvironment(); registered with atexit by the mains.
void cleanUpTestEnvironment();

// A fresh empty directory under the test process's private folder, removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace quorvelle::test
