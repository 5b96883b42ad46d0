// A Secret Service that accepts calls and never answers them, on a session bus of the test's own (the
// bus scripts/with-keyring.sh gives each test already has a working gnome-keyring on it).
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "tests/support/SilentKeyringGeminiKey.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(KeychainKeyring, AKeyringThatNeverAnswersNeitherBlocksTheCallerNorReadsAsNoKey) {
  test::SilentKeyringGeminiKey silent;
  ASSERT_EQ(silent.keyring.failure(), "");
  constexpr auto kTimeout = test::SilentKeyringGeminiKey::kTimeout;
  test::WaitingExecutor& main = silent.answers;

  const auto start = Clock::now();
  std::optional<platform::SecretReadResult> key;
  silent.geminiKey.readKey([&](platform::SecretReadResult r) { key = std::move(r); });
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
