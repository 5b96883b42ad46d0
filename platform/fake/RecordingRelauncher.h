#pragma once

#include <functional>

#include "platform/Relauncher.h"

namespace platform::fake {

// Relauncher that starts nothing: counts the starts asked for and answers the outcome the test chose.
class RecordingRelauncher final : public Relauncher {
 public:
  bool succeeds = true;
  int launches = 0;
  // Runs at each start, before it answers: where a test looks at the state the start finds.
  std::function<void()> onLaunch;

  bool launchNewInstance() override {
    ++launches;
    if (onLaunch) onLaunch();
    return succeeds;
  }
};

}  // namespace platform::fake
