#pragma once

#include <chrono>
#include <string_view>

namespace quorvelle {

// Where the program's start-up spends its time, so that the next regression shows: with
// QUORVELLE_TRACE_STARTUP=1 in the environment each step logs one line with the time since main() and
// since the step before ("startup: 12.4 ms (+3.1) tray and hot keys up"); the first line also gives the
// processor time spent before main(), which is mostly the dynamic loader's. Otherwise it does nothing.
// Main thread only.
class StartupTrace {
 public:
  // Enabled by QUORVELLE_TRACE_STARTUP=1; call it first thing in main().
  static StartupTrace fromEnvironment();
  explicit StartupTrace(bool enabled);

  void step(std::string_view name);
  bool enabled() const { return enabled_; }

 private:
  bool enabled_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point previous_;
  double cpuBeforeMainMs_ = 0;
};

}  // namespace quorvelle
