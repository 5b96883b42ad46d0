#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/Random.h"

TEST(Log, SinkCapturesLinesAndRestoresPrevious) {
  std::vector<std::string> lines;
  auto previous = platform::setLogSink([&](platform::LogLevel level, std::string_view text) {
    lines.push_back(std::to_string(static_cast<int>(level)) + ":" + std::string(text));
  });
  platform::log(platform::LogLevel::warning, "moved aside");
  auto mine = platform::setLogSink(previous);
  EXPECT_TRUE(static_cast<bool>(mine));
  platform::log(platform::LogLevel::info, "to stderr");
  EXPECT_EQ(lines, std::vector<std::string>{"2:moved aside"});
}

TEST(SystemRandom, FillsLargeBuffersWithoutRepeating) {
  std::array<std::uint8_t, 4096> a{}, b{};
  EXPECT_TRUE(platform::SystemRandom::shared().fill(a));
  EXPECT_TRUE(platform::SystemRandom::shared().fill(b));
  EXPECT_NE(a, b);
  EXPECT_NE(platform::SystemRandom::shared().next64(), platform::SystemRandom::shared().next64());
}
