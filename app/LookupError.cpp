#include "app/LookupError.h"

namespace quorvelle {

std::string LookupError::errorDescription() const {
  switch (kind_) {
    case Kind::server:
      return message_;
    case Kind::backendUnreachable:
      return "Backend is not running. Start it with `bun run dev` in the elysia folder.";
  }
  return message_;
}

}  // namespace quorvelle
