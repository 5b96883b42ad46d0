#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "DiziZoz/core/DiziZozServices.h"
#include "platform/ReachabilitySource.h"

namespace platform {
class HttpClient;
class SerialQueue;
}  // namespace platform

namespace dizizoz {

// What real delivery runs on besides the services' shared parts.
struct DeliveryServiceParts {
  // The program's one HTTP transport. A closed client makes no more requests, but jobs of its serial
  // queues that began before close() may: end those queues before the transport.
  platform::HttpClient* http = nullptr;
  // Gives each part a serial queue of its own, named by the part's label.
  std::function<std::shared_ptr<platform::SerialQueue>(std::string_view label)> makeSerialQueue;
  // Opens the platform's reachability source at each set-up; empty leaves the client without a monitor
  // (it then treats the network as usable).
  std::function<platform::OpenedReachabilitySource()> openReachabilitySource;
};

// Turns `services` into a record that delivers: the analytics service's API client over `parts.http`
// (its completions and flags retries on one serial queue, "com.dizizoz.Api", made here and kept by the
// record so that it never ends on one of its own jobs; closed with the client, after which it refuses
// every request), the remote-configuration store, the reachability
// monitor, and the file-backed event, replay and log queues (useFileBackedQueues). Must run after the
// services' shared parts (clock, ids, main executor, notification center, host facts) are set.
void addDeliveryServices(DiziZozServices& services, DeliveryServiceParts parts);

}  // namespace dizizoz
