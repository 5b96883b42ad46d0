#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualSerialQueue.h"
#include "platform/fake/MemorySecretStore.h"

namespace {

using platform::SecretStatus;
using platform::fake::MemorySecretStore;
using quorvelle::GeminiKeyManager;
using quorvelle::Keychain;

constexpr std::string_view kService = GeminiKeyManager::kService;
constexpr std::string_view kAccount = GeminiKeyManager::kAccount;

struct KeychainTest : testing::Test {
  // The stored text, "(none)" for no item and "(failed)" for a failed read.
  std::string read(std::string_view account = kAccount) {
    std::optional<std::string> answer;
    keychain.read(kService, account, [&](platform::SecretReadResult r) {
      answer = r.status == SecretStatus::ok         ? r.value
               : r.status == SecretStatus::notFound ? "(none)"
                                                    : "(failed)";
    });
    executor.runUntilIdle();
    return answer.value_or("(no answer)");
  }

  MemorySecretStore store;
  platform::fake::InlineSerialQueue worker;
  platform::fake::ManualExecutor executor;
  Keychain keychain{store, worker, executor};
};

TEST_F(KeychainTest, SavesReplacesReadsAndDeletes) {
  EXPECT_EQ(read(), "(none)");
  keychain.remove(kService, kAccount);  // deleting a missing item does nothing

  keychain.save("first", kService, kAccount);
  keychain.save("second", kService, kAccount);
  EXPECT_EQ(read(), "second");
  EXPECT_EQ(read("other"), "(none)");

  keychain.save("", kService, kAccount);
  EXPECT_EQ(read(), "") << "an empty key is a present key";

  keychain.remove(kService, kAccount);
  EXPECT_EQ(read(), "(none)");
}

// A keyring that fails is not a keyring without the key.
TEST_F(KeychainTest, FailuresAreToldApartFromAMissingItemAndChangeNothing) {
  keychain.save("key", kService, kAccount);
  store.setFailing(true);
  EXPECT_EQ(read(), "(failed)");
  keychain.save("other", kService, kAccount);
  keychain.remove(kService, kAccount);
  store.setFailing(false);
  EXPECT_EQ(read(), "key") << "failed calls changed nothing";
}

// The caller never waits for the keyring: every call runs on the worker, in order, and the answer comes
// on the completions' executor.
TEST_F(KeychainTest, CallsRunOnTheWorkerInOrderAndAnswerOnTheExecutor) {
  platform::fake::ManualSerialQueue slowWorker;
  const Keychain slow(store, slowWorker, executor);
  std::optional<platform::SecretReadResult> answer;
  slow.save("key", kService, kAccount);
  slow.read(kService, kAccount, [&](platform::SecretReadResult r) { answer = r; });
  EXPECT_EQ(store.readCount(), 0);
  slowWorker.drain();
  EXPECT_FALSE(answer) << "answers arrive on the executor";
  executor.runUntilIdle();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, SecretStatus::ok);
  EXPECT_EQ(answer->value, "key");
}

TEST(GeminiKeyManager, MasksTheStoredKey) {
  const std::pair<std::string, std::string> cases[] = {
      {"AIzaSyAbc123", "••••c123"},
      {"abc", "••••abc"},
      {"abcd", "••••abcd"},
      {"", "••••"},
      // User-perceived characters: a flag and an accented letter count as one each.
      {"key-é🇩🇪xyz", "••••🇩🇪xyz"},
      {"abcde\u0301", "••••bcde\u0301"},
  };
  for (const auto& [key, masked] : cases) {
    EXPECT_EQ(GeminiKeyManager::mask(key), masked) << key;
  }
}

// The trimming that every place storing a typed key shares, and the keyring's answer to each write.
TEST_F(KeychainTest, SavesTheTrimmedKeyAndAnswersEachWriteOnTheExecutor) {
  const GeminiKeyManager manager(keychain);
  std::vector<SecretStatus> answers;
  auto answer = [&](SecretStatus status) { answers.push_back(status); };

  EXPECT_FALSE(manager.saveKey(" \n\t", answer)) << "nothing to store";
  EXPECT_TRUE(manager.saveKey("\u00a0 AIza key\r\n", answer));
  EXPECT_TRUE(answers.empty()) << "answers arrive on the executor";
  executor.runUntilIdle();
  EXPECT_EQ(read(), "AIza key") << "trimmed at both ends, inner space kept";
  manager.removeKey(answer);
  manager.removeKey(answer);
  store.setFailing(true);
  EXPECT_TRUE(manager.saveKey("other", answer));
  manager.removeKey(answer);
  executor.runUntilIdle();
  EXPECT_EQ(answers, (std::vector{SecretStatus::ok, SecretStatus::ok, SecretStatus::notFound,
                                  SecretStatus::failed, SecretStatus::failed}));
}

}  // namespace
