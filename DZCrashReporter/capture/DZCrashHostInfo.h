#pragma once

// The version of the running kernel, read when the reporter is enabled: the release that uname(2)
// reports ("6.1.0-18-amd64") scanned as major, minor and revision. Not for the crash path.

#include <cstdint>
#include <optional>
#include <string_view>

namespace dzcrash {

struct DZCrashHostInfoVersion {
  uint64_t major = 0;
  uint64_t minor = 0;
  uint64_t revision = 0;

  friend bool operator==(const DZCrashHostInfoVersion&, const DZCrashHostInfoVersion&) = default;
};

class DZCrashHostInfo {
 public:
  // Nothing when the release cannot be read (logged). Any thread.
  static std::optional<DZCrashHostInfo> currentHostInfo();

  // Scans "integer.integer.integer" from the start of `release` (what follows is ignored); a release
  // that does not match logs "Unexpected kern.osrelease string format" and keeps what was scanned, the
  // rest 0.
  static DZCrashHostInfo fromRelease(std::string_view release);

  // The kernel's version (the name is the one reports and callers use for the host's version).
  const DZCrashHostInfoVersion& darwinVersion() const { return version_; }

 private:
  explicit DZCrashHostInfo(DZCrashHostInfoVersion version) : version_(version) {}

  DZCrashHostInfoVersion version_;
};

}  // namespace dzcrash
