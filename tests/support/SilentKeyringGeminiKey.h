#pragma once

#include <chrono>

#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/SilentKeyring.h"
#include "tests/support/WaitingExecutor.h"

namespace quorvelle::test {

// The application's Gemini key over the real keyring store, talking to a SilentKeyring: every call waits
// for the store's time-out (kTimeout) and its answer comes on `answers`, which the test runs. Check
// `keyring.failure()` first. Test code only.
struct SilentKeyringGeminiKey {
  static constexpr std::chrono::milliseconds kTimeout{1500};

  // First, so that libsecret's first connection goes to the silent bus.
  SilentKeyring keyring;
  platform::LibsecretSecretStore store{kTimeout};
  WaitingExecutor answers;
  // After the store and `answers`, so that it ends (waiting for the call it runs) before they do.
  platform::ThreadSerialQueue worker{"keyring"};
  Keychain keychain{store, worker, answers};
  GeminiKeyManager geminiKey{keychain};
};

}  // namespace quorvelle::test
