#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GlobalShortcuts/KeyEvent.h"
#include "GlobalShortcuts/MenuTree.h"
#include "GlobalShortcuts/Shortcut.h"
#include "platform/HotKeySystem.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"

using GlobalShortcuts::Key;
using GlobalShortcuts::KeyEvent;
using GlobalShortcuts::Menu;
using GlobalShortcuts::MenuItem;
using GlobalShortcuts::ModifierFlags;
using GlobalShortcuts::Shortcut;

namespace {

constexpr Shortcut::Integer kCommand = platform::carbon::command;
constexpr Shortcut::Integer kShift = platform::carbon::shift;
// Caps Lock has a Carbon bit but is no modifier of a shortcut.
constexpr Shortcut::Integer kCapsLock = 0x400;
constexpr Shortcut::Integer kOption = platform::carbon::option;
constexpr Shortcut::Integer kControl = platform::carbon::control;
constexpr Shortcut::Integer kFunction = platform::carbon::function;

class ShortcutTest : public ::testing::Test {
 protected:
  quorvelle::test::ShortcutsTestEnvironment env;
};

TEST(Shortcut, ConstructorsKeepOnlyTheFiveModifiers) {
  EXPECT_EQ(Shortcut(17, kCapsLock | kOption).carbonModifiers(), kOption);
  // Right-side modifier bits (0x2000 and up to 0x8000) and unknown high bits are dropped too.
  const Shortcut all(17, kCommand | kShift | kCapsLock | kOption | kControl | 0x2000 | 0x4000 | 0x8000 |
                             kFunction | (Shortcut::Integer{1} << 40));
  EXPECT_EQ(all.carbonModifiers(), kCommand | kShift | kOption | kControl | kFunction);
  EXPECT_EQ(all.carbonKeyCode(), 17);

  const Shortcut fromFlags(Key::t, ModifierFlags::option | ModifierFlags::capsLock |
                                       ModifierFlags::numericPad | ModifierFlags::help);
  EXPECT_EQ(fromFlags, Shortcut(17, kOption));
  EXPECT_EQ(fromFlags.modifiers(), ModifierFlags::option);
  EXPECT_EQ(fromFlags.key(), Key::t);
}

TEST(Shortcut, JsonIsCompactWithTheKeyCodeFirst) {
  EXPECT_EQ(Shortcut(Key::t, ModifierFlags::option).toJSON(),
            R"({"carbonKeyCode":17,"carbonModifiers":2048})");
  EXPECT_EQ(Shortcut(Key::r, ModifierFlags::option).toJSON(),
            R"({"carbonKeyCode":15,"carbonModifiers":2048})");
  EXPECT_EQ(Shortcut(Key::f12, ModifierFlags()).toJSON(), R"({"carbonKeyCode":111,"carbonModifiers":0})");
  const auto negative = Shortcut::fromJSON(R"({"carbonKeyCode":-3,"carbonModifiers":256})");
  ASSERT_TRUE(negative);
  EXPECT_EQ(negative->toJSON(), R"({"carbonKeyCode":-3,"carbonModifiers":256})");
}

TEST(Shortcut, DecodingTakesBothIntegersAsStored) {
  struct Case {
    const char* json;
    bool decodes;
    Shortcut::Integer code = 0;
    Shortcut::Integer modifiers = 0;
  };
  const Case cases[] = {
      {R"({"carbonKeyCode":17,"carbonModifiers":2048})", true, 17, 2048},
      {R"({"carbonModifiers":2048,"carbonKeyCode":17})", true, 17, 2048},
      {R"( { "carbonKeyCode" : 17 ,
             "carbonModifiers" : 2048 } )",
       true, 17, 2048},
      {R"({"carbonKeyCode":17,"carbonModifiers":2048,"extra":"ignored"})", true, 17, 2048},
      // Not normalised: a bit outside the five survives decoding.
      {R"({"carbonKeyCode":17,"carbonModifiers":3072})", true, 17, 3072},
      {R"({"carbonKeyCode":17})", false},
      {R"({"carbonModifiers":2048})", false},
      {R"({"carbonKeyCode":"17","carbonModifiers":2048})", false},
      {R"({"carbonKeyCode":17.5,"carbonModifiers":2048})", false},
      {R"({"carbonKeyCode":17,"carbonModifiers":null})", false},
      {R"({"carbonKeyCode":18446744073709551615,"carbonModifiers":0})", false},
      {R"([17,2048])", false},
      {R"({"carbonKeyCode":17,"carbonModifiers":2048)", false},
      {"", false},
  };
  for (const auto& c : cases) {
    const auto decoded = Shortcut::fromJSON(c.json);
    ASSERT_EQ(decoded.has_value(), c.decodes) << c.json;
    if (!decoded) continue;
    EXPECT_EQ(decoded->carbonKeyCode(), c.code) << c.json;
    EXPECT_EQ(decoded->carbonModifiers(), c.modifiers) << c.json;
  }
}

