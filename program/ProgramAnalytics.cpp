#include "program/ProgramAnalytics.h"

#include <string>
#include <utility>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/delivery/DeliveryQueues.h"
#include "DiziZoz/delivery/DiziZozApi.h"
#include "DiziZoz/delivery/DiziZozRemoteConfig.h"
#include "DiziZoz/delivery/Reachability.h"
#include "DiziZoz/integrations/DiziZozIntegrationFactories.h"
#include "platform/HostFacts.h"
#include "platform/KeyWindowScreen.h"
#include "platform/MainExecutor.h"
#include "platform/NotificationCenter.h"
#include "platform/linux/desktop/SystemReachabilitySource.h"

namespace quorvelle {

dizizoz::DiziZozServices programAnalyticsServices(const ProgramAnalyticsParts& parts) {
  using dizizoz::DiziZozServices;
  DiziZozServices services = DiziZozServices::inert();
  services.mainExecutor = parts.mainExecutor;
  services.notificationCenter = parts.notificationCenter;
  services.keyWindowScreen = parts.keyWindowScreen;

  AnalyticsThreads* threads = &parts.threads;
  auto makeSerialQueue = [threads](std::string_view label) { return threads->makeSerialQueue(label); };

  services.makeApiClient = [&http = parts.http, threads, hostFacts = services.hostFacts](
                               const std::shared_ptr<dizizoz::DiziZozConfig>& config) {
    // Completions and flags retries of one client, one at a time; the threads keep the queue, so its
    // last reference never goes on one of its own jobs.
    auto completions = threads->makeSerialQueue("com.dizizoz.api");
    return std::make_shared<dizizoz::DiziZozApi>(
        config, dizizoz::DiziZozApiEnvironment{
                    .http = http,
                    .completionQueue = completions,
                    .retryQueue = completions,
                    .timeZone = [hostFacts] { return hostFacts->timeZone(); },
                    .addresses = {},
                    .compress = {},
                });
  };
  services.makeRemoteConfig = dizizoz::DiziZozRemoteConfig::servicesFactory(
      makeSerialQueue, parts.mainExecutor, parts.notificationCenter);
  services.makeReachability = dizizoz::Reachability::servicesFactory(
      &platform::openSystemReachabilitySource, makeSerialQueue, parts.mainExecutor, parts.notificationCenter);
  dizizoz::useFileBackedQueues(
      services, [threads](const std::string& label) { return threads->makeSerialQueue(label); });
  return services;
}

void installProgramAnalytics(const ProgramAnalyticsParts& parts,
                             std::shared_ptr<platform::UserDefaults> standardDefaults) {
  dizizoz::DiziZozServices::install(programAnalyticsServices(parts));
  // Screen views and the application's life-cycle events.
  dizizoz::registerIntegrationFactories(std::move(standardDefaults));
  // Push-notification opening registers here once its integration is part of the build.
}

}  // namespace quorvelle
