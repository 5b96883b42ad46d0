#include "platform/linux/SharedLibrary.h"

#include <dlfcn.h>

namespace platform {
namespace {

std::string lastError() {
  const char* message = dlerror();
  return message ? message : "unknown dynamic loader error";
}

}  // namespace

std::optional<SharedLibrary> SharedLibrary::open(const std::string& path, std::string& error) {
  // Every symbol resolved now, so that a broken install fails here rather than at a later call.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = lastError();
    return std::nullopt;
  }
  return SharedLibrary(handle);
}

void* SharedLibrary::symbol(const char* name, std::string& error) const {
  dlerror();
  void* address = dlsym(handle_, name);
  if (address == nullptr) error = lastError();
  return address;
}

}  // namespace platform
