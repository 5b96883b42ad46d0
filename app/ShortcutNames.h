#pragma once

#include "GlobalShortcuts/Name.h"

namespace quorvelle::shortcuts {

// The application's two named shortcuts. Getting a name writes its initial shortcut (Option+T,
// Option+R) to storage when nothing at all is stored for it yet, so call these only once the shortcuts
// package's environment is installed. Main thread.
GlobalShortcuts::Name translate();
GlobalShortcuts::Name refine();

}  // namespace quorvelle::shortcuts
