#pragma once

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// An application hook that rewrites the properties of every built event. Called on the capturing thread.
class DiziZozPropertiesSanitizer {
 public:
  virtual ~DiziZozPropertiesSanitizer() = default;
  virtual Properties sanitize(Properties properties) = 0;
};

}  // namespace dizizoz
