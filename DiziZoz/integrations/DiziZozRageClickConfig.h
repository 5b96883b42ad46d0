#pragma once

namespace dizizoz {

// Options of rage-click detection (a series of quick clicks in one place). Only the options exist: this
// client does not detect rage clicks, and nothing reads them. Plain fields, not validated.
class DiziZozRageClickConfig {
 public:
  bool enabled = true;
  // Distance, in points, within which clicks count as one place.
  double thresholdPoints = 30.0;
  // Seconds within which a series of clicks must fall.
  double timeoutInterval = 1.0;
  // Clicks that make a series.
  int minimumTapCount = 3;
};

}  // namespace dizizoz
