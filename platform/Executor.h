#pragma once

#include <functional>

namespace platform {

using Job = std::function<void()>;

// Something that runs jobs later, in the order they were posted: the main executor or a serial queue.
// Completion handlers of asynchronous services (HTTP, secrets, ...) are delivered on an Executor the
// caller chooses. post() may be called from any thread.
class Executor {
 public:
  virtual ~Executor() = default;
  virtual void post(Job job) = 0;
};

}  // namespace platform
