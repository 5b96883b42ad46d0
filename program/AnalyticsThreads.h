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
// before the transport, which runs its last completions (cancelled requests) on these queues as it ends.
//
// makeSerialQueue() and the handles may be used from any thread; destroy this object on the main thread,
// after the client is closed and the transport has ended.
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
