#include "platform/linux/desktop/PackageManagerUpdater.h"

namespace platform {

void PackageManagerUpdater::checkForUpdates() {
  alerts_.runModal({"Updates come from your package manager",
                    "Quorvelle is updated together with the rest of your system. Use your distribution's "
                    "software updater or package manager to get the latest version.",
                    {"OK"},
                    Alert::Style::informational},
                   nullptr);
}

}  // namespace platform
