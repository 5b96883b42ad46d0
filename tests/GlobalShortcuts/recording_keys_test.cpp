#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>

#include "GlobalShortcuts/ConflictPolicy.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/RecordingKeys.h"
#include "tests/support/CaseName.h"

using GlobalShortcuts::ConflictBehavior;
using GlobalShortcuts::ConflictPolicy;
using GlobalShortcuts::Key;
using GlobalShortcuts::ModifierFlags;
using GlobalShortcuts::RecordingKeyAction;

namespace {

// Flags that no Qt key event carries on X11 (Fn, Caps Lock), the keypad flag, and modifier keys by what
// they type or where they sit; the recorder's widget tests cover the keys people type.
struct Case {
  const char* name;
  int qtKey;
  std::optional<int> keyCode;
  ModifierFlags modifiers;
  RecordingKeyAction expected;
};

const Case kCases[] = {
    {"Fn+Backspace is no command", Qt::Key_Backspace, 51, ModifierFlags::function,
     RecordingKeyAction::refuse},
    {"Fn+Delete is no command", Qt::Key_Delete, 117, ModifierFlags::function, RecordingKeyAction::refuse},
    {"Fn+Escape is no command", Qt::Key_Escape, 53, ModifierFlags::function, RecordingKeyAction::refuse},
    {"Fn+Tab is no command", Qt::Key_Tab, 48, ModifierFlags::function, RecordingKeyAction::refuse},
    {"Fn+F5 is recorded", Qt::Key_F5, 96, ModifierFlags::function, RecordingKeyAction::record},
    {"Fn+Command+Delete is recorded", Qt::Key_Delete, 117, ModifierFlags::function | ModifierFlags::command,
     RecordingKeyAction::record},
    {"Caps Lock leaves Escape a command", Qt::Key_Escape, 53, ModifierFlags::capsLock,
     RecordingKeyAction::stopRecording},
    {"the keypad flag leaves Delete a command", Qt::Key_Delete, 117, ModifierFlags::numericPad,
     RecordingKeyAction::clear},
    {"Escape is known by its physical key",
     Qt::Key_unknown,
     Key::escape.rawValue(),
     {},
     RecordingKeyAction::stopRecording},
    {"F35 alone is recorded", Qt::Key_F35, std::nullopt, {}, RecordingKeyAction::record},
    {"Help with a letter is recorded", Qt::Key_K, 40, ModifierFlags::help, RecordingKeyAction::record},
    {"Ctrl going down with Ctrl held is no key", Qt::Key_Control, Key::command.rawValue(),
     ModifierFlags::command, RecordingKeyAction::ignore},
    {"AltGr as a Qt key", Qt::Key_AltGr, std::nullopt, ModifierFlags::command, RecordingKeyAction::ignore},
    {"the right Alt key by its position", Qt::Key_unknown, Key::rightOption.rawValue(),
     ModifierFlags::command | ModifierFlags::option, RecordingKeyAction::ignore},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class RecordingKeys : public ::testing::TestWithParam<Case> {};

TEST_P(RecordingKeys, Action) {
  const Case& c = GetParam();
  EXPECT_EQ(GlobalShortcuts::recordingKeyAction(c.qtKey, c.keyCode, c.modifiers), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordingKeys, ::testing::ValuesIn(kCases), quorvelle::test::NamedCase());

TEST(ConflictPolicy, EqualityAndHashFollowTheThreeBehaviours) {
  const ConflictPolicy spelledOut{ConflictBehavior::block, ConflictBehavior::warn, ConflictBehavior::block};
  EXPECT_EQ(spelledOut, ConflictPolicy::defaultPolicy());
  EXPECT_EQ(std::hash<ConflictPolicy>{}(spelledOut),
            std::hash<ConflictPolicy>{}(ConflictPolicy::defaultPolicy()));
  EXPECT_NE(ConflictPolicy::defaultPolicy(), ConflictPolicy::allowAll());
  // The fields are told apart: the same behaviours in another order are another policy.
  const ConflictPolicy swapped{ConflictBehavior::warn, ConflictBehavior::block, ConflictBehavior::block};
  EXPECT_NE(swapped, ConflictPolicy::defaultPolicy());
  EXPECT_NE(std::hash<ConflictPolicy>{}(swapped),
            std::hash<ConflictPolicy>{}(ConflictPolicy::defaultPolicy()));
  EXPECT_EQ(ConflictPolicy::allowAll().menuItem, ConflictBehavior::allow);
  EXPECT_EQ(ConflictPolicy::allowAll().systemShortcut, ConflictBehavior::allow);
  EXPECT_EQ(ConflictPolicy::allowAll().disallowed, ConflictBehavior::allow);
}

}  // namespace
