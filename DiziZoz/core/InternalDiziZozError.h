#pragma once

#include <string>

namespace dizizoz {

// An error the client makes itself (the raiser composes the whole text).
struct InternalDiziZozError {
  std::string description;
};

}  // namespace dizizoz
