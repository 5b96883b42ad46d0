#pragma once

#include <optional>
#include <string>

namespace platform {

// A shared object opened on first use (dlopen), so that a library the program rarely needs, and the
// libraries it pulls in, cost nothing at start. Opened objects are never closed: the libraries loaded
// this way start threads and register handlers that must outlive every use. Thread-safe.
class SharedLibrary {
 public:
  // The object at `path` (a bare file name is looked up as the dynamic loader would), with its symbols
  // kept to itself. Nothing when it cannot be opened; `error` then says why.
  static std::optional<SharedLibrary> open(const std::string& path, std::string& error);

  // The address of `name` in the object, or null (and `error` says why).
  void* symbol(const char* name, std::string& error) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace platform
