#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/HostFacts.h"

namespace platform {

// HostFacts of a Linux system: the machine from uname(2), maker and product from the firmware's DMI
// table (/sys/class/dmi/id), the messages locale from LC_ALL, LC_MESSAGES and LANG (the first one set
// wins, as for the C library), and the time zone from TZ, /etc/timezone or the /etc/localtime link.
// Every read goes to the source again. Thread-safe.
class LinuxHostFacts final : public HostFacts {
 public:
  // Where the facts come from; tests point them at a folder and a map of their own.
  struct Sources {
    std::filesystem::path root = "/";
    std::function<std::optional<std::string>(const char* name)> environment;  // default: getenv
    std::function<std::string()> machine;                                     // default: uname
  };

  LinuxHostFacts();
  explicit LinuxHostFacts(Sources sources);

  std::string machine() const override;
  std::optional<std::string> manufacturer() const override;
  std::optional<std::string> productName() const override;
  std::optional<std::string> localeLanguage() const override;
  std::string timeZone() const override;

 private:
  std::optional<std::string> dmiValue(const char* name) const;

  Sources sources_;
};

}  // namespace platform
