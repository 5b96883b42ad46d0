// How shortcuts read: modifier symbols, the special keys' symbols, layout characters from real keymaps
// compiled by xkbcommon, and the package's texts in each shipped language.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "GlobalShortcuts/Constants.h"
#include "GlobalShortcuts/Localization.h"
#include "GlobalShortcuts/Shortcut.h"
#include "platform/HotKeySystem.h"
#include "platform/linux/desktop/XkbKeyboardLayout.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/support/ProgramRun.h"

using GlobalShortcuts::Key;
using GlobalShortcuts::ModifierFlags;
using GlobalShortcuts::Shortcut;
using platform::XkbKeyboardLayout;
namespace carbon = platform::carbon;
namespace texts = GlobalShortcuts::texts;

namespace {

constexpr Shortcut::Integer kAllModifiers =
    carbon::control | carbon::option | carbon::shift | carbon::command | carbon::function;
constexpr const char* kReplacement = "\uFFFD";

std::unique_ptr<XkbKeyboardLayout> compiled(const std::string& layouts) {
  auto layout = XkbKeyboardLayout::fromNames(layouts);
  if (!layout) ADD_FAILURE() << "xkbcommon cannot compile " << layouts << " (is xkb-data installed?)";
  return layout;
}

// The special keys by their key codes, with the text people see, whatever the layout.
struct SpecialRow {
  Shortcut::Integer code;
  const char* text;
};
const SpecialRow kSpecialKeys[] = {
    {36, "\u21A9"},       {51, "\u232B"},  {117, "\u2326"}, {119, "\u2198"},      {53, "\u238B"},
    {114, "?\u20DD"},     {115, "\u2196"}, {49, "Space"},   {48, "\u21E5"},       {116, "\u21DE"},
    {121, "\u21DF"},      {126, "\u2191"}, {124, "\u2192"}, {125, "\u2193"},      {123, "\u2190"},
    {122, "F1"},          {120, "F2"},     {99, "F3"},      {118, "F4"},          {96, "F5"},
    {97, "F6"},           {98, "F7"},      {100, "F8"},     {101, "F9"},          {109, "F10"},
    {103, "F11"},         {111, "F12"},    {105, "F13"},    {107, "F14"},         {113, "F15"},
    {106, "F16"},         {64, "F17"},     {79, "F18"},     {80, "F19"},          {90, "F20"},
    {82, "0\u20E3"},      {83, "1\u20E3"}, {84, "2\u20E3"}, {85, "3\u20E3"},      {86, "4\u20E3"},
    {87, "5\u20E3"},      {88, "6\u20E3"}, {89, "7\u20E3"}, {91, "8\u20E3"},      {92, "9\u20E3"},
    {71, "\u2612\u20E3"}, {65, ".\u20E3"}, {75, "/\u20E3"}, {76, "\u21A9\u20E3"}, {81, "=\u20E3"},
    {78, "-\u20E3"},      {67, "*\u20E3"}, {69, "+\u20E3"},
};

TEST(ShortcutText, TheFiftyThreeSpecialKeysShowTheirSymbolsOnEveryLayout) {
  ASSERT_EQ(std::size(kSpecialKeys), 53u);
  for (const char* layouts : {"us", "fr"}) {
    SCOPED_TRACE(layouts);
    const auto layout = compiled(layouts);
    ASSERT_TRUE(layout);
    quorvelle::test::ShortcutsTestEnvironment env(layout.get());
    for (const auto& row : kSpecialKeys) {
      SCOPED_TRACE(row.code);
      EXPECT_EQ(Shortcut(row.code, 0).presentableDescription(), row.text);
      EXPECT_EQ(Shortcut(row.code, carbon::command).presentableDescription(),
                std::string("\u2318") + row.text);
    }
  }
}

TEST(ShortcutText, LettersComeFromTheLayoutInUpperCase) {
  struct Case {
    const char* layouts;
    std::uint32_t group;  // the group the user has switched to
    Shortcut::Integer code;
    Shortcut::Integer modifiers;
    const char* text;
  };
  const Case cases[] = {
      {.layouts = "us", .group = 0, .code = 17, .modifiers = carbon::option, .text = "\u2325T"},
      {.layouts = "us", .group = 0, .code = 18, .modifiers = 0, .text = "1"},
      {.layouts = "de", .group = 0, .code = 16, .modifiers = 0, .text = "Z"},
      // A letter without a one-letter upper case stays as it is.
      {.layouts = "de", .group = 0, .code = 27, .modifiers = 0, .text = "\u00DF"},
      {.layouts = "fr", .group = 0, .code = 12, .modifiers = 0, .text = "A"},
      // A dead key shows its accent.
      {.layouts = "fr", .group = 0, .code = 33, .modifiers = 0, .text = "^"},
      {.layouts = "de", .group = 0, .code = 24, .modifiers = 0, .text = "\u00B4"},
      // Russian active: the keys show the letters of the ASCII-capable group.
      {.layouts = "ru,us", .group = 0, .code = 17, .modifiers = 0, .text = "T"},
      {.layouts = "us,de", .group = 1, .code = 16, .modifiers = 0, .text = "Z"},
      // Without an ASCII-capable group, the active one is all there is.
      {.layouts = "ru", .group = 0, .code = 17, .modifiers = 0, .text = "\u0415"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.layouts) + " group " + std::to_string(c.group) + " code " +
                 std::to_string(c.code));
    const auto layout = compiled(c.layouts);
    ASSERT_TRUE(layout);
    layout->setCurrentGroup(c.group);
    quorvelle::test::ShortcutsTestEnvironment env(layout.get());
    const Shortcut shortcut(c.code, c.modifiers);
    EXPECT_EQ(shortcut.presentableDescription(), c.text);
    EXPECT_EQ(shortcut.description(), c.text);
  }
}

