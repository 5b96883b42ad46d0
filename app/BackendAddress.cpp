#include "app/BackendAddress.h"

namespace quorvelle {

std::string_view compiledBackendURL() {
  return QUORVELLE_BACKEND_URL;
}

}  // namespace quorvelle
