#pragma once

#include <optional>
#include <string>

namespace platform {

// Facts about the machine and the user's session that analytics describe events with. Thread-safe; the
// values may change while the program runs (the environment, the system's time zone), so callers that
// need them fresh ask again.
class HostFacts {
 public:
  virtual ~HostFacts() = default;
  // The hardware name the kernel reports ("x86_64", "aarch64"); empty when it cannot be read.
  virtual std::string machine() const = 0;
  // The maker and the product name of the machine as its firmware gives them ("LENOVO", "ThinkPad X1
  // Carbon"); nothing when they cannot be read or are blank.
  virtual std::optional<std::string> manufacturer() const = 0;
  virtual std::optional<std::string> productName() const = 0;
  // The language of the user's messages locale alone ("en" for "en_US.UTF-8"); nothing for the C and
  // POSIX locales and when no locale is set.
  virtual std::optional<std::string> localeLanguage() const = 0;
  // The IANA identifier of the current time zone ("Europe/Berlin"); "UTC" when none is configured.
  virtual std::string timeZone() const = 0;
};

// The running system's facts (the Linux backend); never destroyed.
const HostFacts& systemHostFacts();

}  // namespace platform
