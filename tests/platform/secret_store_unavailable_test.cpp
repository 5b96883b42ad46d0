#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "tests/support/TestEnvironment.h"

namespace {

using platform::LibsecretSecretStore;
using platform::SecretStatus;

TEST(LibsecretUnavailable, NoSessionBusAnswersFailedAndLogsOnce) {
  quorvelle::test::TempDir dir;
  // A bus address nobody listens on: the state of a session without D-Bus.
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
  std::vector<std::string> lines;
  auto previous =
      platform::setLogSink([&](platform::LogLevel, std::string_view line) { lines.emplace_back(line); });

  LibsecretSecretStore store;
  EXPECT_EQ(store.read("com.quorvelle.gemini", "apiKey").status, SecretStatus::failed);
  EXPECT_EQ(store.write("com.quorvelle.gemini", "apiKey", "key"), SecretStatus::failed);
  EXPECT_EQ(store.remove("com.quorvelle.gemini", "apiKey"), SecretStatus::failed);
  EXPECT_EQ(store.read("com.quorvelle.gemini", "apiKey").status, SecretStatus::failed);

  platform::setLogSink(previous);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("read failed"), std::string::npos) << lines[0];
}

// The store opens libsecret with its first call: a library that cannot be opened, or one that lacks
// libsecret's functions, makes every call answer `unavailable`, says why once, and crashes nothing.
TEST(LibsecretUnavailable, ALibraryThatCannotBeUsedAnswersUnavailableAndSaysWhyOnce) {
  struct Case {
    const char* name;
    const char* library;
    const char* reason;  // in the log line
  };
  for (const Case& c : {
           Case{"missing", "libsecret-missing-for-tests.so.0", "libsecret-missing-for-tests.so.0"},
           Case{"not libsecret", "libz.so.1", "secret_service_search"},
       }) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines;
    auto previous =
        platform::setLogSink([&](platform::LogLevel, std::string_view line) { lines.emplace_back(line); });
    LibsecretSecretStore store(LibsecretSecretStore::kDefaultTimeout, c.library);
    EXPECT_EQ(store.read("com.quorvelle.gemini", "apiKey").status, SecretStatus::unavailable);
    EXPECT_EQ(store.write("com.quorvelle.gemini", "apiKey", "key"), SecretStatus::unavailable);
    EXPECT_EQ(store.remove("com.quorvelle.gemini", "apiKey"), SecretStatus::unavailable);
    platform::setLogSink(previous);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("keyring cannot be used"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
  }
}

}  // namespace
