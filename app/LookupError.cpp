#include "app/LookupError.h"

namespace quorvelle {

std::string LookupError::errorDescription() const {
  switch (kind_) {
    case Kind::server:
      return message_;
    case Kind::backendUnreachable:
      return "Backend is not reachable. For the development backend, start Quorvelle with `scripts/run.sh`, "
             "which starts `tools/dev-backend` along with it.";
  }
  return message_;
}

}  // namespace quorvelle
