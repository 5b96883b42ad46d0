#pragma once

#include <memory>

namespace platform {
class UserDefaults;
}

namespace dizizoz {

// Puts the automatic integrations built in this folder into DiziZozConfig's integration table, so that
// set-up installs those the options switch on. The program calls it once at start-up, before the first
// set-up, with its standard user defaults (where the life-cycle events remember the version and build
// they last saw; kept for the life of the process; without them the life-cycle events are left out);
// calling it again replaces the earlier entries.
void registerIntegrationFactories(std::shared_ptr<platform::UserDefaults> standardUserDefaults);

}  // namespace dizizoz
