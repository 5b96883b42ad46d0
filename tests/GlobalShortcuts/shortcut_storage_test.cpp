#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/NotificationUserInfo.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"

using GlobalShortcuts::Key;
using GlobalShortcuts::ModifierFlags;
using GlobalShortcuts::Name;
using GlobalShortcuts::Shortcut;
using GlobalShortcuts::StoredShortcut;
using platform::DefaultsValue;

namespace {

const Shortcut optionT(Key::t, ModifierFlags::option);
const Shortcut optionR(Key::r, ModifierFlags::option);
const Shortcut commandK(Key::k, ModifierFlags::command);
constexpr const char* kOptionTJson = R"({"carbonKeyCode":17,"carbonModifiers":2048})";

class ShortcutStorageTest : public ::testing::Test {
 protected:
  ShortcutStorageTest() {
    token_ = env.notifications.addObserver(
        GlobalShortcuts::kShortcutByNameDidChange, [this](const platform::Notification& notification) {
          const auto name = GlobalShortcuts::globalShortcutsName(notification);
          ASSERT_TRUE(name);
          posted.push_back(*name);
          // Observers see the value already written.
          seenValues.push_back(env.defaults.objectForKey(GlobalShortcuts::userDefaultsKey(name->rawValue())));
        });
  }
  ~ShortcutStorageTest() override { GlobalShortcuts::setRegistryHooks({}); }

  std::optional<DefaultsValue> stored(const std::string& rawValue) {
    return env.defaults.objectForKey("GlobalShortcuts_" + rawValue);
  }

  quorvelle::test::ShortcutsTestEnvironment env;
  std::vector<Name> posted;
  std::vector<std::optional<DefaultsValue>> seenValues;

 private:
  platform::NotificationCenter::Token token_;
};

TEST_F(ShortcutStorageTest, InitialShortcutIsWrittenOnlyWhenNothingIsStored) {
  const Name translate("translate", optionT);
  EXPECT_EQ(stored("translate"), DefaultsValue(kOptionTJson));
  EXPECT_EQ(translate.shortcut(), optionT);
  EXPECT_TRUE(posted.empty());

  // The user's choice, a cleared slot and any other stored value all stay.
  env.defaults.set("GlobalShortcuts_translate", commandK.toJSON());
  Name("translate", optionT);
  EXPECT_EQ(Name("translate").shortcut(), commandK);
  for (const DefaultsValue& value : {DefaultsValue(false), DefaultsValue(true), DefaultsValue("junk")}) {
    env.defaults.set("GlobalShortcuts_refine", value);
    Name("refine", optionR);
    EXPECT_EQ(stored("refine"), value);
  }
  EXPECT_TRUE(posted.empty());

  // Just the text: nothing written, nothing set up.
  Name::fromRawValue("other");
  env.executor.runUntilIdle();
  EXPECT_FALSE(stored("other"));
}

TEST_F(ShortcutStorageTest, CreatingANameSetsUpTheCenterLaterOnTheMainExecutor) {
  EXPECT_FALSE(GlobalShortcuts::HotKeyCenter::hasShared());
  Name::fromRawValue("translate");
  env.executor.runUntilIdle();
  EXPECT_FALSE(GlobalShortcuts::HotKeyCenter::hasShared());

  Name("translate", optionT);
  Name("refine", optionR);
  EXPECT_FALSE(GlobalShortcuts::HotKeyCenter::hasShared());
  EXPECT_FALSE(GlobalShortcuts::isInitialized());
  env.executor.runUntilIdle();
  EXPECT_TRUE(GlobalShortcuts::HotKeyCenter::hasShared());
  EXPECT_TRUE(GlobalShortcuts::isInitialized());
  EXPECT_EQ(env.menus.observerCount(), 1u);
}

TEST_F(ShortcutStorageTest, NamesAreEqualByTextAlone) {
  const Name a("translate", optionT);
  const Name b("translate", commandK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<Name>{}(a), std::hash<Name>{}(b));
  EXPECT_EQ(b.defaultShortcut(), commandK);
  EXPECT_NE(a, Name("refine"));
}

TEST_F(ShortcutStorageTest, ReadingStoredValues) {
  struct Case {
    DefaultsValue value;
    StoredShortcut expected;
  };
  const StoredShortcut absent{};
  const StoredShortcut disabled{StoredShortcut::Kind::disabled, std::nullopt};
  const Case cases[] = {
      {DefaultsValue(kOptionTJson), {StoredShortcut::Kind::shortcut, optionT}},
      {DefaultsValue(R"({ "carbonModifiers": 2048, "carbonKeyCode": 17 })"),
       {StoredShortcut::Kind::shortcut, optionT}},
      {DefaultsValue(false), disabled},
      {DefaultsValue(0), disabled},
      {DefaultsValue(true), absent},
      {DefaultsValue(R"({"carbonKeyCode":17})"), absent},
      {DefaultsValue("not json"), absent},
      {DefaultsValue(DefaultsValue::Data{'{', '}'}), absent},
      {DefaultsValue(DefaultsValue::Dictionary{{"carbonKeyCode", 17}, {"carbonModifiers", 2048}}), absent},
  };
  const Name name = Name::fromRawValue("slot");
  EXPECT_EQ(GlobalShortcuts::storedShortcut(name), absent);
  for (const auto& c : cases) {
    env.defaults.set("GlobalShortcuts_slot", c.value);
    EXPECT_EQ(GlobalShortcuts::storedShortcut(name), c.expected)
        << testing::PrintToString(c.value.storage().index());
    EXPECT_EQ(name.shortcut(), c.expected.shortcut);
    EXPECT_EQ(Shortcut::fromName(name), c.expected.shortcut);
  }
}

TEST_F(ShortcutStorageTest, WritesAndTheirNotifications) {
  const Name withInitial("translate", optionT);
  const Name withoutInitial("search");

  // Storing always writes and posts, even the same value; the notification carries the whole name.
  withInitial.setShortcut(commandK);
  withInitial.setShortcut(commandK);
  EXPECT_EQ(stored("translate"), DefaultsValue(commandK.toJSON()));
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].initialShortcut(), optionT);
  EXPECT_EQ(seenValues[0], DefaultsValue(commandK.toJSON()));

  // Clearing a name with an initial shortcut stores false, once; a later creation keeps it cleared.
  withInitial.setShortcut(std::nullopt);
  withInitial.setShortcut(std::nullopt);
  EXPECT_EQ(stored("translate"), DefaultsValue(false));
  EXPECT_EQ(posted.size(), 3u);
  EXPECT_EQ(Name("translate", optionT).shortcut(), std::nullopt);

  // Clearing a name without one removes the key, once.
  withoutInitial.setShortcut(optionR);
  withoutInitial.setShortcut(std::nullopt);
  withoutInitial.setShortcut(std::nullopt);
  EXPECT_FALSE(stored("search"));
  EXPECT_EQ(withoutInitial.shortcut(), std::nullopt);
  ASSERT_EQ(posted.size(), 5u);
  EXPECT_EQ(posted[4].rawValue(), "search");
  EXPECT_EQ(seenValues[4], std::nullopt);
}

