#include "program/StartupTrace.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Log.h"

namespace quorvelle {
namespace {

double millis(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

StartupTrace StartupTrace::fromEnvironment() {
  const char* value = std::getenv("QUORVELLE_TRACE_STARTUP");
  return StartupTrace(value != nullptr && std::strcmp(value, "1") == 0);
}

StartupTrace::StartupTrace(bool enabled)
    : enabled_(enabled), start_(std::chrono::steady_clock::now()), previous_(start_) {
  if (!enabled_) return;
  timespec cpu{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu) == 0)
    cpuBeforeMainMs_ = cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6;
  char line[128];
  std::snprintf(line, sizeof line, "startup: %.1f ms of processor time before main() (loading libraries)",
                cpuBeforeMainMs_);
  platform::log(platform::LogLevel::info, line);
}

void StartupTrace::step(std::string_view name) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  char times[64];
  std::snprintf(times, sizeof times, "startup: %.1f ms (+%.1f) ", millis(now - start_),
                millis(now - previous_));
  previous_ = now;
  platform::log(platform::LogLevel::info, std::string(times).append(name));
}

}  // namespace quorvelle
