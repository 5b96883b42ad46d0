#include <gtest/gtest.h>

#include <string>

#include "platform/JsonDepth.h"

namespace {

std::string nested(std::size_t levels) {
  return std::string(levels, '[') + std::string(levels, ']');
}

TEST(JsonDepth, CountsOnlyBracketsOutsideStrings) {
  struct Case {
    const char* name;
    std::string text;
    bool deeperThanThree;
  };
  const Case cases[] = {
      {"scalar", "42", false},
      {"three levels", R"({"a":[{"b":1}]})", false},
      {"four levels", R"({"a":[{"b":[]}]})", true},
      {"siblings do not add up", "[[[]],[[]],[[]]]", false},
      {"brackets in a string", R"(["[[[[{{{{"])", false},
      {"escaped quote keeps the string open", R"(["\"[[[["])", false},
      {"escaped backslash ends the escape", R"(["\\",[[[]]]])", true},
      {"closing brackets in a string do not lower the depth", R"([[["]]]]",[]]]])", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::jsonTextNestsDeeperThan(c.text, 3), c.deeperThanThree) << c.name;
    EXPECT_EQ(platform::jsonValueNestsDeeperThan(nlohmann::json::parse(c.text), 3), c.deeperThanThree)
        << c.name;
  }
}

TEST(JsonDepth, BoundedParseRefusesTooDeepTextAndKeepsTheRest) {
  EXPECT_EQ(platform::parseBoundedJson(R"({"a":[1,2]})"), nlohmann::json::parse(R"({"a":[1,2]})"));
  EXPECT_TRUE(platform::parseBoundedJson("{").is_discarded());
  EXPECT_FALSE(platform::parseBoundedJson(nested(platform::maxJsonDepth)).is_discarded());
  EXPECT_TRUE(platform::parseBoundedJson(nested(platform::maxJsonDepth + 1)).is_discarded());
  EXPECT_TRUE(platform::parseBoundedJson(nested(100'000)).is_discarded());
}

}  // namespace