TEST(ShortcutText, ModifiersAlwaysReadControlOptionShiftCommandFunction) {
  quorvelle::test::ShortcutsTestEnvironment env;
  EXPECT_EQ(Shortcut(17, kAllModifiers).presentableDescription(),
            "\u2303\u2325\u21E7\u2318\U0001F310\uFE0ET");
  EXPECT_EQ(Shortcut(17, carbon::command | carbon::control).presentableDescription(), "\u2303\u2318T");
  EXPECT_EQ(Shortcut(96, carbon::control | carbon::option).presentableDescription(), "\u2303\u2325F5");
}

TEST(ShortcutText, AKeyWithoutOneLayoutCharacterShowsTheReplacementCharacter) {
  quorvelle::test::ShortcutsTestEnvironment env;
  const std::string option = "\u2325";
  env.layout.setText("AD05", "");
  EXPECT_EQ(Shortcut(17, carbon::option).presentableDescription(), option + kReplacement);
  env.layout.setText("AD05", "ab");
  EXPECT_EQ(Shortcut(17, carbon::option).presentableDescription(), option + kReplacement);
  env.layout.setText("AD05", "t");
  // Key codes outside 16 bits are not the key they would truncate to (17 + 65536 is not T).
  EXPECT_EQ(Shortcut(17 + 65536, carbon::option).presentableDescription(), option + kReplacement);
  EXPECT_EQ(Shortcut(-1, 0).presentableDescription(), kReplacement);
  // A code without a key position, and no layout at all.
  EXPECT_EQ(Shortcut(10, 0).presentableDescription(), kReplacement);
  env.layout = platform::fake::FakeKeyboardLayout::unavailable();
  EXPECT_EQ(Shortcut(17, carbon::option).presentableDescription(), option + kReplacement);
}

