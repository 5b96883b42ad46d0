#pragma once

namespace GlobalShortcuts {

struct Constants {
  // Whether the process runs in an application sandbox: the environment variable
  // "APP_SANDBOX_CONTAINER_ID" is set (whatever its value). Read on the first call and kept for the life of
  // the process. Any thread.
  static bool isSandboxed();
};

}  // namespace GlobalShortcuts
