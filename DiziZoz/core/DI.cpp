#include "DiziZoz/core/DI.h"

#include "DiziZoz/core/ApplicationLifecyclePublisher.h"
#include "DiziZoz/core/ApplicationScreenViewPublisher.h"

namespace dizizoz::DI {
namespace {

// The entry's publisher, resolved to `Publisher::shared()` on first access. The shared publisher is made
// once, so racing first accesses store the same object.
template <typename Publisher, typename Interface>
Interface& resolved(std::atomic<Interface*>& entry) {
  auto* publisher = entry.load(std::memory_order_acquire);
  if (publisher == nullptr) {
    publisher = &Publisher::shared();
    entry.store(publisher, std::memory_order_release);
  }
  return *publisher;
}

}  // namespace

AppLifecyclePublishing& Container::appLifecyclePublisher() {
  return resolved<ApplicationLifecyclePublisher>(appLifecyclePublisher_);
}

ScreenViewPublishing& Container::screenViewPublisher() {
  return resolved<ApplicationScreenViewPublisher>(screenViewPublisher_);
}

Container& main() {
  static auto* container = new Container;
  return *container;
}

}  // namespace dizizoz::DI
