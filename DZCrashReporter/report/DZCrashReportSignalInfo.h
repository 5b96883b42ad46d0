#pragma once

// The fatal signal of a crash report. Immutable value; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace dzcrash {

class DZCrashReportSignalInfo {
 public:
  DZCrashReportSignalInfo(std::string name, std::string code, uint64_t address,
                          std::optional<std::string> crashInfoMessage)
      : name_(std::move(name)),
        code_(std::move(code)),
        address_(address),
        crashInfoMessage_(std::move(crashInfoMessage)) {}

  // "SIGSEGV", or "#" and the number when the writer had no name for it.
  const std::string& name() const { return name_; }
  // "SEGV_MAPERR", or "#" and the code.
  const std::string& code() const { return code_; }
  // The faulting address.
  uint64_t address() const { return address_; }
  const std::optional<std::string>& crashInfoMessage() const { return crashInfoMessage_; }

 private:
  std::string name_;
  std::string code_;
  uint64_t address_;
  std::optional<std::string> crashInfoMessage_;
};

}  // namespace dzcrash
