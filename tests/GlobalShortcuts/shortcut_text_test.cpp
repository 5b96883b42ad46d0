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

// The special keys by their key codes, with the names a Linux desktop writes, whatever the layout.
struct SpecialRow {
  Shortcut::Integer code;
  const char* text;
};
const SpecialRow kSpecialKeys[] = {
    {36, "Return"},    {51, "Backspace"}, {117, "Del"},  {119, "End"},    {53, "Esc"},     {114, "Ins"},
    {115, "Home"},     {49, "Space"},     {48, "Tab"},   {116, "PgUp"},   {121, "PgDown"}, {126, "Up"},
    {124, "Right"},    {125, "Down"},     {123, "Left"}, {122, "F1"},     {120, "F2"},     {99, "F3"},
    {118, "F4"},       {96, "F5"},        {97, "F6"},    {98, "F7"},      {100, "F8"},     {101, "F9"},
    {109, "F10"},      {103, "F11"},      {111, "F12"},  {105, "F13"},    {107, "F14"},    {113, "F15"},
    {106, "F16"},      {64, "F17"},       {79, "F18"},   {80, "F19"},     {90, "F20"},     {82, "Num+0"},
    {83, "Num+1"},     {84, "Num+2"},     {85, "Num+3"}, {86, "Num+4"},   {87, "Num+5"},   {88, "Num+6"},
    {89, "Num+7"},     {91, "Num+8"},     {92, "Num+9"}, {71, "NumLock"}, {65, "Num+."},   {75, "Num+/"},
    {76, "Num+Enter"}, {81, "Num+="},     {78, "Num+-"}, {67, "Num+*"},   {69, "Num++"},
};

TEST(ShortcutText, TheFiftyThreeSpecialKeysShowTheirNamesOnEveryLayout) {
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
                std::string("Ctrl+") + row.text);
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
      {.layouts = "us", .group = 0, .code = 17, .modifiers = carbon::option, .text = "Alt+T"},
      {.layouts = "us", .group = 0, .code = 18, .modifiers = 0, .text = "1"},
      {.layouts = "de", .group = 0, .code = 16, .modifiers = 0, .text = "Z"},
      // The key where US keyboards have Z is the German Y.
      {.layouts = "de", .group = 0, .code = 6, .modifiers = carbon::option, .text = "Alt+Y"},
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

TEST(ShortcutText, ModifiersReadAsTheDesktopWritesThem) {
  quorvelle::test::ShortcutsTestEnvironment env;
  struct Case {
    Shortcut::Integer code;
    Shortcut::Integer modifiers;
    const char* text;
  };
  const Case cases[] = {
      // Command is the Ctrl key, Option Alt, Control Super; in the desktop's order, Fn last.
      {16, carbon::command | carbon::shift, "Ctrl+Shift+Y"},
      {17, carbon::option, "Alt+T"},
      {17, kAllModifiers, "Super+Ctrl+Alt+Shift+Fn+T"},
      {17, carbon::command | carbon::control, "Super+Ctrl+T"},
      {96, carbon::control | carbon::option, "Super+Alt+F5"},
      {17, 0, "T"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Shortcut(c.code, c.modifiers).presentableDescription(), c.text);
  }
}

