#include "DZCrashReporter/capture/DZCrashProcessInfo.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string_view>

#include "DZCrashReporter/capture/DZCrashSysctl.h"

namespace dzcrash {

namespace {

// The kernel keeps at most 15 bytes of a process's name.
constexpr size_t kCommMax = 15;

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

// The whole of `text` as a decimal number (leading blanks allowed).
template <class T>
bool parseNumber(std::string_view text, T* value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

// Seconds since the epoch at which the system booted ("btime" of /proc/stat).
std::optional<uint64_t> bootTime() {
  std::ifstream in("/proc/stat");
  std::string key;
  while (in >> key) {
    if (key == "btime") {
      uint64_t value = 0;
      if (in >> value) return value;
      return std::nullopt;
    }
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return std::nullopt;
}

}  // namespace

std::optional<DZCrashProcessInfo> DZCrashProcessInfo::currentProcessInfo() {
  return forProcess(getpid());
}

std::optional<DZCrashProcessInfo> DZCrashProcessInfo::forProcess(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid);
  const auto stat = readFile(dir + "/stat");
  const auto status = readFile(dir + "/status");
  if (!stat || !status) return std::nullopt;

  // "pid (name) state ppid ...": the name may hold spaces and parentheses, so it ends at the last ')'.
  const size_t open = stat->find('(');
  const size_t close = stat->rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;

  DZCrashProcessInfo info;
  info.processID_ = pid;
  const std::string comm = stat->substr(open + 1, std::min(close - open - 1, kCommMax));
  const size_t valid =
      DZcrash_sysctl_valid_utf8_bytes_max(reinterpret_cast<const uint8_t*>(comm.c_str()), comm.size());
  if (valid > 0) info.processName_ = comm.substr(0, valid);

  // Fields from the state on (field 3): the parent is field 4, the start time (clock ticks after boot)
  // field 22.
  std::istringstream fields(stat->substr(close + 1));
  std::string field;
  uint64_t startTicks = 0;
  bool haveStart = false;
  for (int number = 3; fields >> field && number <= 22; ++number) {
    if (number == 4 && !parseNumber(field, &info.parentProcessID_)) return std::nullopt;
    if (number == 22) haveStart = parseNumber(field, &startTicks);
  }
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  const auto boot = bootTime();
  if (haveStart && boot && ticksPerSecond > 0) {
    const auto hz = static_cast<uint64_t>(ticksPerSecond);
    info.startTime_.tv_sec = static_cast<time_t>(*boot + startTicks / hz);
    info.startTime_.tv_usec = static_cast<suseconds_t>((startTicks % hz) * 1'000'000 / hz);
  }

  std::istringstream lines(*status);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("TracerPid:", 0) == 0) {
      pid_t tracer = 0;
      info.traced_ = parseNumber(std::string_view(line).substr(10), &tracer) && tracer != 0;
      break;
    }
  }
  return info;
}

}  // namespace dzcrash
