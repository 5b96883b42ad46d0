#include "app/LookupError.h"

namespace quorvelle {

std::string LookupError::errorDescription() const {
  switch (kind_) {
    case Kind::server:
      return message_;
    case Kind::backendUnreachable:
      return "The translation service cannot be reached. Check your connection and try again. If you use the "
             "development backend, start it with tools/dev-backend --port N (in the build folder), where N "
             "is "
             "the port of QUORVELLE_BACKEND_URL.";
  }
  return message_;
}

}  // namespace quorvelle
