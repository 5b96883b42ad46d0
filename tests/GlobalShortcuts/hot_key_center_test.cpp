#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "GlobalShortcuts/HotKey.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "platform/Log.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"

using GlobalShortcuts::HotKey;
using GlobalShortcuts::HotKeyCenter;
using GlobalShortcuts::KeyEvent;
using GlobalShortcuts::ModifierFlags;
using Mode = GlobalShortcuts::HotKeyCenter::Mode;
using platform::HotKeySystem;

namespace {

constexpr std::uint32_t kT = 17;
constexpr std::uint32_t kR = 15;
constexpr std::uint32_t kF5 = 96;
constexpr std::uint32_t kOption = platform::carbon::option;
constexpr std::uint32_t kFunction = platform::carbon::function;

class HotKeyCenterTest : public ::testing::Test {
 protected:
  HotKeyCenter& center() { return HotKeyCenter::shared(); }

  // A hot key whose closures log "<label> down" and "<label> up".
  std::shared_ptr<HotKey> makeHotKey(std::int64_t code, std::int64_t modifiers, const std::string& label) {
    return std::make_shared<HotKey>(
        code, modifiers, [this, label] { log.push_back(label + " down"); },
        [this, label] { log.push_back(label + " up"); });
  }

  bool eventsAdded() {
    const std::pair<std::uint32_t, std::uint32_t> pressed{HotKeySystem::kEventClassKeyboard,
                                                          HotKeySystem::kEventHotKeyPressed};
    for (std::uint64_t ref = 1; ref < 100; ++ref) {
      if (env.hotKeys.eventTypes(ref).contains(pressed)) return true;
    }
    return false;
  }

  quorvelle::test::ShortcutsTestEnvironment env;
  std::vector<std::string> log;
};

TEST_F(HotKeyCenterTest, IdsCountUpAndAreNeverReused) {
  env.hotKeys.refuse(kR, kOption);
  auto refused = makeHotKey(kR, kOption, "r");
  EXPECT_EQ(refused->id(), 1);
  EXPECT_FALSE(center().registerHotKey(refused));
  EXPECT_FALSE(center().contains(1));
  refused.reset();

  auto first = makeHotKey(kT, kOption, "t");
  EXPECT_EQ(first->id(), 2);
  EXPECT_TRUE(center().registerHotKey(first));
  first.reset();  // ending it withdraws the registration and the entry
  EXPECT_TRUE(env.hotKeys.registrations().empty());
  EXPECT_FALSE(center().contains(2));
  EXPECT_EQ(makeHotKey(kT, kOption, "t")->id(), 3);
  EXPECT_EQ(center().lastHotKeyId(), 3);
}

TEST_F(HotKeyCenterTest, ModeFollowsEnabledAndMenuState) {
  auto hotKey = makeHotKey(kT, kOption, "t");
  center().setEnabled(false);
  ASSERT_TRUE(center().registerHotKey(hotKey));
  // Registered while disabled: kept in the table, withdrawn from the system at once.
  EXPECT_TRUE(center().contains(hotKey->id()));

  struct Step {
    const char* what;
    bool enabled;
    bool menuOpen;
    Mode mode;
  };
  const Step steps[] = {
      {"registered while disabled", false, false, Mode::disabled},
      {"enabled", true, false, Mode::normal},
      {"menu opened", true, true, Mode::menuOpen},
      {"menu closed", true, false, Mode::normal},
      {"disabled", false, false, Mode::disabled},
      {"menu opened while disabled", false, true, Mode::disabled},
      {"enabled with the menu open", true, true, Mode::menuOpen},
      {"disabled with the menu open", false, true, Mode::disabled},
      {"menu closed while disabled", false, false, Mode::disabled},
      {"enabled again", true, false, Mode::normal},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.menuOpen != center().isMenuOpen()) step.menuOpen ? env.menus.open() : env.menus.close();
    center().setEnabled(step.enabled);
    EXPECT_EQ(center().mode(), step.mode);
    EXPECT_EQ(env.hotKeys.isRegistered(kT, kOption), step.mode == Mode::normal);
    EXPECT_EQ(center().isRegistered(hotKey->id()), step.mode == Mode::normal);
    EXPECT_EQ(eventsAdded(), step.mode == Mode::normal);
    EXPECT_EQ(env.monitors.runningCount(), step.mode == Mode::menuOpen ? 2u : 0u);
    EXPECT_EQ(env.hotKeys.press(kT, kOption).has_value(), step.mode == Mode::normal);
  }
  EXPECT_EQ(log, std::vector<std::string>(3, "t down"));
}