TEST(Shortcut, FromKeyEvents) {
  const ModifierFlags fnCommand = ModifierFlags::function | ModifierFlags::command;
  EXPECT_FALSE(Shortcut::fromEvent(KeyEvent{KeyEvent::Type::flagsChanged, 56, ModifierFlags::shift, false}));
  // Fn is dropped whatever the key, so F5 pressed with Fn is recorded as plain F5.
  EXPECT_EQ(Shortcut::fromEvent(KeyEvent{KeyEvent::Type::keyDown, 96, ModifierFlags::function, false}),
            Shortcut(96, 0));
  EXPECT_EQ(
      Shortcut::fromEvent(KeyEvent{KeyEvent::Type::keyUp, 17, fnCommand | ModifierFlags::capsLock, true}),
      Shortcut(17, kCommand));
}

TEST_F(ShortcutTest, SystemShortcutsAndWhatTheyTake) {
  using Entry = platform::SymbolicHotKeys::Entry;
  env.symbolicHotKeys.setEntries(std::vector<Entry>{
      {true, 111, 0},                                           // plain F12
      {true, 111, kCommand},                                    // Command+F12
      {true, Key::leftArrow.rawValue(), kControl | kFunction},  // the desktop adds Fn to arrows
      {true, 17, kOption | kFunction},                          // Fn kept on a letter
      {false, 1, kCommand},                                     // disabled
      {std::nullopt, 2, kCommand},
      {true, std::nullopt, kCommand},
      {true, 3, std::nullopt},
      {true, 111, kCommand},  // duplicates stay
  });
  const std::vector<Shortcut> expected{Shortcut(111, 0), Shortcut(111, kCommand),
                                       Shortcut(Key::leftArrow.rawValue(), kControl),
                                       Shortcut(17, kOption | kFunction), Shortcut(111, kCommand)};
  EXPECT_EQ(Shortcut::system(), expected);

  EXPECT_FALSE(Shortcut(111, 0).isTakenBySystem());
  EXPECT_TRUE(Shortcut(111, kCommand).isTakenBySystem());
  EXPECT_TRUE(Shortcut(Key::leftArrow.rawValue(), kControl).isTakenBySystem());
  EXPECT_FALSE(Shortcut(Key::leftArrow.rawValue(), kControl | kFunction).isTakenBySystem());
  EXPECT_FALSE(Shortcut(17, kOption).isTakenBySystem());
  EXPECT_FALSE(Shortcut(1, kCommand).isTakenBySystem());

  env.symbolicHotKeys.setEntries(std::nullopt);
  EXPECT_TRUE(Shortcut::system().empty());
  EXPECT_FALSE(Shortcut(111, kCommand).isTakenBySystem());
}

MenuItem item(std::string title, std::string keyEquivalent, ModifierFlags modifiers,
              std::shared_ptr<const Menu> submenu = nullptr) {
  return MenuItem{std::move(title), std::move(keyEquivalent), modifiers, std::move(submenu)};
}

TEST_F(ShortcutTest, MenuSearchComparesKeyEquivalentAndWholeMask) {
  const ModifierFlags command = ModifierFlags::command;
  const ModifierFlags commandShift = ModifierFlags::command | ModifierFlags::shift;
  const Shortcut commandShiftS(Key::s, commandShift);
  const Shortcut commandS(Key::s, command);

  // An upper-case equivalent is reached with Shift.
  const Menu upper{{item("Save As", "S", command)}};
  EXPECT_EQ(commandShiftS.menuItemWithMatchingShortcut(upper), &upper.items[0]);
  EXPECT_EQ(commandS.menuItemWithMatchingShortcut(upper), nullptr);

  const Menu lower{{item("Save As", "s", commandShift)}};
  EXPECT_EQ(commandShiftS.menuItemWithMatchingShortcut(lower), &lower.items[0]);

  // Any other flag in the item's mask prevents a match.
  const Menu extra{{item("Save", "s", command | ModifierFlags::numericPad)}};
  EXPECT_EQ(commandS.menuItemWithMatchingShortcut(extra), nullptr);

  // Special keys compare with their fixed symbol.
  const Menu special{{item("Send", "\u21A9", command)}};
  EXPECT_EQ(Shortcut(Key::return_, command).menuItemWithMatchingShortcut(special), &special.items[0]);
}

