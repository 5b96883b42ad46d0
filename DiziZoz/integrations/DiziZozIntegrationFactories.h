#pragma once

namespace dizizoz {

// Puts the automatic integrations built in this folder into DiziZozConfig's integration table, so that
// set-up installs those the options switch on. The program calls it once at start-up, before the first
// set-up; calling it again changes nothing.
void registerIntegrationFactories();

}  // namespace dizizoz
