#pragma once

#include <string>
#include <vector>

#include "platform/Updater.h"

namespace platform::fake {

// Updater that records its calls: "start", "check", "backgroundCheck".
class RecordingUpdater final : public Updater {
 public:
  bool automaticChecks = false;
  std::vector<std::string> calls;

  void startUpdater() override { calls.push_back("start"); }
  void checkForUpdates() override { calls.push_back("check"); }
  bool automaticallyChecksForUpdates() const override { return automaticChecks; }
  void checkForUpdatesInBackground() override { calls.push_back("backgroundCheck"); }
};

}  // namespace platform::fake
