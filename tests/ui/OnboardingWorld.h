#pragma once

#include <string>
#include <vector>

#include "app/SelectionCapture.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/RecordingAppShell.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/RecordingRelauncher.h"
#include "tests/ui/TutorialWorld.h"
#include "ui/OnboardingFlow.h"

namespace quorvelle::test {

// What the onboarding needs beyond a tutorial page, in memory: the selection capture that asks for the
// permission, the relauncher and the shell it ends, and hot keys whose withdrawals it records.
struct OnboardingWorld : TutorialWorld {
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::RecordingKeystrokeSender keystrokes;
  SelectionCapture selection{accessibility, pasteboard, keystrokes, env.executor};
  platform::fake::RecordingRelauncher relauncher;
  platform::fake::RecordingAppShell shell;
  // "disable" and "enable" of the hot keys, in order.
  std::vector<std::string> hotkeyCalls;

  HotkeyRegistry hotkeys() {
    return {[](const GlobalShortcuts::Name&, std::function<void()>) {},
            [this](const std::vector<GlobalShortcuts::Name>& names) {
              hotkeyCalls.push_back("disable " + std::to_string(names.size()));
            },
            [this](const std::vector<GlobalShortcuts::Name>& names) {
              hotkeyCalls.push_back("enable " + std::to_string(names.size()));
            }};
  }

  OnboardingFlow::Services flowServices() {
    return {settings, analytics, env.executor, accessibility, selection, relauncher, shell, hotkeys()};
  }

  // The events sent so far, by name.
  std::vector<std::string> events() const {
    std::vector<std::string> names;
    for (const auto& capture : client.captures) names.push_back(capture.event);
    return names;
  }
};

}  // namespace quorvelle::test
