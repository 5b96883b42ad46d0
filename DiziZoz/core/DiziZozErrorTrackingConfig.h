#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "DiziZoz/core/DiziZozExceptionStepsConfig.h"

namespace dizizoz {

// Options of error tracking. Owned by DiziZozConfig (shared by reference); plain fields with no lock, read
// by the error-tracking integration at the moment of use.
class DiziZozErrorTrackingConfig {
 public:
  // `inAppIncludes` starts with the bundle identifier (or the unknown-bundle name), followed by the
  // executable name when the bundle has one.
  explicit DiziZozErrorTrackingConfig(const DiziZozBundleInfo& bundle = {});

  // Sends the crash report left by the previous run and turns crashes into exception events. Off by
  // default: a crash handler is only installed when the application asks for it.
  bool autoCapture = false;
  // Module-name prefixes that count as the application's own code, and those that do not; the fallback
  // for modules matching neither.
  std::vector<std::string> inAppIncludes;
  std::vector<std::string> inAppExcludes;
  bool inAppByDefault = true;
  const std::shared_ptr<DiziZozExceptionStepsConfig> exceptionSteps =
      std::make_shared<DiziZozExceptionStepsConfig>();
  // Exception type names whose events are dropped.
  std::vector<std::string> ignoredExceptionTypes{"RCTFatalException"};
};

inline DiziZozErrorTrackingConfig::DiziZozErrorTrackingConfig(const DiziZozBundleInfo& bundle) {
  inAppIncludes.push_back(bundle.identifier.value_or(unknownBundleIdentifier));
  if (bundle.executableName) inAppIncludes.push_back(*bundle.executableName);
}

}  // namespace dizizoz
