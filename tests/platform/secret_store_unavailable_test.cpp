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

}  // namespace