TEST(ShortcutText, SpaceIsNamedInTheUsersLanguage) {
  struct Case {
    std::vector<std::string> languages;
    const char* language;
    const char* space;
  };
  const Case cases[] = {
      {{}, "en", "\u21E7\u2318Space"},
      {{"en-US"}, "en", "\u21E7\u2318Space"},
      {{"de-DE"}, "de", "\u21E7\u2318Leertaste"},
      // The first preferred language with a table wins; its name is capitalised.
      {{"ja-JP", "fr_CA", "de"}, "fr", "\u21E7\u2318Espace"},
      {{"ja", "zh-Hant-TW"}, "en", "\u21E7\u2318Space"},
      // Identifiers that are no language never name a resource.
      {{"../de", "d", ":/de", "DE"}, "de", "\u21E7\u2318Leertaste"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    quorvelle::test::ShortcutsTestEnvironment env;
    env.system = platform::fake::FixedSystemInfo(c.languages);
    EXPECT_EQ(Shortcut(49, carbon::shift | carbon::command).presentableDescription(), c.space);
    EXPECT_EQ(GlobalShortcuts::localizationLanguage(), c.language);
    // Chosen once: a later change of the preferred languages does not switch the texts.
    env.system = platform::fake::FixedSystemInfo({"en"});
    EXPECT_EQ(GlobalShortcuts::localizationLanguage(), c.language);
  }
}

TEST(ShortcutText, EveryShippedLanguageHasTheNineTexts) {
  const std::string_view keys[] = {texts::recordShortcut,
                                   texts::pressShortcut,
                                   texts::spaceKey,
                                   texts::keyboardShortcutUsedByMenuItem,
                                   texts::keyboardShortcutUsedBySystem,
                                   texts::keyboardShortcutsCanBeChanged,
                                   texts::keyboardShortcutDisallowed,
                                   texts::ok,
                                   texts::forceUseShortcut};
  for (const char* language : {"en", "de", "fr"}) {
    SCOPED_TRACE(language);
    quorvelle::test::ShortcutsTestEnvironment env;
    env.system = platform::fake::FixedSystemInfo({language});
    ASSERT_EQ(GlobalShortcuts::localizationLanguage(), language);
    for (const auto key : keys) {
      const std::string text = GlobalShortcuts::localizedString(key);
      EXPECT_FALSE(text.empty()) << key;
      EXPECT_EQ(text.find('_'), std::string::npos) << key << ": " << text;
    }
    // The menu item's title goes in once, as it is (a "%1" in the title stays).
    const std::string used =
        GlobalShortcuts::localizedString(texts::keyboardShortcutUsedByMenuItem, "Quit %1 Quorvelle");
    EXPECT_NE(used.find("Quit %1 Quorvelle"), std::string::npos) << used;
    EXPECT_EQ(used.find("%1"), used.rfind("%1")) << used;
  }
}

TEST(ShortcutText, AKeyWithoutTextGivesTheKey) {
  quorvelle::test::ShortcutsTestEnvironment env;
  EXPECT_EQ(GlobalShortcuts::localizedString("no_such_text"), "no_such_text");
  EXPECT_EQ(GlobalShortcuts::localizedString("no_such_text", "Quit"), "no_such_text");
  EXPECT_EQ(GlobalShortcuts::localizedString(texts::ok), "OK");
}

TEST(Constants, SandboxedIsReadFromTheEnvironmentOnce) {
  const auto answers = [](bool setFirst) {
    if (setFirst) {
      setenv("APP_SANDBOX_CONTAINER_ID", "", 1);
    } else {
      unsetenv("APP_SANDBOX_CONTAINER_ID");
    }
    const bool first = GlobalShortcuts::Constants::isSandboxed();
    if (setFirst) {
      unsetenv("APP_SANDBOX_CONTAINER_ID");
    } else {
      setenv("APP_SANDBOX_CONTAINER_ID", "container", 1);
    }
    const bool second = GlobalShortcuts::Constants::isSandboxed();
    // _Exit: the child must not run the parent's exit handlers, which remove the tests' shared folders.
    std::_Exit(first == setFirst && second == setFirst ? 0 : 1);
  };
  // In child processes: the answer is kept for the life of the process.
  EXPECT_EXIT(answers(true), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(answers(false), ::testing::ExitedWithCode(0), "");
}

TEST(ShortcutDescribeTool, PrintsTheTextTheMenuEquivalentAndTheQtSequence) {
  struct Case {
    const char* language;
    std::vector<std::string> arguments;
    std::string output;
  };
  const Case cases[] = {
      {"en",
       {"49", "0x300", "--layout", "us"},
       "\u21E7\u2318Space\nmenu item key equivalent: \" \" U+0020\nQt key sequence: Ctrl+Shift+Space\n"},
      // Space in the user's language; a letter in the named layout.
      {"de",
       {"49", "2048", "--layout", "de"},
       "\u2325Leertaste\nmenu item key equivalent: \" \" U+0020\nQt key sequence: Alt+Space\n"},
      {"en",
       {"16", "0", "--layout", "de"},
       "Z\nmenu item key equivalent: \"z\" U+007A\nQt key sequence: Z\n"},
      {"en",
       {"83", "0x100", "--layout", "us"},
       "\u23181\u20E3\nmenu item key equivalent: none\nQt key sequence: none\n"},
  };
  const quorvelle::test::TempDir dir;
  const std::string tool = QUORVELLE_BINARY_DIR "/tools/shortcut-describe";
  for (const auto& c : cases) {
    std::vector<std::string> argv{"/usr/bin/env", std::string("LANGUAGE=") + c.language, "LC_ALL=C.UTF-8",
                                  tool};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const auto run = quorvelle::test::runProgram(argv, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.output);
  }
  EXPECT_EQ(quorvelle::test::runProgram({tool, "49"}, dir).status, 2);
}

}  // namespace
