#include <gtest/gtest.h>

#include <any>
#include <cstdint>
#include <string>

#include "GlobalShortcuts/Character.h"
#include "GlobalShortcuts/FunctionKeys.h"
#include "GlobalShortcuts/ModifierFlags.h"
#include "GlobalShortcuts/NotificationUserInfo.h"

using GlobalShortcuts::EventModifiers;
using GlobalShortcuts::ModifierFlags;

TEST(ModifierFlags, CarbonToCocoa) {
  const std::pair<std::int64_t, ModifierFlags::RawValue> cases[] = {
      {0x1800, 0xC0000},              // Control + Option
      {0x1000, 0x40000},              // Control
      {0x800, 0x80000},               // Option
      {0x200, 0x20000},               // Shift
      {0x100, 0x100000},              // Command
      {0x20000, 0x800000},            // Function
      {0x400, 0},                     // Caps Lock has no flag here
      {0x2000 | 0x4000 | 0x8000, 0},  // right-side modifier bits
      {0x21B00 | 0x400 | 0x1, 0x9E0000},
      {0, 0},
  };
  for (const auto& [carbon, cocoa] : cases) {
    EXPECT_EQ(ModifierFlags::fromCarbon(carbon).rawValue(), cocoa) << std::hex << carbon;
  }
}

TEST(ModifierFlags, CocoaToCarbonDropsFlagsWithoutACarbonBit) {
  const std::pair<ModifierFlags, std::int64_t> cases[] = {
      {ModifierFlags::control | ModifierFlags::option, 0x1800},
      {ModifierFlags::capsLock | ModifierFlags::option, 0x800},
      {ModifierFlags::numericPad | ModifierFlags::command, 0x100},
      {ModifierFlags::shift | ModifierFlags::function, 0x20200},
      {ModifierFlags::help, 0},
      {ModifierFlags(0xFFFF), 0},  // device-dependent bits
      {ModifierFlags(0xFFFFFFFF), 0x21B00},
  };
  for (const auto& [cocoa, carbon] : cases) EXPECT_EQ(cocoa.carbon(), carbon) << std::hex << cocoa.rawValue();
}

TEST(ModifierFlags, RoundTripsKeepExactlyTheFiveModifiers) {
  const ModifierFlags five[] = {ModifierFlags::control, ModifierFlags::option, ModifierFlags::shift,
                                ModifierFlags::command, ModifierFlags::function};
  for (unsigned subset = 0; subset < 32; ++subset) {
    ModifierFlags flags;
    for (unsigned bit = 0; bit < 5; ++bit) {
      if (subset & (1u << bit)) flags |= five[bit];
    }
    EXPECT_EQ(ModifierFlags::fromCarbon(flags.carbon()), flags) << subset;
    EXPECT_EQ(
        ModifierFlags::fromCarbon((flags | ModifierFlags::capsLock | ModifierFlags::numericPad).carbon()),
        flags);
    EXPECT_EQ(ModifierFlags::fromCarbon(flags.carbon() | 0x400).carbon(), flags.carbon());
  }
}

TEST(ModifierFlags, SymbolRowHasAFixedOrder) {
  const auto all = ModifierFlags::function | ModifierFlags::command | ModifierFlags::shift |
                   ModifierFlags::option | ModifierFlags::control;
  EXPECT_EQ(all.ks_symbolicRepresentation(), "\u2303\u2325\u21E7\u2318\U0001F310\uFE0E");
  EXPECT_EQ((ModifierFlags::command | ModifierFlags::option).ks_symbolicRepresentation(), "\u2325\u2318");
  EXPECT_EQ((ModifierFlags::shift | ModifierFlags::capsLock | ModifierFlags::numericPad)
                .ks_symbolicRepresentation(),
            "\u21E7");
  EXPECT_EQ(ModifierFlags().ks_symbolicRepresentation(), "");
}

TEST(ModifierFlags, EventModifiersKeepCapsLockAndNumericPad) {
  const auto flags = ModifierFlags::capsLock | ModifierFlags::option;
  EXPECT_EQ(flags.carbon(), 0x800);
  EXPECT_EQ(flags.toEventModifiers(), EventModifiers::capsLock | EventModifiers::option);

  const auto all = ModifierFlags(0xBF0000);
  EXPECT_EQ(all.toEventModifiers().rawValue(), 127u);
  EXPECT_EQ(ModifierFlags::function.toEventModifiers().rawValue(), 64u);
  EXPECT_TRUE(ModifierFlags::help.toEventModifiers().isEmpty());
}

