#pragma once

#include "DiziZoz/core/DiziZozEvent.h"
#include "DiziZoz/core/DiziZozQueueing.h"

namespace dizizoz {

// What the client needs of the replay queue: "$snapshot" events go through it to an inner upload queue
// of their own, which set-up starts and close stops. Thread-safe like DiziZozQueueing.
class DiziZozReplayQueueing {
 public:
  virtual ~DiziZozReplayQueueing() = default;

  virtual DiziZozQueueing<DiziZozEvent>& innerQueue() = 0;
  // Buffers or forwards one "$snapshot" event.
  virtual void add(DiziZozEvent event) = 0;
  virtual void flush() = 0;
};

}  // namespace dizizoz
