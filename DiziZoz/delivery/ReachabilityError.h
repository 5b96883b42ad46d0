#pragma once

#include <cstdint>
#include <string>

namespace dizizoz {

// Why the network monitor could not be made, started or read. Each carries the code of the source's
// error, read right after the failing call; the creation cases also say what the monitor was for. The
// error has no message of its own: consumers describe it with describe().
struct ReachabilityError {
  enum class Kind {
    failedToCreateWithAddress,   // creation; `target` is the address watched
    failedToCreateWithHostname,  // creation for a host name; no such monitor is made here
    unableToSetCallback,         // startNotifier()
    unableToSetDispatchQueue,    // startNotifier()
    unableToGetFlags,            // a flags read
  };

  Kind kind;
  std::int32_t code = 0;
  std::string target;

  bool operator==(const ReachabilityError&) const = default;
};

// The case, its target if any and the code: "unableToGetFlags(5)", "failedToCreateWithAddress(0.0.0.0, 97)".
std::string describe(const ReachabilityError& error);

}  // namespace dizizoz
