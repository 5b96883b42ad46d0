#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/KeyNames.h"

using GlobalShortcuts::Key;

TEST(Key, CodesAreCarbonPositionsAndUnnamedCodesAreKeysToo) {
  EXPECT_EQ(Key::a.rawValue(), 0);
  EXPECT_EQ(Key::b.rawValue(), 11);
  EXPECT_EQ(Key::t.rawValue(), 17);
  EXPECT_EQ(Key::r.rawValue(), 15);
  EXPECT_EQ(Key::d.rawValue(), 2);
  EXPECT_EQ(Key::c.rawValue(), 8);
  EXPECT_EQ(Key::v.rawValue(), 9);
  EXPECT_EQ(Key::zero.rawValue(), 29);
  EXPECT_EQ(Key::f17.rawValue(), 64);
  EXPECT_EQ(Key::f20.rawValue(), 90);
  EXPECT_EQ(Key::keypad8.rawValue(), 91);
  EXPECT_EQ(Key::return_.rawValue(), 36);
  EXPECT_EQ(Key::delete_.rawValue(), 51);

  const Key ten(10);
  EXPECT_EQ(ten.rawValue(), 10);
  EXPECT_EQ(ten, Key(10));
  EXPECT_NE(ten, Key::b);
  EXPECT_NE(ten, Key::a);
  EXPECT_EQ(std::hash<Key>{}(Key(17)), std::hash<Key>{}(Key::t));
}

TEST(Key, FunctionKeySets) {
  const auto& functionKeys = Key::functionKeys();
  const auto& synthesized = Key::keysWithSynthesizedFunctionModifier();
  EXPECT_EQ(functionKeys.size(), 20u);
  EXPECT_EQ(synthesized.size(), 31u);
  for (const Key key : functionKeys) EXPECT_TRUE(synthesized.contains(key)) << key.rawValue();

  for (const Key key :
       {Key::f1, Key::f20, Key::help, Key::deleteForward, Key::keypadClear, Key::home, Key::end, Key::pageUp,
        Key::pageDown, Key::upArrow, Key::rightArrow, Key::downArrow, Key::leftArrow}) {
    EXPECT_TRUE(synthesized.contains(key)) << key.rawValue();
  }
  EXPECT_TRUE(synthesized.contains(Key(90)));
  EXPECT_TRUE(synthesized.contains(Key(114)));
  for (const Key key : {Key::escape, Key::delete_, Key::return_, Key::a, Key::keypad0, Key(10)}) {
    EXPECT_FALSE(synthesized.contains(key)) << key.rawValue();
  }
  EXPECT_FALSE(functionKeys.contains(Key::help));
}

namespace {

// Canonical key names (not aliases) of the evdev keycodes file that every X server here uses.
std::set<std::string> evdevKeyNames() {
  std::ifstream file("/usr/share/X11/xkb/keycodes/evdev");
  std::set<std::string> names;
  const std::regex definition(R"(^\s*<([^>]+)>\s*=\s*[0-9]+\s*;)");
  std::smatch match;
  for (std::string line; std::getline(file, line);) {
    if (std::regex_search(line, match, definition)) names.insert(match[1]);
  }
  return names;
}

}  // namespace

TEST(KeyNames, EveryNamedCodeMapsToAnEvdevKeyAndBack) {
  const auto evdev = evdevKeyNames();
  ASSERT_GT(evdev.size(), 100u) << "xkb-data's evdev keycodes file is missing";

  std::map<std::string, Key> seen;
  for (Key::RawValue code = -1; code <= 256; ++code) {
    const auto name = GlobalShortcuts::xkbKeyName(Key(code));
    if (!name) continue;
    const std::string text(*name);
    EXPECT_TRUE(evdev.contains(text)) << code << " -> " << text;
    EXPECT_TRUE(seen.emplace(text, Key(code)).second) << text << " named twice";
    EXPECT_EQ(GlobalShortcuts::keyForXkbKeyName(text), Key(code)) << text;
  }
  // All 113 named keys but Function, which has no X11 key.
  EXPECT_EQ(seen.size(), 112u);
  EXPECT_FALSE(GlobalShortcuts::xkbKeyName(Key::function));
  EXPECT_FALSE(GlobalShortcuts::xkbKeyName(Key(10)));
}

TEST(KeyNames, PhysicalPositions) {
  const std::pair<Key, const char*> cases[] = {
      {Key::a, "AC01"},
      {Key::c, "AB03"},
      {Key::v, "AB04"},
      {Key::t, "AD05"},
      {Key::r, "AD04"},
      {Key::d, "AC03"},
      {Key::escape, "ESC"},
      {Key::return_, "RTRN"},
      {Key::space, "SPCE"},
      {Key::delete_, "BKSP"},
      {Key::one, "AE01"},
      {Key::zero, "AE10"},
      {Key::backtick, "TLDE"},
      {Key::f1, "FK01"},
      {Key::f13, "FK13"},
      {Key::f20, "FK20"},
      {Key::upArrow, "UP"},
      {Key::rightArrow, "RGHT"},
      {Key::keypad0, "KP0"},
      {Key::keypadEnter, "KPEN"},
      {Key::help, "INS"},
      {Key::keypadClear, "NMLK"},
      // Modifier keys follow the edge rule: Command is Control, Control is Super, Option is Alt.
      {Key::command, "LCTL"},
      {Key::control, "LWIN"},
      {Key::option, "LALT"},
      {Key::rightCommand, "RCTL"},
  };
  for (const auto& [key, name] : cases) EXPECT_EQ(GlobalShortcuts::xkbKeyName(key), name) << key.rawValue();

  EXPECT_FALSE(GlobalShortcuts::keyForXkbKeyName("AC12"));  // an alias of BKSL
  EXPECT_FALSE(GlobalShortcuts::keyForXkbKeyName("LSGT"));  // ISO key, not on ANSI
  EXPECT_FALSE(GlobalShortcuts::keyForXkbKeyName(""));
}
