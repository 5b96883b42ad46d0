#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/linux/desktop/QtSystemInfo.h"

namespace {

// Each test runs in a process of its own, so the environment set here is what the system locale sees
// when Qt first reads it.
TEST(QtSystemInfo, PreferredLanguagesFollowTheUsersLocaleSettings) {
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  setenv("LANGUAGE", "de_DE:fr", 1);
  const auto languages = platform::QtSystemInfo().preferredLanguages();
  ASSERT_FALSE(languages.empty());
  EXPECT_EQ(languages.front(), "de-DE");
  EXPECT_NE(std::find(languages.begin(), languages.end(), "fr"), languages.end());
}

}  // namespace
