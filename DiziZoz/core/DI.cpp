#include "DiziZoz/core/DI.h"

#include "DiziZoz/core/ApplicationLifecyclePublisher.h"

namespace dizizoz::DI {

AppLifecyclePublishing& Container::appLifecyclePublisher() {
  auto* publisher = appLifecyclePublisher_.load(std::memory_order_acquire);
  if (publisher == nullptr) {
    // The shared publisher is made once, so racing first accesses store the same object.
    publisher = &ApplicationLifecyclePublisher::shared();
    appLifecyclePublisher_.store(publisher, std::memory_order_release);
  }
  return *publisher;
}

Container& main() {
  static auto* container = new Container;
  return *container;
}

}  // namespace dizizoz::DI
