#include <gtest/gtest.h>

#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "platform/fake/MemorySecretStore.h"

namespace {

using platform::fake::MemorySecretStore;
using quorvelle::GeminiKeyManager;
using quorvelle::Keychain;

constexpr std::string_view kService = GeminiKeyManager::kService;
constexpr std::string_view kAccount = GeminiKeyManager::kAccount;

TEST(Keychain, SavesReplacesReadsAndDeletes) {
  MemorySecretStore store;
  const Keychain keychain(store);
  EXPECT_EQ(keychain.read(kService, kAccount), std::nullopt);
  keychain.remove(kService, kAccount);  // deleting a missing item does nothing

  keychain.save("first", kService, kAccount);
  keychain.save("second", kService, kAccount);
  EXPECT_EQ(keychain.read(kService, kAccount), "second");
  EXPECT_EQ(keychain.read(kService, "other"), std::nullopt);

  keychain.save("", kService, kAccount);
  EXPECT_EQ(keychain.read(kService, kAccount), "") << "an empty key is a present key";

  keychain.remove(kService, kAccount);
  EXPECT_EQ(keychain.read(kService, kAccount), std::nullopt);
}

TEST(Keychain, FailuresAreSilentAndReadAsNoKey) {
  MemorySecretStore store;
  const Keychain keychain(store);
  keychain.save("key", kService, kAccount);
  store.setFailing(true);
  EXPECT_EQ(keychain.read(kService, kAccount), std::nullopt);
  keychain.save("other", kService, kAccount);
  keychain.remove(kService, kAccount);
  store.setFailing(false);
  EXPECT_EQ(keychain.read(kService, kAccount), "key") << "failed calls changed nothing";
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

TEST(GeminiKeyManager, MaskedKeyReadsTheKeyringEachTime) {
  MemorySecretStore store;
  const GeminiKeyManager manager(store);
  EXPECT_EQ(manager.maskedKey(), std::nullopt);
  Keychain(store).save("AIzaSyAbc123", kService, kAccount);
  EXPECT_EQ(manager.maskedKey(), "••••c123");
  store.setFailing(true);
  EXPECT_EQ(manager.maskedKey(), std::nullopt);
}

}  // namespace
