// The settings window's key section against a Secret Service that accepts calls and never answers them,
// on a session bus of the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "tests/support/SilentKeyringGeminiKey.h"
#include "ui/SettingsModel.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SettingsKeyring, ASaveTheKeyringNeverAnswersFailsWithinTheTimeOutAndTheSectionSaysSo) {
  test::SilentKeyringGeminiKey silent;
  ASSERT_EQ(silent.keyring.failure(), "");
  constexpr auto kTimeout = test::SilentKeyringGeminiKey::kTimeout;
  test::WaitingExecutor& answers = silent.answers;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system;
  AppSettings settings(defaults, system);
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::ManualWorkspace workspace;
  platform::NotificationCenter notifications;
  platform::fake::ManualExecutor main;
  SettingsModel model({settings, silent.geminiKey, accessibility, workspace, notifications, main});

  // The read made when the window is made cannot tell whether a key is stored, and says so.
  ASSERT_TRUE(answers.runUntil([&] { return !model.keyMessage().empty(); }, kTimeout + 10s));
  EXPECT_EQ(model.keyMessage(), GeminiKeyManager::kKeyringDidNotAnswer);
  EXPECT_FALSE(model.hasGeminiKey());

  model.setGeminiKeyInput("AIzaSyAbc123");
  const auto start = Clock::now();
  model.saveGeminiKey();
  EXPECT_LT(Clock::now() - start, kTimeout / 3) << "the window waited for the keyring";
  EXPECT_TRUE(model.keyBusy());

  ASSERT_TRUE(answers.runUntil([&] { return !model.keyBusy(); }, kTimeout + 10s));
  EXPECT_LT(Clock::now() - start, kTimeout + 5s) << "the save did not fail within the store's time-out";
  EXPECT_EQ(model.keyMessage(), GeminiKeyManager::kSaveFailed);
  EXPECT_FALSE(model.hasGeminiKey()) << "a key the keyring did not take is not shown as saved";
  EXPECT_EQ(model.geminiKeyInput(), "AIzaSyAbc123") << "nothing typed is lost";
  EXPECT_TRUE(model.canSaveGeminiKey()) << "the user can try again";
}

}  // namespace
}  // namespace quorvelle
