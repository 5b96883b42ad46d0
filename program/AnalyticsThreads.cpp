#include "program/AnalyticsThreads.h"

#include <string>
#include <utility>

#include "platform/linux/ThreadSerialQueue.h"

namespace quorvelle {

AnalyticsThreads::~AnalyticsThreads() {
  std::vector<std::shared_ptr<platform::SerialQueue>> queues;
  {
    std::lock_guard guard(lock_);
    queues = std::move(queues_);
  }
  // Newest first: a queue's dropped jobs may hold parts that use an older one.
  while (!queues.empty()) queues.pop_back();
}

std::shared_ptr<platform::SerialQueue> AnalyticsThreads::makeSerialQueue(std::string_view label) {
  auto queue = std::make_shared<platform::ThreadSerialQueue>(std::string(label));
  std::lock_guard guard(lock_);
  queues_.push_back(queue);
  return queue;
}

}  // namespace quorvelle
