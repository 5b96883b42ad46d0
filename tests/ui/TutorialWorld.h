#pragma once

#include <optional>
#include <string>

#include "app/Analytics.h"
#include "app/AppSettings.h"
#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "platform/fake/FixedMachineIdentity.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MapBundleInfo.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/fake/SeededRandom.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/support/RecordingAnalyticsClient.h"
#include "ui/WindowServices.h"

namespace quorvelle::test {

// What a tutorial page needs, in memory: the shortcuts package's environment (for its recorder), the
// keyring, the services and analytics that record what they would send (off until set up).
struct TutorialWorld {
  ShortcutsTestEnvironment env;
  platform::fake::FixedSystemInfo system{{"en-US"}};
  AppSettings settings{env.defaults, system};
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  Keychain keychain{secrets, keyringWorker, env.executor};
  GeminiKeyManager geminiKey{keychain};
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::ManualWorkspace workspace;
  WindowServices services{settings, geminiKey, accessibility, workspace, env.notifications, env.executor};
  RecordingAnalyticsClient client;
  platform::fake::MapBundleInfo bundle{{{"DiziZozAPIKey", "phc_key"}, {"DiziZozHost", "https://eu.example"}}};
  platform::fake::FixedMachineIdentity machine{"6F1C2D3E-0000-4000-8000-123456789ABC"};
  platform::fake::SeededRandom random{1};
  DeviceIdentity device{machine, env.defaults, random};
  Analytics analytics{client, bundle, device};
  bool done = false;

  void storeKey() { secrets.write(GeminiKeyManager::kService, GeminiKeyManager::kAccount, "AIzaStored"); }
  std::optional<std::string> storedKey() {
    auto read = secrets.read(GeminiKeyManager::kService, GeminiKeyManager::kAccount);
    if (read.status != platform::SecretStatus::ok) return std::nullopt;
    return read.value;
  }
};

}  // namespace quorvelle::test
