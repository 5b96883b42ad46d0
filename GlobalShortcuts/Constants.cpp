#include "GlobalShortcuts/Constants.h"

#include <cstdlib>

namespace GlobalShortcuts {

bool Constants::isSandboxed() {
  static const bool sandboxed = std::getenv("APP_SANDBOX_CONTAINER_ID") != nullptr;
  return sandboxed;
}

}  // namespace GlobalShortcuts
