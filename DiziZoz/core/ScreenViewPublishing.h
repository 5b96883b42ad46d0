#pragma once

#include <string>

#include "DiziZoz/core/DiziZozMulticastCallback.h"

namespace dizizoz {

// Where screen names flow: every screen the client has captured is published here.
class ScreenViewPublishing {
 public:
  virtual ~ScreenViewPublishing() = default;
  // The cleaned name of each captured screen, on the thread that called DiziZozSDK::screen().
  virtual DiziZozMulticastCallback<std::string>& onScreenView() = 0;
};

}  // namespace dizizoz
