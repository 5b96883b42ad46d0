#include "tests/support/PrivateDbusDaemon.h"

#include <fstream>
#include <stdexcept>

namespace quorvelle::test {

PrivateDbusDaemon::PrivateDbusDaemon() {
  const auto socket = folder_ / "bus";
  const auto config = folder_ / "bus.conf";
  {
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path="
        << socket.string()
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
  }
  daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "dbus-daemon", "--config-file=" + config.string(), "--nofork", "--print-address"});
  // The daemon prints its address once it listens.
  if (!daemon_->waitForOutput("unix:path=") || !daemon_->waitForOutput("\n")) {
    throw std::runtime_error("dbus-daemon did not start: " + daemon_->output());
  }
  address_ = "unix:path=" + socket.string();
}

}  // namespace quorvelle::test
