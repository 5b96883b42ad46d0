// A Secret Service that accepts calls and never answers them, on a session bus of the test's own (the
// bus scripts/with-keyring.sh gives each test already has a working gnome-keyring on it).
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/SilentKeyring.h"
#include "tests/support/WaitingExecutor.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(KeychainKeyring, AKeyringThatNeverAnswersNeitherBlocksTheCallerNorReadsAsNoKey) {
  const test::SilentKeyring keyring;
  ASSERT_EQ(keyring.failure(), "");

  constexpr auto kTimeout = 1500ms;
  platform::LibsecretSecretStore store(kTimeout);
  platform::ThreadSerialQueue worker("keyring");
  test::WaitingExecutor main;
  const Keychain keychain(store, worker, main);
  const GeminiKeyManager geminiKey(keychain);

  const auto start = Clock::now();
  std::optional<platform::SecretReadResult> key;
  geminiKey.readKey([&](platform::SecretReadResult r) { key = std::move(r); });
  EXPECT_LT(Clock::now() - start, kTimeout / 3) << "the caller waited for the keyring";

  // Meanwhile the caller's thread goes on with its own work.
  bool otherWorkDone = false;
  main.post([&] { otherWorkDone = true; });
  ASSERT_TRUE(main.runUntil([&] { return otherWorkDone; }, 100ms));
  EXPECT_FALSE(key.has_value());

  ASSERT_TRUE(main.runUntil([&] { return key.has_value(); }, 10s));
  EXPECT_GE(Clock::now() - start, kTimeout);
  EXPECT_EQ(key->status, platform::SecretStatus::failed) << "a keyring that did not answer is no missing key";
}

}  // namespace
}  // namespace quorvelle