TEST_F(HotKeyCenterTest, HandlerStatuses) {
  auto hotKey = makeHotKey(kT, kOption, "t");
  ASSERT_TRUE(center().registerHotKey(hotKey));
  const auto id = static_cast<std::uint32_t>(hotKey->id());

  EXPECT_EQ(env.hotKeys.press(kT, kOption), HotKeySystem::kNoErr);
  EXPECT_EQ(env.hotKeys.release(kT, kOption), HotKeySystem::kNoErr);
  EXPECT_EQ(log, (std::vector<std::string>{"t down", "t up"}));

  struct Case {
    const char* what;
    HotKeySystem::HotKeyEvent event;
  };
  const Case declined[] = {
      {"another signature", {HotKeySystem::kEventClassKeyboard, 5, {0x41424344, id}}},
      {"an unknown id", {HotKeySystem::kEventClassKeyboard, 5, {HotKeyCenter::kSignature, id + 7}}},
      {"another kind", {HotKeySystem::kEventClassKeyboard, 9, {HotKeyCenter::kSignature, id}}},
  };
  for (const auto& c : declined)
    EXPECT_EQ(env.hotKeys.send(c.event), HotKeySystem::kEventNotHandledErr) << c.what;

  // Off the main thread the event is declined and nothing is queued for later.
  std::optional<HotKeySystem::Status> offMain;
  std::thread([&] { offMain = env.hotKeys.press(kT, kOption); }).join();
  EXPECT_EQ(offMain, HotKeySystem::kEventNotHandledErr);
  env.executor.runUntilIdle();

  // The id of a hot key that has ended.
  const HotKeySystem::HotKeyEvent ended{HotKeySystem::kEventClassKeyboard, 5, {HotKeyCenter::kSignature, id}};
  hotKey.reset();
  EXPECT_EQ(env.hotKeys.send(ended), HotKeySystem::kEventNotHandledErr);
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(HotKeyCenterTest, RawKeysMatchWhileAMenuIsOpen) {
  auto t = makeHotKey(kT, kOption, "t");
  auto f5 = makeHotKey(kF5, 0, "f5");
  auto fnT = makeHotKey(kT, kOption | kFunction, "fn-t");
  for (const auto& hotKey : {t, f5, fnT}) ASSERT_TRUE(center().registerHotKey(hotKey));
  env.menus.open();
  EXPECT_TRUE(env.hotKeys.registrations().empty());

  const auto down = KeyEvent::Type::keyDown;
  const auto up = KeyEvent::Type::keyUp;
  // A held key: one key-down despite the repeats, then its key-up.
  env.monitors.deliver({down, kT, ModifierFlags::option, false});
  env.monitors.deliver({down, kT, ModifierFlags::option, true});
  env.monitors.deliver({down, kT, ModifierFlags::option, true});
  env.monitors.deliver({up, kT, ModifierFlags::option, false});
  EXPECT_EQ(log, (std::vector<std::string>{"t down", "t up"}));
  log.clear();

  // Caps Lock and numeric pad do not matter; Fn does not matter on F5 but does on a letter.
  env.monitors.deliver(
      {down, kT, ModifierFlags::option | ModifierFlags::capsLock | ModifierFlags::numericPad});
  env.monitors.deliver({down, kF5, ModifierFlags::function});
  env.monitors.deliver({down, kT, ModifierFlags::option | ModifierFlags::function});
  env.monitors.deliver({down, kT, ModifierFlags::command});
  env.monitors.deliver({down, kR, ModifierFlags::option});
  EXPECT_EQ(log, (std::vector<std::string>{"t down", "f5 down", "fn-t down"}));
  log.clear();

  // Alt let go before T: the release carries no Option, yet it ends the press of Option+T. Only once, and
  // only for a key that is down.
  env.monitors.deliver({down, kT, ModifierFlags::option});
  env.monitors.deliver({up, kT, ModifierFlags()});
  env.monitors.deliver({up, kT, ModifierFlags()});
  env.monitors.deliver({up, kR, ModifierFlags()});
  EXPECT_EQ(log, (std::vector<std::string>{"t down", "t up"}));
  log.clear();

  // Closed again: the monitors stop and the system delivers.
  env.menus.close();
  env.monitors.deliver({down, kT, ModifierFlags::option}, /*menuOpen=*/false);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(env.hotKeys.press(kF5, 0), HotKeySystem::kNoErr);
  EXPECT_EQ(log, std::vector<std::string>{"f5 down"});
}

TEST_F(HotKeyCenterTest, MenuNotificationsFromOtherThreadsApplyOnTheMainExecutor) {
  auto hotKey = makeHotKey(kT, kOption, "t");
  ASSERT_TRUE(center().registerHotKey(hotKey));
  std::thread([&] { env.menus.open(); }).join();
  EXPECT_EQ(center().mode(), Mode::normal);
  env.executor.runUntilIdle();
  EXPECT_EQ(center().mode(), Mode::menuOpen);
  EXPECT_FALSE(env.hotKeys.isRegistered(kT, kOption));
}

TEST_F(HotKeyCenterTest, RefusedResumeDropsTheHotKeyAndTellsItOnce) {
  auto t = makeHotKey(kT, kOption, "t");
  auto r = makeHotKey(kR, kOption, "r");
  int failures = 0;
  t->onRegistrationFailed = [&] { ++failures; };
  ASSERT_TRUE(center().registerHotKey(t));
  ASSERT_TRUE(center().registerHotKey(r));

  env.menus.open();
  env.hotKeys.refuse(kT, kOption);
  env.menus.close();
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(center().contains(t->id()));
  EXPECT_TRUE(env.hotKeys.isRegistered(kR, kOption));

  // Gone for good: later mode changes leave it alone.
  env.hotKeys.allow(kT, kOption);
  env.menus.open();
  env.menus.close();
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(env.hotKeys.isRegistered(kT, kOption));
}

TEST_F(HotKeyCenterTest, ClosuresMayReleaseHotKeys) {
  // A key-down that releases its own hot key, and a failure handler that releases another one.
  std::shared_ptr<HotKey> self;
  self = std::make_shared<HotKey>(
      kT, kOption, [&] { self.reset(); }, [] {});
  ASSERT_TRUE(center().registerHotKey(self));
  EXPECT_EQ(env.hotKeys.press(kT, kOption), HotKeySystem::kNoErr);
  EXPECT_FALSE(self);
  EXPECT_FALSE(env.hotKeys.isRegistered(kT, kOption));

  auto first = makeHotKey(kR, kOption, "r");
  auto second = makeHotKey(kF5, 0, "f5");
  first->onRegistrationFailed = [&] { second.reset(); };
  ASSERT_TRUE(center().registerHotKey(first));
  ASSERT_TRUE(center().registerHotKey(second));
  const auto secondId = second->id();
  env.menus.open();
  env.hotKeys.refuse(kR, kOption);
  env.menus.close();
  EXPECT_FALSE(second);
  EXPECT_FALSE(center().contains(secondId));
  EXPECT_TRUE(env.hotKeys.registrations().empty());
}

TEST_F(HotKeyCenterTest, HotKeyReleasedOnAnotherThreadIsTornDownOnTheMainExecutor) {
  auto hotKey = makeHotKey(kT, kOption, "t");
  ASSERT_TRUE(center().registerHotKey(hotKey));
  std::thread([moved = std::move(hotKey)]() mutable { moved.reset(); }).join();
  EXPECT_TRUE(env.hotKeys.isRegistered(kT, kOption));
  env.executor.runUntilIdle();
  EXPECT_FALSE(env.hotKeys.isRegistered(kT, kOption));
}

TEST_F(HotKeyCenterTest, AFailedHandlerInstallationIsLoggedAndRetriedWhenTheModeChanges) {
  std::vector<std::string> lines;
  const auto previous =
      platform::setLogSink([&](platform::LogLevel, std::string_view line) { lines.emplace_back(line); });
  env.hotKeys.setHandlerInstallationFails(true);
  auto hotKey = makeHotKey(kT, kOption, "t");
  EXPECT_TRUE(center().registerHotKey(hotKey));
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_EQ(env.hotKeys.press(kT, kOption), std::nullopt);

  env.hotKeys.setHandlerInstallationFails(false);
  env.menus.open();
  EXPECT_EQ(center().mode(), Mode::menuOpen);
  EXPECT_EQ(env.monitors.runningCount(), 2u);
  env.menus.close();
  EXPECT_EQ(env.hotKeys.press(kT, kOption), HotKeySystem::kNoErr);
  EXPECT_EQ(log, std::vector<std::string>{"t down"});
  EXPECT_EQ(env.hotKeys.handlerCount(), 1u);
  platform::setLogSink(previous);
}

TEST_F(HotKeyCenterTest, ValuesBeyondThirtyTwoBitsAreRefused) {
  for (const auto& [code, modifiers] : std::vector<std::pair<std::int64_t, std::int64_t>>{
           {-3, 0x100}, {std::int64_t{1} << 32, 0}, {17, -1}}) {
    EXPECT_FALSE(center().registerHotKey(makeHotKey(code, modifiers, "x"))) << code << " " << modifiers;
  }
  EXPECT_TRUE(env.hotKeys.registrations().empty());
}

}  // namespace
