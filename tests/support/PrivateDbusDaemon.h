#pragma once

#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace quorvelle::test {

// A dbus-daemon of the test's own, on a socket in a temporary folder, where any client may own any name
// (it stands in for the system bus). Ended with the object. Not thread-safe.
class PrivateDbusDaemon {
 public:
  // Throws std::runtime_error when the daemon does not start.
  PrivateDbusDaemon();

  // The address clients connect to ("unix:path=...").
  const std::string& address() const { return address_; }

 private:
  TempDir folder_;
  std::string address_;
  std::unique_ptr<ChildProcess> daemon_;
};

}  // namespace quorvelle::test
