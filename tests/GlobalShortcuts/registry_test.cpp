#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "platform/HotKeySystem.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"

namespace gs = GlobalShortcuts;
using gs::Name;
using gs::Shortcut;
using platform::HotKeySystem;

namespace {

constexpr std::uint32_t kT = 17;
constexpr std::uint32_t kR = 15;
constexpr std::uint32_t kY = 16;
constexpr std::uint32_t kOption = platform::carbon::option;

const Shortcut optionT(kT, kOption);
const Shortcut optionR(kR, kOption);
const Shortcut optionY(kY, kOption);

class RegistryTest : public ::testing::Test {
 protected:
  // A closure that logs `label`.
  gs::Handler logs(std::string label) {
    return [this, label = std::move(label)] { log.push_back(label); };
  }
  std::vector<std::string> press(const Shortcut& s) {
    log.clear();
    env.hotKeys.press(static_cast<std::uint32_t>(s.carbonKeyCode()),
                      static_cast<std::uint32_t>(s.carbonModifiers()));
    return log;
  }
  std::vector<std::string> release(const Shortcut& s) {
    log.clear();
    env.hotKeys.release(static_cast<std::uint32_t>(s.carbonKeyCode()),
                        static_cast<std::uint32_t>(s.carbonModifiers()));
    return log;
  }
  bool systemHas(const Shortcut& s) {
    return env.hotKeys.isRegistered(static_cast<std::uint32_t>(s.carbonKeyCode()),
                                    static_cast<std::uint32_t>(s.carbonModifiers()));
  }

