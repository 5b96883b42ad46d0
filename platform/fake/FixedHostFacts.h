#pragma once

#include <optional>
#include <string>

#include "platform/HostFacts.h"

namespace platform::fake {

// HostFacts with values chosen by the test. Set the fields before sharing the object between threads.
class FixedHostFacts final : public HostFacts {
 public:
  std::string machineName = "x86_64";
  std::optional<std::string> maker = "Quorvelle Labs";
  std::optional<std::string> product = "Workstation 7";
  std::optional<std::string> language = "en";
  std::string zone = "Europe/Berlin";

  std::string machine() const override { return machineName; }
  std::optional<std::string> manufacturer() const override { return maker; }
  std::optional<std::string> productName() const override { return product; }
  std::optional<std::string> localeLanguage() const override { return language; }
  std::string timeZone() const override { return zone; }
};

}  // namespace platform::fake