TEST_F(ShortcutTest, MenuSearchIsDepthFirstAndNeedsALayoutCharacter) {
  const ModifierFlags command = ModifierFlags::command;
  auto inner = std::make_shared<Menu>(Menu{{item("Deep", "q", command)}});
  const Menu menu{{item("File", "", ModifierFlags(), inner), item("Quit", "q", command)}};
  EXPECT_EQ(Shortcut(Key::q, command).menuItemWithMatchingShortcut(menu), &inner->items[0]);

  // The item itself is tested before its submenu.
  auto sub = std::make_shared<Menu>(Menu{{item("Child", "q", command)}});
  const Menu parentFirst{{item("Parent", "q", command, sub)}};
  EXPECT_EQ(Shortcut(Key::q, command).menuItemWithMatchingShortcut(parentFirst), &parentFirst.items[0]);

  env.layout = platform::fake::FakeKeyboardLayout::unavailable();
  EXPECT_EQ(Shortcut(Key::q, command).menuItemWithMatchingShortcut(menu), nullptr);
  const Menu special{{item("Close", "\u238B", command)}};
  EXPECT_EQ(Shortcut(Key::escape, command).menuItemWithMatchingShortcut(special), &special.items[0]);
}

TEST_F(ShortcutTest, MenuAndQtEquivalents) {
  struct Case {
    Shortcut shortcut;
    std::optional<std::string> menuEquivalent;
    std::optional<QKeySequence> sequence;
  };
  const Case cases[] = {
      {Shortcut(Key::t, ModifierFlags::option), "t", QKeySequence(Qt::AltModifier | Qt::Key_T)},
      // Command is Ctrl and Control is Meta at the Linux edge.
      {Shortcut(Key::one, ModifierFlags::command | ModifierFlags::control), "1",
       QKeySequence(Qt::ControlModifier | Qt::MetaModifier | Qt::Key_1)},
      {Shortcut(Key::comma, ModifierFlags::shift), ",", QKeySequence(Qt::ShiftModifier | Qt::Key_Comma)},
      {Shortcut(Key::return_, ModifierFlags::command), "\u21A9",
       QKeySequence(Qt::ControlModifier | Qt::Key_Return)},
      {Shortcut(Key::help, ModifierFlags()), "?\u20DD", QKeySequence(Qt::Key_Help)},
      {Shortcut(Key::space, ModifierFlags::option), " ", QKeySequence(Qt::AltModifier | Qt::Key_Space)},
      {Shortcut(Key::f5, ModifierFlags()), "\uF708", QKeySequence(Qt::Key_F5)},
      {Shortcut(Key::f20, ModifierFlags()), "\uF717", QKeySequence(Qt::Key_F20)},
      {Shortcut(Key::keypad1, ModifierFlags::command), std::nullopt, std::nullopt},
      {Shortcut(Key::keypadEnter, ModifierFlags()), std::nullopt, std::nullopt},
      // A key code without a key position, and a volume key the layout cannot type.
      {Shortcut(10, 0), std::nullopt, std::nullopt},
      {Shortcut(Key::mute, ModifierFlags()), std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shortcut.toJSON());
    EXPECT_EQ(c.shortcut.menuItemKeyEquivalent(), c.menuEquivalent);
    EXPECT_EQ(c.shortcut.toQKeySequence(), c.sequence);
  }
}

TEST_F(ShortcutTest, LayoutTextMustBeExactlyOneCharacter) {
  const Shortcut t(Key::t, ModifierFlags::option);
  struct Case {
    std::string text;
    std::optional<std::string> character;
  };
  const Case cases[] = {
      {"e\u0301", "e\u0301"},  // one character written with a combining accent
      {"\u00E9", "\u00E9"},
      {"ab", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    env.layout.setText("AD05", c.text);
    EXPECT_EQ(t.menuItemKeyEquivalent(), c.character) << c.text;
  }
  env.layout.setText("AD05", "\u00E9");
  EXPECT_EQ(t.toQKeySequence(), QKeySequence(QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(0xC9))));
  // Upper case one to one: "ß" (whose full upper case is "SS") is Qt's ß key.
  env.layout.setText("AD05", "\u00DF");
  EXPECT_EQ(t.toQKeySequence(), QKeySequence(Qt::AltModifier | Qt::Key_ssharp));
}

}  // namespace