  quorvelle::test::ShortcutsTestEnvironment env;
  std::vector<std::string> log;
  using Strings = std::vector<std::string>;
};

TEST_F(RegistryTest, NamesSharingAShortcutShareOneHotKeyAndFollowTheirStoredShortcut) {
  const Name a("a", optionT);
  const Name b("b", optionT);
  gs::onKeyDown(a, logs("a1"));
  gs::onKeyDown(a, logs("a2"));
  gs::onKeyDown(b, logs("b"));
  gs::onKeyUp(b, logs("b up"));
  EXPECT_EQ(env.hotKeys.registrations().size(), 1u);
  EXPECT_EQ(press(optionT), (Strings{"a1", "a2", "b"}));
  EXPECT_EQ(release(optionT), (Strings{"b up"}));

  // Moving a away keeps the shared hot key for b and gives a one of its own.
  const auto sharedId = gs::registry::hotKeyId(optionT);
  gs::setShortcut(optionR, a);
  EXPECT_EQ(gs::registry::hotKeyId(optionT), sharedId);
  EXPECT_EQ(press(optionT), (Strings{"b"}));
  EXPECT_EQ(press(optionR), (Strings{"a1", "a2"}));

  // Moving b too releases it.
  gs::setShortcut(optionY, b);
  EXPECT_FALSE(systemHas(optionT));
  EXPECT_FALSE(gs::registry::hasHotKey(optionT));
  EXPECT_EQ(press(optionY), (Strings{"b"}));
}

TEST_F(RegistryTest, DisablingKeepsASharedHotKeyAndReleasesAnUnsharedOne) {
  const Name a("a", optionT);
  const Name b("b", optionT);
  const Name c("c", optionR);
  gs::onKeyDown(a, logs("a"));
  gs::onKeyDown(b, logs("b"));
  gs::onKeyDown(c, logs("c"));
  const auto sharedId = gs::registry::hotKeyId(optionT);

  gs::disable(a);
  EXPECT_EQ(gs::registry::hotKeyId(optionT), sharedId);
  EXPECT_EQ(press(optionT), (Strings{"b"}));
  EXPECT_FALSE(gs::isEnabled(a));
  gs::enable(a);
  EXPECT_EQ(press(optionT), (Strings{"a", "b"}));

  // Disable and enable, as after the machine wakes: fresh registrations with new ids.
  const auto oldR = gs::registry::hotKeyId(optionR);
  gs::disable(a, b, c);
  EXPECT_TRUE(env.hotKeys.registrations().empty());
  EXPECT_TRUE(press(optionT).empty());
  gs::enable(a, b, c);
  EXPECT_TRUE(systemHas(optionT));
  EXPECT_TRUE(systemHas(optionR));
  EXPECT_GT(*gs::registry::hotKeyId(optionT), *oldR);
  EXPECT_GT(*gs::registry::hotKeyId(optionR), *oldR);
  EXPECT_EQ(press(optionR), (Strings{"c"}));
}

TEST_F(RegistryTest, AClearedNameHasNoHotKeyUntilAShortcutIsStored) {
  const Name a("a", optionT);
  gs::setShortcut(std::nullopt, a);  // stores false: the initial shortcut must not come back
  gs::onKeyDown(a, logs("a"));
  EXPECT_FALSE(gs::registry::hasHotKey(optionT));
  EXPECT_FALSE(gs::isEnabled(a));
  EXPECT_EQ(gs::storedShortcut(Name("a", optionT)).kind, gs::StoredShortcut::Kind::disabled);

  gs::setShortcut(optionR, a);
  EXPECT_TRUE(gs::isEnabled(a));
  EXPECT_EQ(press(optionR), (Strings{"a"}));

  // Nothing readable stored reads as no shortcut, too.
  const Name unreadable("unreadable");
  env.defaults.set(gs::userDefaultsKey("unreadable"), std::string("not a shortcut"));
  gs::onKeyDown(unreadable, logs("u"));
  EXPECT_FALSE(gs::isEnabled(unreadable));
  EXPECT_EQ(env.hotKeys.registrations().size(), 1u);
}

TEST_F(RegistryTest, MasterSwitchAndPauseWithdrawHotKeysButKeepThem) {
  const Name a("a", optionT);
  gs::onKeyDown(a, logs("a"));
  gs::setEnabled(false);
  EXPECT_FALSE(gs::isEnabled(a));
  EXPECT_FALSE(systemHas(optionT));

  // Registered meanwhile: kept, live once switched on.
  const Name b("b", optionR);
  gs::onKeyDown(b, logs("b"));
  EXPECT_TRUE(gs::registry::hasHotKey(optionR));
  EXPECT_FALSE(systemHas(optionR));
  gs::setEnabled(true);
  EXPECT_TRUE(gs::isEnabled(a));
  EXPECT_TRUE(gs::isEnabled(b));
  EXPECT_EQ(press(optionR), (Strings{"b"}));

  // Paused: withdrawn, and an event that still arrives runs nothing, stream or closure.
  gs::registry::addStreamHandlers(a, 1, logs("stream"), [] {});
  gs::registry::addStreamHandlers(optionT, 2, logs("fixed"), [] {});
  gs::setPaused(true);
  EXPECT_TRUE(gs::isPaused());
  EXPECT_FALSE(systemHas(optionT));
  log.clear();
  env.hotKeys.send(
      {HotKeySystem::kEventClassKeyboard,
       HotKeySystem::kEventHotKeyPressed,
       {gs::HotKeyCenter::kSignature, static_cast<std::uint32_t>(*gs::registry::hotKeyId(optionT))}});
  EXPECT_TRUE(log.empty());
  // Switching the master off and on while paused must not bring the registrations back.
  gs::setEnabled(false);
  gs::setEnabled(true);
  EXPECT_FALSE(systemHas(optionT));
  gs::setPaused(false);
  EXPECT_EQ(press(optionT), (Strings{"a", "stream", "fixed"}));
}

TEST_F(RegistryTest, RemovingHandlersKeepsHotKeysThatStreamsOrOtherNamesStillNeed) {
  const Name a("a", optionT);
  const Name b("b", optionR);
  const Name c("c", optionR);
  gs::onKeyDown(a, logs("a"));
  gs::registry::addStreamHandlers(a, 7, logs("a stream"), [] {});
  gs::onKeyDown(b, logs("b"));
  gs::onKeyDown(c, logs("c"));

  gs::removeHandler(b);  // c still uses the shortcut
  EXPECT_EQ(press(optionR), (Strings{"c"}));

  gs::removeAllHandlers();
  EXPECT_TRUE(systemHas(optionT));  // the stream keeps it
  EXPECT_FALSE(systemHas(optionR));
  EXPECT_EQ(press(optionT), (Strings{"a stream"}));

  gs::registry::removeStreamHandlers(a, 7);
  EXPECT_FALSE(gs::registry::hasHotKey(optionT));

  // A disabled name's stream does not hold the hot key once its closures go.
  gs::onKeyDown(b, logs("b"));
  gs::registry::addStreamHandlers(b, 8, logs("b stream"), [] {});
  gs::disable(b);
  EXPECT_FALSE(gs::registry::hasHotKey(optionR));
  gs::removeHandler(b);
  gs::enable(b);
  EXPECT_EQ(press(optionR), (Strings{"b stream"}));
}

TEST_F(RegistryTest, ARefusedRegistrationLeavesNoEntryAndIsRetried) {
  env.hotKeys.refuse(kT, kOption);
  const Name a("a", optionT);
  gs::onKeyDown(a, logs("a"));
  EXPECT_FALSE(gs::registry::hasHotKey(optionT));
  EXPECT_FALSE(gs::isEnabled(a));

  env.hotKeys.allow(kT, kOption);
  gs::enable(a);
  EXPECT_TRUE(gs::isEnabled(a));
  EXPECT_EQ(press(optionT), (Strings{"a"}));

  // Refused again when hot keys come back after a pause: the entry goes, and the next enable retries.
  gs::setPaused(true);
  env.hotKeys.refuse(kT, kOption);
  gs::setPaused(false);
  EXPECT_FALSE(gs::registry::hasHotKey(optionT));
  env.hotKeys.allow(kT, kOption);
  gs::enable(a);
  EXPECT_TRUE(gs::isEnabled(a));
}

TEST_F(RegistryTest, ResetStoresInitialShortcutsAndResetAllRemovesEveryStoredValue) {
  const Name a("a", optionT);
  const Name plain("plain");
  gs::setShortcut(optionY, plain);
  gs::onKeyDown(a, logs("a"));
  gs::setShortcut(optionR, a);

  gs::resetAll();
  EXPECT_EQ(gs::getShortcut(a), std::nullopt);
  EXPECT_EQ(gs::getShortcut(plain), std::nullopt);
  EXPECT_TRUE(gs::storedNames().empty());  // removed, not set to false
  EXPECT_TRUE(env.hotKeys.registrations().empty());

  gs::reset(a, plain);
  EXPECT_EQ(gs::getShortcut(a), optionT);
  EXPECT_EQ(gs::getShortcut(plain), std::nullopt);
  EXPECT_EQ(press(optionT), (Strings{"a"}));
}

TEST_F(RegistryTest, ClosuresThatChangeTheTablesAffectOnlyLaterEvents) {
  const Name a("a", optionT);
  const Name b("b", optionT);
  gs::onKeyDown(a, [&] {
    log.push_back("a");
    gs::removeHandler(b);
    gs::onKeyDown(a, logs("added"));
  });
  gs::onKeyDown(b, logs("b"));
  EXPECT_EQ(press(optionT), (Strings{"a", "b"}));
  EXPECT_EQ(press(optionT), (Strings{"a", "added"}));

  gs::removeAllHandlers();
  gs::onKeyDown(a, [&] {
    log.push_back("last");
    gs::removeAllHandlers();  // releases the hot key whose event is being delivered
  });
  EXPECT_EQ(press(optionT), (Strings{"last"}));
  EXPECT_FALSE(systemHas(optionT));
  EXPECT_TRUE(press(optionT).empty());
}

// Installation and uninstallation come as a pair: each installation starts afresh, and ending one
// withdraws its hot keys while the services still exist.
TEST(InstalledEnvironment, EachInstallationStartsAfreshAndEndingItReleasesTheHotKeys) {
  platform::fake::ManualExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  platform::NotificationCenter notifications;
  platform::fake::FakeHotKeySystem hotKeys;
  const gs::Environment services{.mainExecutor = &executor,
                                 .userDefaults = &defaults,
                                 .hotKeySystem = &hotKeys,
                                 .notificationCenter = &notifications};
  const auto handle = [] {};
  {
    gs::InstalledEnvironment installed(services);
    EXPECT_THROW(gs::InstalledEnvironment second(services), std::logic_error) << "one at a time";
    gs::onKeyDown(Name("a", optionT), handle);
    gs::disable(Name("b", optionR));
    gs::setEnabled(false);
  }
  EXPECT_THROW(gs::environment(), std::logic_error);
  {
    gs::InstalledEnvironment installed(services);
    EXPECT_TRUE(gs::isEnabled());
    EXPECT_FALSE(gs::registry::hasHotKey(optionT));
    const Name a("a", optionT);
    const Name b("b", optionR);
    gs::onKeyDown(a, handle);
    gs::onKeyDown(b, handle);
    EXPECT_TRUE(gs::isEnabled(a));
    EXPECT_TRUE(gs::isEnabled(b)) << "names disabled before are forgotten";
    EXPECT_EQ(hotKeys.registrations().size(), 2u);
  }
  EXPECT_TRUE(hotKeys.registrations().empty());
}

TEST(InstalledEnvironment, RefusesAMissingRequiredService) {
  platform::fake::ManualExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  EXPECT_THROW(gs::InstalledEnvironment({.mainExecutor = &executor, .userDefaults = &defaults}),
               std::invalid_argument);
  EXPECT_THROW(gs::environment(), std::logic_error);
}

}  // namespace
