#include "DZCrashReporter/capture/DZCrashHostInfo.h"

#include <sys/utsname.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "DZCrashReporter/DZCrashReporterLog.h"

namespace dzcrash {

std::optional<DZCrashHostInfo> DZCrashHostInfo::currentHostInfo() {
  utsname names;
  if (uname(&names) != 0) {
    const int error = errno;
    DZCrashReporterLog("Failed to fetch kern.osrelease value " + std::to_string(error) + ": " +
                       std::strerror(error));
    return std::nullopt;
  }
  return fromRelease(names.release);
}

DZCrashHostInfo DZCrashHostInfo::fromRelease(std::string_view release) {
  DZCrashHostInfoVersion version;
  uint64_t* const parts[] = {&version.major, &version.minor, &version.revision};
  const char* at = release.data();
  const char* const end = release.data() + release.size();
  bool matched = true;
  for (size_t i = 0; i < 3 && matched; ++i) {
    if (i > 0) {
      if (at == end || *at != '.') {
        matched = false;
        break;
      }
      ++at;
    }
    const auto [next, error] = std::from_chars(at, end, *parts[i]);
    matched = error == std::errc();
    at = next;
  }
  if (!matched) DZCrashReporterLog("Unexpected kern.osrelease string format: " + std::string(release));
  return DZCrashHostInfo(version);
}

}  // namespace dzcrash
