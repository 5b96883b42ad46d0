#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"

namespace quorvelle::test {

// A Secret Service that accepts every call and never answers one (tools/silent-secret-service), alone on a
// session bus of the test's own, to which this process is pointed. Make it before anything in the process
// uses libsecret, which keeps its first connection for the life of the process. Test code only (needs
// QUORVELLE_BINARY_DIR).
class SilentKeyring {
 public:
  SilentKeyring() : bus_({"dbus-daemon", "--session", "--nofork", "--print-address=1"}) {
    if (!bus_.waitForOutput("\n")) {
      failure_ = "no dbus-daemon";
      return;
    }
    const std::string address = bus_.output().substr(0, bus_.output().find('\n'));
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    service_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUORVELLE_BINARY_DIR "/tools/silent-secret-service"});
    if (!service_->waitForOutput("ready\n"))
      failure_ = "silent-secret-service did not start: " + service_->output();
  }

  // Empty once the bus and the service run; otherwise what went wrong.
  const std::string& failure() const { return failure_; }

 private:
  ChildProcess bus_;
  std::unique_ptr<ChildProcess> service_;
  std::string failure_;
};

}  // namespace quorvelle::test
