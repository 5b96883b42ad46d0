// Watches the network the way the analytics client does, for people: prints the source it follows, then
// the flags and the connection kind at start and at every change, so that pulling a cable or switching
// networks can be watched.

#include <QCoreApplication>
#include <QDBusConnection>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "DiziZoz/delivery/Reachability.h"
#include "platform/NotificationCenter.h"
#include "platform/linux/RtnetlinkReachabilitySource.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "platform/linux/desktop/NetworkManagerReachabilitySource.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/SystemReachabilitySource.h"
#include "tools/StopSignals.h"

namespace {

const char* kHelp =
    "usage: dizizoz-reachability [--rtnetlink | --networkmanager]\n"
    "\n"
    "Follows the network's reachability as the program's analytics client does and prints a line at\n"
    "start and at every change:\n"
    "\n"
    "  <time>  flags <ten characters>  connection <wifi | unavailable>\n"
    "\n"
    "The flags read \"-R -------\" when reachable; c marks a connection still required, i an intervention\n"
    "(a captive portal). Uploads pause while the connection is unavailable.\n"
    "\n"
    "The source is NetworkManager when it runs on the system bus, else the kernel's routing table\n"
    "(reachable when a default route leaves through a link that is up and has a carrier).\n"
    "  --rtnetlink       follow the routing table\n"
    "  --networkmanager  follow NetworkManager\n"
    "\n"
    "Stop it with Ctrl+C.\n";

const char* kindName(dizizoz::DiziZozConnection kind) {
  switch (kind) {
    case dizizoz::DiziZozConnection::wifi:
      return "wifi";
    case dizizoz::DiziZozConnection::cellular:
      return "cellular";
    case dizizoz::DiziZozConnection::unavailable:
      break;
  }
  return "unavailable";
}

void printState(dizizoz::Reachability& monitor) {
  char time[16];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  std::strftime(time, sizeof time, "%H:%M:%S", localtime_r(&now, &local));
  std::printf("%s  flags %s  connection %s\n", time, monitor.description().c_str(),
              kindName(monitor.connection()));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view choice = argc > 1 ? argv[1] : "";
  if (argc > 2 || (!choice.empty() && choice != "--rtnetlink" && choice != "--networkmanager")) {
    std::fputs(kHelp, choice == "--help" || choice == "-h" ? stdout : stderr);
    return choice == "--help" || choice == "-h" ? 0 : 2;
  }

  StopSignals stop;  // before any thread starts
  QCoreApplication app(argc, argv);

  platform::OpenedReachabilitySource opened;
  if (choice == "--rtnetlink") {
    opened = platform::RtnetlinkReachabilitySource::open();
  } else if (choice == "--networkmanager") {
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!platform::NetworkManagerReachabilitySource::ownsName(bus)) {
      std::fputs("NetworkManager is not running on the system bus\n", stderr);
      return 1;
    }
    opened = platform::NetworkManagerReachabilitySource::open(bus);
  } else {
    opened = platform::openSystemReachabilitySource();
  }
  if (!opened.source) {
    std::fprintf(stderr, "cannot follow the network: error %d (%s)\n", opened.error,
                 choice == "--networkmanager" ? "a D-Bus error type" : std::strerror(opened.error));
    return 1;
  }

  auto main = std::make_shared<platform::QtMainExecutor>();
  auto monitor =
      dizizoz::Reachability::create({.source = opened,
                                     .serialQueue = std::make_shared<platform::ThreadSerialQueue>(
                                         std::string(dizizoz::Reachability::serialQueueLabel)),
                                     .notificationQueue = main,
                                     .notificationCenter = std::make_shared<platform::NotificationCenter>()})
          .monitor;
  std::printf("source: %s\n", std::string(monitor->sourceName()).c_str());
  std::fflush(stdout);
  auto reachable = monitor->onReachable().subscribe([&](const auto&) { printState(*monitor); });
  auto unreachable = monitor->onUnreachable().subscribe([&](const auto&) { printState(*monitor); });
  if (auto error = monitor->startNotifier()) {
    std::fprintf(stderr, "cannot start watching: %s\n", error->c_str());
    return 1;
  }

  std::thread stopper([&] {
    stop.wait();
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  const int rc = app.exec();
  stopper.join();
  monitor.reset();
  main.reset();
  return rc;
}
