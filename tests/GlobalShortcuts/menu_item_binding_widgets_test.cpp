#include <gtest/gtest.h>

#include <QAction>
#include <QKeySequence>
#include <memory>
#include <optional>
#include <string>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/MenuItemBinding.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"

namespace gs = GlobalShortcuts;
using gs::Key;
using gs::ModifierFlags;
using gs::Name;
using gs::Shortcut;

namespace {

const Shortcut optionT(Key::t, ModifierFlags::option);
const Shortcut optionR(Key::r, ModifierFlags::option);
const std::optional<Name> unbind;

class MenuItemBindingTest : public ::testing::Test {
 protected:
  MenuItemBindingTest() { action.setShortcut(QKeySequence("Ctrl+Q")); }

  std::string shown() const { return action.shortcut().toString(QKeySequence::PortableText).toStdString(); }

  quorvelle::test::ShortcutsTestEnvironment env;
  QAction action;
};

TEST_F(MenuItemBindingTest, ABoundActionShowsTheStoredShortcutAndFollowsItUntilUnbound) {
  const Name translate("translate", optionT);
  gs::setShortcut(action, translate);
  EXPECT_EQ(shown(), "Alt+T");
  EXPECT_FALSE(gs::allowsAutomaticKeyEquivalentLocalization(action));

  gs::setShortcut(optionR, translate);
  EXPECT_EQ(shown(), "Alt+R");
  const Name refine("refine", Shortcut(Key::y, ModifierFlags::option));
  gs::setShortcut(Shortcut(Key::u, ModifierFlags::option), refine);
  EXPECT_EQ(shown(), "Alt+R") << "another name's change";
  gs::setShortcut(std::nullopt, translate);  // cleared: false is stored
  EXPECT_EQ(shown(), "Ctrl+Q");
  EXPECT_TRUE(gs::allowsAutomaticKeyEquivalentLocalization(action));
  gs::setShortcut(optionT, translate);
  EXPECT_EQ(shown(), "Alt+T");

  gs::setShortcut(action, unbind);
  EXPECT_EQ(shown(), "Ctrl+Q");
  EXPECT_TRUE(gs::allowsAutomaticKeyEquivalentLocalization(action));
  gs::setShortcut(optionR, translate);
  EXPECT_EQ(shown(), "Ctrl+Q") << "no longer bound";
}

TEST_F(MenuItemBindingTest, ANameWithoutAStoredShortcutShowsTheActionsOwn) {
  const Name blank("blank");  // nothing stored
  gs::setShortcut(action, blank);
  EXPECT_EQ(shown(), "Ctrl+Q");

  // Cleared, and an unreadable value: the initial shortcut is not consulted either.
  const Name cleared("cleared", optionT);
  env.defaults.set("GlobalShortcuts_cleared", false);
  gs::setShortcut(action, cleared);
  EXPECT_EQ(shown(), "Ctrl+Q");
  env.defaults.set("GlobalShortcuts_cleared", "{\"carbonKeyCode\":17}");
  gs::userDefaultsDidChange(cleared);
  EXPECT_EQ(shown(), "Ctrl+Q");
}

TEST_F(MenuItemBindingTest, RebindingKeepsTheFirstFallbackAndFollowsOnlyTheNewName) {
  const Name translate("translate", optionT);
  const Name refine("refine", optionR);
  gs::setShortcut(action, translate);
  gs::setShortcut(action, refine);
  EXPECT_EQ(shown(), "Alt+R");

  gs::setShortcut(Shortcut(Key::y, ModifierFlags::option), translate);
  EXPECT_EQ(shown(), "Alt+R") << "the first name's changes no longer reach the action";
  gs::setShortcut(Shortcut(Key::u, ModifierFlags::option | ModifierFlags::shift), refine);
  EXPECT_EQ(shown(), "Alt+Shift+U");

  gs::setShortcut(action, unbind);
  EXPECT_EQ(shown(), "Ctrl+Q") << "the equivalent from before the first binding, not Alt+T";
}

TEST_F(MenuItemBindingTest, AFixedShortcutEndsTheBindingAndForgetsTheFallback) {
  const Name translate("translate", optionT);
  gs::setShortcut(action, translate);
  gs::setShortcut(action, std::optional<Shortcut>(optionR));
  EXPECT_EQ(shown(), "Alt+R");
  EXPECT_FALSE(gs::allowsAutomaticKeyEquivalentLocalization(action));
  gs::setShortcut(Shortcut(Key::y, ModifierFlags::option), translate);
  EXPECT_EQ(shown(), "Alt+R");

  gs::setShortcut(action, unbind);
  EXPECT_EQ(shown(), "");
  EXPECT_TRUE(gs::allowsAutomaticKeyEquivalentLocalization(action));

  // And a later binding's fallback is what the action shows then.
  gs::setShortcut(action, std::optional<Shortcut>(optionR));
  gs::setShortcut(action, translate);
  gs::setShortcut(action, unbind);
  EXPECT_EQ(shown(), "Alt+R");
  gs::setShortcut(action, std::optional<Shortcut>());
  EXPECT_EQ(shown(), "");
}

TEST_F(MenuItemBindingTest, AKeypadKeyHasNoKeySequence) {
  const Name keypad("keypad", Shortcut(Key::keypad5, ModifierFlags::option));
  gs::setShortcut(action, keypad);
  EXPECT_TRUE(action.shortcut().isEmpty());
  EXPECT_FALSE(gs::allowsAutomaticKeyEquivalentLocalization(action));
}

TEST_F(MenuItemBindingTest, ADestroyedActionIsLeftAlone) {
  const Name translate("translate", optionT);
  auto doomed = std::make_unique<QAction>();
  gs::setShortcut(*doomed, translate);
  gs::setShortcut(action, translate);
  doomed.reset();
  gs::setShortcut(optionR, translate);
  EXPECT_EQ(shown(), "Alt+R");

  // A new action, perhaps at the same address, starts unbound.
  auto fresh = std::make_unique<QAction>();
  fresh->setShortcut(QKeySequence("Ctrl+N"));
  EXPECT_TRUE(gs::allowsAutomaticKeyEquivalentLocalization(*fresh));
  gs::setShortcut(*fresh, translate);
  gs::setShortcut(*fresh, unbind);
  EXPECT_EQ(fresh->shortcut(), QKeySequence("Ctrl+N"));
}

}  // namespace
