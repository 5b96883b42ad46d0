#pragma once

#include <string>
#include <string_view>

namespace GlobalShortcuts {

// The texts the package shows to people (the recorder's placeholders, alerts and buttons, the names of
// keys and modifiers in a shortcut's text), looked up by key in string tables compiled into the program as Qt
// resources (texts/<language>.json): English, German and French.
//
// The language is chosen on the first lookup after an environment is installed, from the installed
// SystemInfo's preferred languages: the first of them that has a table, by its primary language subtag
// ("de-AT" reads the German table), else English. It is kept until the environment goes. A key that the
// table lacks, like a table that cannot be read, gives the key itself. Main thread.
std::string localizedString(std::string_view key);
// The text of `key` with `argument` in place of its "%1" (inserted as it is, never scanned for markers).
std::string localizedString(std::string_view key, std::string_view argument);

// The language of the texts ("en", "de", "fr"), chosen as above.
std::string localizationLanguage();

// The package's keys.
namespace texts {
inline constexpr std::string_view recordShortcut = "record_shortcut";
inline constexpr std::string_view pressShortcut = "press_shortcut";
inline constexpr std::string_view spaceKey = "space_key";
// Takes one argument: the menu item's title.
inline constexpr std::string_view keyboardShortcutUsedByMenuItem = "keyboard_shortcut_used_by_menu_item";
inline constexpr std::string_view keyboardShortcutUsedBySystem = "keyboard_shortcut_used_by_system";
inline constexpr std::string_view keyboardShortcutsCanBeChanged = "keyboard_shortcuts_can_be_changed";
inline constexpr std::string_view keyboardShortcutDisallowed = "keyboard_shortcut_disallowed";
inline constexpr std::string_view ok = "ok";
inline constexpr std::string_view forceUseShortcut = "force_use_shortcut";
// Takes one argument: the shortcut's text. Said when the user chose to use a shortcut anyway and the
// desktop refused it, because another program holds the combination.
inline constexpr std::string_view keyboardShortcutHeldByOtherProgram =
    "keyboard_shortcut_held_by_other_program";
inline constexpr std::string_view keyboardShortcutKeptPrevious = "keyboard_shortcut_kept_previous";
// Takes one argument: the shortcut's text. Said when another named shortcut of the application already
// has the combination.
inline constexpr std::string_view keyboardShortcutUsedByOtherShortcut =
    "keyboard_shortcut_used_by_other_shortcut";
inline constexpr std::string_view keyboardShortcutChooseAnother = "keyboard_shortcut_choose_another";

// The names of keys and modifiers in a shortcut's text, as a Linux desktop writes them.
inline constexpr std::string_view ctrlKey = "ctrl_key";
inline constexpr std::string_view altKey = "alt_key";
inline constexpr std::string_view shiftKey = "shift_key";
inline constexpr std::string_view superKey = "super_key";
inline constexpr std::string_view fnKey = "fn_key";
inline constexpr std::string_view returnKey = "return_key";
inline constexpr std::string_view backspaceKey = "backspace_key";
inline constexpr std::string_view deleteKey = "delete_key";
inline constexpr std::string_view insertKey = "insert_key";
inline constexpr std::string_view homeKey = "home_key";
inline constexpr std::string_view endKey = "end_key";
inline constexpr std::string_view pageUpKey = "page_up_key";
inline constexpr std::string_view pageDownKey = "page_down_key";
inline constexpr std::string_view escapeKey = "escape_key";
inline constexpr std::string_view tabKey = "tab_key";
inline constexpr std::string_view upKey = "up_key";
inline constexpr std::string_view downKey = "down_key";
inline constexpr std::string_view leftKey = "left_key";
inline constexpr std::string_view rightKey = "right_key";
inline constexpr std::string_view numLockKey = "num_lock_key";
// What precedes a keypad key's sign ("Num+1").
inline constexpr std::string_view keypadKey = "keypad_key";
}  // namespace texts

// Forgets the chosen language, so that the next lookup chooses again (installing and uninstalling the
// environment do this).
void resetLocalization();

}  // namespace GlobalShortcuts