TEST(ModifierFlags, QtModifiersFollowTheLinuxEdgeRule) {
  const std::pair<ModifierFlags, Qt::KeyboardModifiers> cases[] = {
      {ModifierFlags::command, Qt::ControlModifier},
      {ModifierFlags::control, Qt::MetaModifier},
      {ModifierFlags::option, Qt::AltModifier},
      {ModifierFlags::shift, Qt::ShiftModifier},
      {ModifierFlags::numericPad, Qt::KeypadModifier},
      {ModifierFlags::command | ModifierFlags::shift, Qt::ControlModifier | Qt::ShiftModifier},
  };
  for (const auto& [flags, qt] : cases) {
    EXPECT_EQ(flags.toQt(), qt) << std::hex << flags.rawValue();
    EXPECT_EQ(ModifierFlags::fromQt(qt), flags) << std::hex << flags.rawValue();
  }
  // Caps Lock and Function have no Qt modifier.
  EXPECT_EQ((ModifierFlags::capsLock | ModifierFlags::function | ModifierFlags::option).toQt(),
            Qt::KeyboardModifiers(Qt::AltModifier));
  EXPECT_EQ(ModifierFlags::fromQt(Qt::GroupSwitchModifier), ModifierFlags());
  // Command-C in Carbon units is Ctrl+C at the edge; the default Option+T is Alt+T.
  EXPECT_EQ(ModifierFlags::fromCarbon(0x100).toQt(), Qt::KeyboardModifiers(Qt::ControlModifier));
  EXPECT_EQ(ModifierFlags::fromCarbon(0x800).toQt(), Qt::KeyboardModifiers(Qt::AltModifier));
  EXPECT_EQ(ModifierFlags::fromQt(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier).carbon(), 0x1900);
}

TEST(Character, FromUnicodeScalarValue) {
  const std::pair<std::int64_t, std::optional<char32_t>> cases[] = {
      {-1, std::nullopt},
      {0, U'\0'},
      {0x41, U'A'},
      {0xD7FF, U'\uD7FF'},
      {0xD800, std::nullopt},
      {0xDFFF, std::nullopt},
      {0xE000, U'\uE000'},
      {0xF704, U'\uF704'},
      {0x10FFFF, U'\U0010FFFF'},
      {0x110000, std::nullopt},
      {INT64_MIN, std::nullopt},
      {INT64_MAX, std::nullopt},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(GlobalShortcuts::characterFromUnicodeScalarValue(value), expected) << std::hex << value;
  }
  EXPECT_EQ(GlobalShortcuts::utf8(U'T'), "T");
  EXPECT_EQ(GlobalShortcuts::utf8(U'\u00E9'), "\u00E9");
  EXPECT_EQ(GlobalShortcuts::utf8(U'\uF704'), "\uF704");
  EXPECT_EQ(GlobalShortcuts::utf8(U'\U0001F310'), "\U0001F310");
}

TEST(FunctionKeys, F1ToF35AreTheirPrivateUseCharacters) {
  const auto& characters = GlobalShortcuts::functionKeyCharacters();
  EXPECT_EQ(characters.size(), 35u);
  EXPECT_TRUE(characters.contains(0xF704));
  EXPECT_TRUE(characters.contains(0xF726));
  EXPECT_FALSE(characters.contains(0xF703));  // right arrow
  EXPECT_FALSE(characters.contains(0xF727));  // insert

  EXPECT_EQ(GlobalShortcuts::functionKeyCharacter(Qt::Key_F1), char32_t{0xF704});
  EXPECT_EQ(GlobalShortcuts::functionKeyCharacter(Qt::Key_F12), char32_t{0xF70F});
  EXPECT_EQ(GlobalShortcuts::functionKeyCharacter(Qt::Key_F35), char32_t{0xF726});
  for (const int other :
       {int(Qt::Key_Escape), int(Qt::Key_Tab), int(Qt::Key_T), int(Qt::Key_F1) - 1, int(Qt::Key_F35) + 1}) {
    EXPECT_FALSE(GlobalShortcuts::functionKeyCharacter(other)) << std::hex << other;
  }
}

TEST(NotificationUserInfo, ValuesOfTheRightTypeOnly) {
  using GlobalShortcuts::globalShortcutsName;
  using GlobalShortcuts::Name;
  using GlobalShortcuts::recorderIsActive;
  using platform::Notification;
  using platform::UserInfo;

  const Notification bare{"n", std::nullopt};
  EXPECT_FALSE(recorderIsActive(bare));
  EXPECT_FALSE(globalShortcutsName(bare));

  const Notification empty{"n", UserInfo{}};
  EXPECT_FALSE(recorderIsActive(empty));
  EXPECT_FALSE(globalShortcutsName(empty));

  const Notification wrongTypes{
      "n", UserInfo{{"isActive", std::string("true")}, {"name", std::string("translate")}}};
  EXPECT_FALSE(recorderIsActive(wrongTypes));
  EXPECT_FALSE(globalShortcutsName(wrongTypes));

  const Notification active{"n", UserInfo{{"isActive", true}, {"name", Name::fromRawValue("translate")}}};
  EXPECT_TRUE(recorderIsActive(active));
  EXPECT_EQ(globalShortcutsName(active)->rawValue(), "translate");

  const Notification inactive{"n", UserInfo{{"isActive", false}}};
  EXPECT_FALSE(recorderIsActive(inactive));
}
