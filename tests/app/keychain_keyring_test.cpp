// A Secret Service that accepts calls and never answers them, on a session bus of the test's own (the
// bus scripts/with-keyring.sh gives each test already has a working gnome-keyring on it).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/WaitingExecutor.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(KeychainKeyring, AKeyringThatNeverAnswersNeitherBlocksTheCallerNorReadsAsNoKey) {
  test::ChildProcess bus({"dbus-daemon", "--session", "--nofork", "--print-address=1"});
  ASSERT_TRUE(bus.waitForOutput("\n")) << "no dbus-daemon";
  const std::string address = bus.output().substr(0, bus.output().find('\n'));
  // Before libsecret first connects: it keeps its connection for the life of the process.
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  test::ChildProcess silent({QUORVELLE_BINARY_DIR "/tools/silent-secret-service"});
  ASSERT_TRUE(silent.waitForOutput("ready\n")) << silent.output();

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
