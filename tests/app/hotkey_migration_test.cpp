#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GlobalShortcuts/ShortcutStorage.h"
#include "app/AppSettings.h"
#include "app/ShortcutNames.h"
#include "platform/Log.h"
#include "platform/fake/FixedSystemInfo.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"

namespace {

using GlobalShortcuts::Shortcut;
using platform::DefaultsValue;
using quorvelle::AppSettings;

// Carbon key codes and modifier masks, as earlier versions stored them.
constexpr int kD = 2, kT = 17, kR = 15, kK = 40;
constexpr int kCommand = 0x100, kShift = 0x200, kOption = 0x800, kControl = 0x1000;

const char* const kLegacyKeys[] = {"hotkeyID",
                                   "hotkeyKeyCode",
                                   "hotkeyModifiers",
                                   "hotkeyKeyLabel",
                                   "refineHotkeyKeyCode",
                                   "refineHotkeyModifiers",
                                   "refineHotkeyKeyLabel"};

struct MigrationCase {
  const char* name;
  DefaultsValue::Dictionary legacy;
  Shortcut translate;
  Shortcut refine;
};

TEST(HotkeyMigration, MovesLegacyHotkeysIntoTheNamedShortcuts) {
  const MigrationCase cases[] = {
      {"nothing to migrate", {}, Shortcut(kT, kOption), Shortcut(kR, kOption)},
      {"stored code and modifiers win over the preset",
       {{"hotkeyKeyCode", kK}, {"hotkeyModifiers", kCommand | kShift}, {"hotkeyID", "opt-d"}},
       Shortcut(kK, kCommand | kShift),
       Shortcut(kR, kOption)},
      {"preset opt-d", {{"hotkeyID", "opt-d"}}, Shortcut(kD, kOption), Shortcut(kR, kOption)},
      {"preset ctrl-opt-t",
       {{"hotkeyID", "ctrl-opt-t"}},
       Shortcut(kT, kControl | kOption),
       Shortcut(kR, kOption)},
      {"preset cmd-shift-t",
       {{"hotkeyID", "cmd-shift-t"}},
       Shortcut(kT, kCommand | kShift),
       Shortcut(kR, kOption)},
      {"unknown preset",
       {{"hotkeyID", "f13"}, {"hotkeyKeyLabel", "F13"}},
       Shortcut(kT, kOption),
       Shortcut(kR, kOption)},
      {"refine from stored code",
       {{"refineHotkeyKeyCode", kR},
        {"refineHotkeyModifiers", kControl | kShift},
        {"refineHotkeyKeyLabel", "R"}},
       Shortcut(kT, kOption),
       Shortcut(kR, kControl | kShift)},
      {"codes stored as text",
       {{"hotkeyKeyCode", "2"}, {"hotkeyModifiers", "2304"}},
       Shortcut(kD, kCommand | kOption),
       Shortcut(kR, kOption)},
      // A global hot key without modifiers would swallow that key in every application.
      {"no modifiers: not carried over",
       {{"hotkeyKeyCode", kK}, {"hotkeyModifiers", 0}, {"refineHotkeyKeyCode", kD}},
       Shortcut(kT, kOption),
       Shortcut(kR, kOption)},
  };
  for (const auto& c : cases) {
    quorvelle::test::ShortcutsTestEnvironment env;
    for (const auto& [key, value] : c.legacy) env.defaults.set(key, value);
    platform::fake::FixedSystemInfo system;
    AppSettings settings(env.defaults, system);
    settings.migrateLegacyHotkeys();

    EXPECT_EQ(quorvelle::shortcuts::translate().shortcut(), c.translate) << c.name;
    EXPECT_EQ(quorvelle::shortcuts::refine().shortcut(), c.refine) << c.name;
    EXPECT_TRUE(env.defaults.boolForKey("hotkeysMigratedToGlobalShortcuts")) << c.name;
    for (const char* key : kLegacyKeys)
      EXPECT_EQ(env.defaults.objectForKey(key), std::nullopt) << c.name << key;
  }
}

TEST(HotkeyMigration, RunsOnlyOnce) {
  quorvelle::test::ShortcutsTestEnvironment env;
  platform::fake::FixedSystemInfo system;
  AppSettings settings(env.defaults, system);
  env.defaults.set("hotkeyID", "opt-d");
  settings.migrateLegacyHotkeys();
  ASSERT_EQ(quorvelle::shortcuts::translate().shortcut(), Shortcut(kD, kOption));

  // The user changes the shortcut; legacy keys turn up again (an older version ran meanwhile).
  quorvelle::shortcuts::translate().setShortcut(Shortcut(kK, kCommand));
  env.defaults.set("hotkeyID", "cmd-shift-t");
  env.defaults.set("refineHotkeyKeyCode", kK);
  env.defaults.set("refineHotkeyModifiers", kOption);
  AppSettings(env.defaults, system).migrateLegacyHotkeys();

  EXPECT_EQ(quorvelle::shortcuts::translate().shortcut(), Shortcut(kK, kCommand));
  EXPECT_EQ(quorvelle::shortcuts::refine().shortcut(), Shortcut(kR, kOption));
  EXPECT_EQ(env.defaults.stringForKey("hotkeyID"), "cmd-shift-t");
}

TEST(HotkeyMigration, SkippingAModifierlessHotkeyIsLogged) {
  quorvelle::test::ShortcutsTestEnvironment env;
  env.defaults.set("refineHotkeyKeyCode", kK);
  std::vector<std::string> lines;
  auto previous =
      platform::setLogSink([&](platform::LogLevel, std::string_view line) { lines.emplace_back(line); });
  platform::fake::FixedSystemInfo system;
  AppSettings(env.defaults, system).migrateLegacyHotkeys();
  platform::setLogSink(previous);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"refine\""), std::string::npos) << lines[0];
}

TEST(ShortcutNames, HaveTheirInitialShortcuts) {
  quorvelle::test::ShortcutsTestEnvironment env;
  EXPECT_EQ(quorvelle::shortcuts::translate().rawValue(), "translate");
  EXPECT_EQ(quorvelle::shortcuts::translate().initialShortcut(), Shortcut(kT, kOption));
  EXPECT_EQ(quorvelle::shortcuts::refine().rawValue(), "refine");
  EXPECT_EQ(quorvelle::shortcuts::refine().initialShortcut(), Shortcut(kR, kOption));
  // A slot the user cleared stays cleared.
  quorvelle::shortcuts::refine().setShortcut(std::nullopt);
  EXPECT_EQ(quorvelle::shortcuts::refine().shortcut(), std::nullopt);
}

}  // namespace