TEST(ShortcutText, AKeyWithoutOneLayoutCharacterShowsTheReplacementCharacter) {
  quorvelle::test::ShortcutsTestEnvironment env;
  const std::string option = "Alt+";
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

TEST(ShortcutText, NamesFollowTheUsersLanguage) {
  struct Case {
    std::vector<std::string> languages;
    const char* language;
    const char* space;
    const char* pageDown;
  };
  const Case cases[] = {
      {{}, "en", "Ctrl+Shift+Space", "Super+Alt+PgDown"},
      {{"en-US"}, "en", "Ctrl+Shift+Space", "Super+Alt+PgDown"},
      {{"de-DE"}, "de", "Strg+Umschalt+Leertaste", "Super+Alt+Bild ab"},
      // The first preferred language with a table wins; names are capitalised.
      {{"ja-JP", "fr_CA", "de"}, "fr", "Ctrl+Maj+Espace", "Super+Alt+Pg suiv"},
      {{"ja", "zh-Hant-TW"}, "en", "Ctrl+Shift+Space", "Super+Alt+PgDown"},
      // Identifiers that are no language never name a resource.
      {{"../de", "d", ":/de", "DE"}, "de", "Strg+Umschalt+Leertaste", "Super+Alt+Bild ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    quorvelle::test::ShortcutsTestEnvironment env;
    env.system = platform::fake::FixedSystemInfo(c.languages);
    EXPECT_EQ(Shortcut(49, carbon::shift | carbon::command).presentableDescription(), c.space);
    EXPECT_EQ(Shortcut(121, carbon::control | carbon::option).presentableDescription(), c.pageDown);
    EXPECT_EQ(GlobalShortcuts::localizationLanguage(), c.language);
    // Chosen once: a later change of the preferred languages does not switch the texts.
    env.system = platform::fake::FixedSystemInfo({"en"});
    EXPECT_EQ(GlobalShortcuts::localizationLanguage(), c.language);
  }
}

TEST(ShortcutText, EveryShippedLanguageHasEveryText) {
  const std::string_view keys[] = {texts::recordShortcut,
                                   texts::pressShortcut,
                                   texts::spaceKey,
                                   texts::keyboardShortcutUsedByMenuItem,
                                   texts::keyboardShortcutUsedBySystem,
                                   texts::keyboardShortcutsCanBeChanged,
                                   texts::keyboardShortcutDisallowed,
                                   texts::ok,
                                   texts::forceUseShortcut,
                                   texts::keyboardShortcutHeldByOtherProgram,
                                   texts::keyboardShortcutKeptPrevious,
                                   texts::ctrlKey,
                                   texts::altKey,
                                   texts::shiftKey,
                                   texts::superKey,
                                   texts::fnKey,
                                   texts::returnKey,
                                   texts::backspaceKey,
                                   texts::deleteKey,
                                   texts::insertKey,
                                   texts::homeKey,
                                   texts::endKey,
                                   texts::pageUpKey,
                                   texts::pageDownKey,
                                   texts::escapeKey,
                                   texts::tabKey,
                                   texts::upKey,
                                   texts::downKey,
                                   texts::leftKey,
                                   texts::rightKey,
                                   texts::numLockKey,
                                   texts::keypadKey};
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
    const std::string held =
        GlobalShortcuts::localizedString(texts::keyboardShortcutHeldByOtherProgram, "Ctrl+Shift+Y");
    EXPECT_NE(held.find("Ctrl+Shift+Y"), std::string::npos) << held;
    // A "+" joins a name to what follows: no name may hold one.
    for (const auto key :
         {texts::ctrlKey, texts::altKey, texts::shiftKey, texts::superKey, texts::keypadKey}) {
      EXPECT_EQ(GlobalShortcuts::localizedString(key).find('+'), std::string::npos) << key;
    }
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
       "Ctrl+Shift+Space\nmenu item key equivalent: \" \" U+0020\nQt key sequence: Ctrl+Shift+Space\n"},
      // Space in the user's language; a letter in the named layout.
      {"de",
       {"49", "2048", "--layout", "de"},
       "Alt+Leertaste\nmenu item key equivalent: \" \" U+0020\nQt key sequence: Alt+Space\n"},
      {"en",
       {"16", "0", "--layout", "de"},
       "Z\nmenu item key equivalent: \"z\" U+007A\nQt key sequence: Z\n"},
      {"en",
       {"83", "0x100", "--layout", "us"},
       "Ctrl+Num+1\nmenu item key equivalent: none\nQt key sequence: none\n"},
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
