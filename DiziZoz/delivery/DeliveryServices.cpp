#include "DiziZoz/delivery/DeliveryServices.h"

#include <string>
#include <utility>

#include "DiziZoz/delivery/DeliveryQueues.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/delivery/DiziZozRemoteConfig.h"
#include "DiziZoz/delivery/Reachability.h"
#include "platform/HostFacts.h"
#include "platform/MainExecutor.h"
#include "platform/SerialQueue.h"

namespace dizizoz {

namespace {
constexpr std::string_view apiQueueLabel = "com.dizizoz.Api";
}  // namespace

void addDeliveryServices(DiziZozServices& services, DeliveryServiceParts parts) {
  auto apiQueue = parts.makeSerialQueue(apiQueueLabel);
  services.makeApiClient = [http = parts.http, apiQueue, clock = services.clock,
                            hostFacts = services.hostFacts](const std::shared_ptr<DiziZozConfig>& config) {
    return std::make_shared<DiziZozApi>(config, DiziZozApiEnvironment{
                                                    .http = *http,
                                                    .completionQueue = apiQueue,
                                                    .retryQueue = apiQueue,
                                                    .clock = *clock,
                                                    .timeZone = [hostFacts] { return hostFacts->timeZone(); },
                                                    .timeout = std::chrono::milliseconds(10'000),
                                                    .addresses = {},
                                                    .compress = {},
                                                });
  };
  services.closeApiClient = [](DiziZozApi& api) { api.close(); };
  services.makeRemoteConfig = DiziZozRemoteConfig::servicesFactory(
      parts.makeSerialQueue, services.mainExecutor, services.notificationCenter);
  if (parts.openReachabilitySource) {
    services.makeReachability =
        Reachability::servicesFactory(parts.openReachabilitySource, parts.makeSerialQueue,
                                      services.mainExecutor, services.notificationCenter);
  } else {
    services.makeReachability = [](const DiziZozConfig&) { return nullptr; };
  }
  useFileBackedQueues(services, [makeSerialQueue = std::move(parts.makeSerialQueue)](
                                    const std::string& label) { return makeSerialQueue(label); });
}

}  // namespace dizizoz
