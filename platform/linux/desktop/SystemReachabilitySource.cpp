#include "platform/linux/desktop/SystemReachabilitySource.h"

#include <string>

#include "platform/Log.h"
#include "platform/linux/RtnetlinkReachabilitySource.h"
#include "platform/linux/desktop/NetworkManagerReachabilitySource.h"

namespace platform {

OpenedReachabilitySource openSystemReachabilitySource() {
  const QDBusConnection bus = QDBusConnection::systemBus();
  if (NetworkManagerReachabilitySource::ownsName(bus)) {
    auto opened = NetworkManagerReachabilitySource::open(bus);
    if (opened.source) return opened;
    log(LogLevel::info, "Reachability: NetworkManager cannot be followed (D-Bus error " +
                            std::to_string(opened.error) + "); using the routing table");
  }
  return RtnetlinkReachabilitySource::open();
}

}  // namespace platform
