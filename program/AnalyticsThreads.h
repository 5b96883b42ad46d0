#pragma once

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace platform {
class SerialQueue;
}

namespace quorvelle {

// The worker threads of the analytics client. Every serial queue its parts ask for is a handle onto a
// thread owned here; ending this object ends every thread (joining the job running on it, dropping those
// still waiting), and a handle used after that drops its jobs. So no analytics thread outlives main(),
// whoever still holds a handle (the never-destroyed shared client keeps its services record). Declare it
// after the transport, so that it ends first: a job of a closed client that began before the close may
// still hand a request to the transport, and the completions the transport runs for the requests it
// cancels as it ends are then dropped by the ended handles.
//
// makeSerialQueue() and the handles may be used from any thread; destroy this object on the main thread,
// after the client is closed and before the transport ends.
class AnalyticsThreads {
 public:
  AnalyticsThreads() = default;
  ~AnalyticsThreads();
  AnalyticsThreads(const AnalyticsThreads&) = delete;
  AnalyticsThreads& operator=(const AnalyticsThreads&) = delete;

  std::shared_ptr<platform::SerialQueue> makeSerialQueue(std::string_view label);

  class Handle;

 private:
  std::mutex lock_;
  std::vector<std::shared_ptr<Handle>> handles_;  // lock_
};

}  // namespace quorvelle
