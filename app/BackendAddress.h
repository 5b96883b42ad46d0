#pragma once

#include <string_view>

namespace quorvelle {

// The backend's base address (scheme and host, no path), fixed when the program is built
// (CMake cache variable QUORVELLE_BACKEND_URL). Users cannot change it.
std::string_view compiledBackendURL();

}  // namespace quorvelle