TEST_F(ShortcutStorageTest, WritesReleaseTheOldShortcutFirstRegisterAfterAndThenPost) {
  std::vector<std::string> calls;
  GlobalShortcuts::setRegistryHooks({
      [&](const Shortcut& old, const Name& name) {
        // Still the old value: the hot key goes before the write.
        EXPECT_EQ(GlobalShortcuts::getShortcut(name), old);
        calls.push_back("release " + old.toJSON());
      },
      [&](const Name& name) {
        calls.push_back(
            "register " + name.rawValue() + " " +
            (GlobalShortcuts::getShortcut(name) ? GlobalShortcuts::getShortcut(name)->toJSON() : "none"));
      },
  });
  const auto token =
      env.notifications.addObserver(GlobalShortcuts::kShortcutByNameDidChange,
                                    [&](const platform::Notification&) { calls.push_back("post"); });
  const Name name("translate", optionT);
  EXPECT_TRUE(calls.empty());  // the initial write touches no hot key

  name.setShortcut(commandK);
  name.setShortcut(std::nullopt);
  GlobalShortcuts::userDefaultsRemove(name);  // false is stored: removed, but it has no hot key
  GlobalShortcuts::userDefaultsRemove(name);  // nothing stored: no step at all
  const std::vector<std::string> expected{
      "release " + optionT.toJSON(),
      "register translate " + commandK.toJSON(),
      "post",
      "release " + commandK.toJSON(),
      "register translate none",
      "post",
      "register translate none",
      "post",
  };
  EXPECT_EQ(calls, expected);
}

TEST_F(ShortcutStorageTest, StoredNamesComeFromTheKeys) {
  Name("translate", optionT);
  Name("refine", optionR);
  env.defaults.set("GlobalShortcuts_cleared", false);
  env.defaults.set("GlobalShortcuts_", "junk");
  env.defaults.set("hasCompletedOnboarding", true);
  env.defaults.set("globalshortcuts_lower", "x");

  const auto names = GlobalShortcuts::storedNames();
  std::unordered_set<std::string> rawValues;
  for (const auto& name : names) {
    rawValues.insert(name.rawValue());
    EXPECT_FALSE(name.initialShortcut()) << name.rawValue();
  }
  EXPECT_EQ(rawValues, (std::unordered_set<std::string>{"translate", "refine", "cleared", ""}));
}

}  // namespace
