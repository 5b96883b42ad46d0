#pragma once

#include <cstddef>

namespace dizizoz {

// What the client needs of one upload queue (events, log records, replay snapshots): it builds the queue
// at set-up through its services, starts it, adds every captured record, flushes it when asked and stops
// it when closed. The delivery side implements it on files and the network; the default services keep
// records in memory.
//
// Every operation may be called from any thread and never fails its caller.
template <typename T>
class DiziZozQueueing {
 public:
  virtual ~DiziZozQueueing() = default;

  // Starts the queue's flush timer and its reachability gate, unless the options switch them off.
  virtual void start(bool disableReachabilityForTesting, bool disableQueueTimerForTesting) = 0;
  // Stores one record (the queue may drop the oldest to stay within its size) and uploads a batch when
  // the stored count reaches the queue's threshold.
  virtual void add(T record) = 0;
  // Starts one batch upload unless the queue is paused or one is in flight.
  virtual void flush() = 0;
  // Stops the timer and the reachability gate; stored records stay.
  virtual void stop() = 0;
  // The number of stored records.
  virtual std::size_t depth() const = 0;
};

}  // namespace dizizoz
