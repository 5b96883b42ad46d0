#pragma once

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace platform {
class SerialQueue;
}

namespace quorvelle {

// The worker threads of the analytics client: every serial queue its parts ask for is made here and kept
// until this object ends, which joins them all (jobs still waiting are dropped). So no analytics thread
// outlives main(), even where a part is still held by a late completion of the transport: declare it
// before the transport, which runs its last completions (cancelled requests) on these queues as it ends.
//
// makeSerialQueue() may be called from any thread; destroy it on the main thread, after the client is
// closed and the transport has ended.
class AnalyticsThreads {
 public:
  AnalyticsThreads() = default;
  ~AnalyticsThreads();
  AnalyticsThreads(const AnalyticsThreads&) = delete;
  AnalyticsThreads& operator=(const AnalyticsThreads&) = delete;

  std::shared_ptr<platform::SerialQueue> makeSerialQueue(std::string_view label);

 private:
  std::mutex lock_;
  std::vector<std::shared_ptr<platform::SerialQueue>> queues_;  // lock_
};

}  // namespace quorvelle
