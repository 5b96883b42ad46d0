#include "program/ProgramAnalytics.h"

#include <string>
#include <utility>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/delivery/DeliveryServices.h"
#include "DiziZoz/integrations/DiziZozIntegrationFactories.h"
#include "DiziZoz/integrations/DiziZozPushSubscriptionHandler.h"
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
  dizizoz::addDeliveryServices(
      services,
      {
          .http = &parts.http,
          .makeSerialQueue = [threads](std::string_view label) { return threads->makeSerialQueue(label); },
          .openReachabilitySource = &platform::openSystemReachabilitySource,
      });
  // The subscription handler sends nothing while the desktop gives no device token, but reset and
  // opt-out still reach it, as they would with one.
  services.makePushHandler = dizizoz::DiziZozPushSubscriptionHandler::servicesFactory(
      [threads](std::string_view label) { return threads->makeSerialQueue(label); }, services.clock);
  return services;
}

void installProgramAnalytics(const ProgramAnalyticsParts& parts,
                             std::shared_ptr<platform::UserDefaults> standardDefaults) {
  dizizoz::DiziZozServices::install(programAnalyticsServices(parts));
  // Screen views, the application's life-cycle events and push-notification opening. Error tracking's
  // integration is not registered: its option stays off in this application.
  dizizoz::registerIntegrationFactories(std::move(standardDefaults));
}

}  // namespace quorvelle
