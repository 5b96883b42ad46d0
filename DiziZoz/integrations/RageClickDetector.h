#pragma once

#include <vector>

namespace dizizoz {

// The state a rage-click detector keeps: the recent clicks and the limits from DiziZozRageClickConfig.
// Only the data exists; nothing creates a detector or feeds it clicks.
class RageClickDetector {
 public:
  struct Click {
    double posX = 0;  // points
    double posY = 0;
    double timestamp = 0;  // seconds
  };

  std::vector<Click> clicks;
  double thresholdPoints = 30.0;
  double timeoutInterval = 1.0;
  int minimumTapCount = 3;
};

}  // namespace dizizoz
