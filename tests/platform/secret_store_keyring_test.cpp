// Runs on a private session bus with an unlocked gnome-keyring (scripts/with-keyring.sh).
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/LibsecretSecretStore.h"

namespace {

using platform::LibsecretSecretStore;
using platform::SecretStatus;

constexpr std::string_view kService = "com.quorvelle.gemini";
constexpr std::string_view kAccount = "apiKey";

TEST(LibsecretKeyring, StoresReplacesReadsAndDeletesTheKey) {
  LibsecretSecretStore store;
  EXPECT_EQ(store.read(kService, kAccount).status, SecretStatus::notFound);
  EXPECT_EQ(store.remove(kService, kAccount), SecretStatus::notFound);

  ASSERT_EQ(store.write(kService, kAccount, "AIza-first-key"), SecretStatus::ok);
  ASSERT_EQ(store.write(kService, kAccount, "AIza-second-key"), SecretStatus::ok);
  const auto read = store.read(kService, kAccount);
  EXPECT_EQ(read.status, SecretStatus::ok);
  EXPECT_EQ(read.value, "AIza-second-key");

  // Items are told apart by both attributes.
  EXPECT_EQ(store.read(kService, "otherAccount").status, SecretStatus::notFound);
  EXPECT_EQ(store.read("com.quorvelle.other", kAccount).status, SecretStatus::notFound);

  // Replacing kept one item: one removal leaves nothing behind.
  EXPECT_EQ(store.remove(kService, kAccount), SecretStatus::ok);
  EXPECT_EQ(store.read(kService, kAccount).status, SecretStatus::notFound);
}

TEST(LibsecretKeyring, KeepsEmptyAndNonAsciiValuesExactly) {
  LibsecretSecretStore store;
  for (std::string value :
       {std::string(), std::string("ключ \xF0\x9F\x94\x91 key"), std::string("a\0b", 3)}) {
    ASSERT_EQ(store.write(kService, kAccount, value), SecretStatus::ok);
    const auto read = store.read(kService, kAccount);
    EXPECT_EQ(read.status, SecretStatus::ok);
    EXPECT_EQ(read.value, value);
  }
  EXPECT_EQ(store.remove(kService, kAccount), SecretStatus::ok);
}

TEST(LibsecretKeyring, AValueThatIsNotTextReadsAsFailed) {
  LibsecretSecretStore store;
  ASSERT_EQ(store.write(kService, kAccount, "\xff\xfe not utf-8"), SecretStatus::ok);
  EXPECT_EQ(store.read(kService, kAccount).status, SecretStatus::failed);
  EXPECT_EQ(store.remove(kService, kAccount), SecretStatus::ok);
}

TEST(LibsecretKeyring, ALockedKeyringAnswersFailedInsteadOfWaiting) {
  LibsecretSecretStore store(std::chrono::milliseconds(2000));
  ASSERT_EQ(store.write(kService, kAccount, "key"), SecretStatus::ok);
  // Lock the default collection the way the desktop does on screen lock; with no display to show an
  // unlock prompt on, nobody can answer one.
  ASSERT_EQ(
      std::system("dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
                  "org.freedesktop.Secret.Service.Lock "
                  "array:objpath:/org/freedesktop/secrets/aliases/default >/dev/null"),
      0);
  EXPECT_EQ(store.write(kService, kAccount, "other"), SecretStatus::failed);
  EXPECT_EQ(store.read(kService, kAccount).status, SecretStatus::failed);
  EXPECT_EQ(store.remove(kService, kAccount), SecretStatus::failed);
}

}  // namespace
