#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "GlobalShortcuts/EventStreams.h"
#include "GlobalShortcuts/GlobalShortcuts.h"
#include "platform/HotKeySystem.h"
#include "platform/Task.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"

using namespace std::chrono_literals;
namespace gs = GlobalShortcuts;
using gs::EventType;
using gs::Name;
using gs::Shortcut;

namespace {

constexpr std::uint32_t kOption = platform::carbon::option;
const Shortcut optionT(17, kOption);
const Shortcut optionR(15, kOption);

using Millis = std::vector<long>;
using Events = std::vector<EventType>;

class EventStreamsTest : public ::testing::Test {
 protected:
  void press(const Shortcut& s) { env.press(s); }
  void release(const Shortcut& s) { env.release(s); }
  bool systemHas(const Shortcut& s) { return env.isRegistered(s); }
  long now() const { return static_cast<long>(env.executor.now() / 1ms); }

  // Reads every tick as it comes, noting the virtual time.
  void readTicks(gs::RepeatStream& stream) {
    stream.forEach(reader, [this](std::monostate) { ticks.push_back(now()); });
  }
  void readEvents(gs::EventStream& stream, Events& into) {
    stream.forEach(reader, [&into](EventType type) { into.push_back(type); });
  }

  quorvelle::test::ShortcutsTestEnvironment env;
  platform::Task reader{env.executor};
  Millis ticks;
};

TEST_F(EventStreamsTest, ATapGivesOneTickAndAHoldRepeatsAtTheKeyRepeatRateUntilKeyUp) {
  const Name translate("translate", optionT);
  auto stream = gs::repeatingKeyDownEvents(translate);
  readTicks(stream);

  press(optionT);
  env.executor.advance(100ms);
  release(optionT);
  env.executor.advance(2s);
  EXPECT_EQ(ticks, Millis{0});

  ticks.clear();
  const long start = now();
  press(optionT);
  env.executor.advance(600ms);
  release(optionT);
  env.executor.advance(2s);
  for (auto& tick : ticks) tick -= start;
  EXPECT_EQ(ticks, (Millis{0, 500, 550, 600}));
  EXPECT_EQ(env.executor.pendingCount(), 0u) << "no timer is left after the key-up";
}

TEST_F(EventStreamsTest, AKeyDownWithoutKeyUpStartsTheSequenceAgain) {
  const Name translate("translate", optionT);
  auto stream = gs::repeatingKeyDownEvents(translate);
  readTicks(stream);
  press(optionT);
  env.executor.advance(400ms);
  press(optionT);
  env.executor.advance(550ms);
  EXPECT_EQ(ticks, (Millis{0, 400, 900, 950}));
}

TEST_F(EventStreamsTest, ASlowReaderFindsOneTickWaitingNotABacklog) {
  const Name translate("translate", optionT);
  auto stream = gs::repeatingKeyDownEvents(translate);
  press(optionT);
  env.executor.advance(1s);  // 1 + 11 ticks, nobody reading
  std::vector<long> read;
  stream.next(reader, [&](std::optional<std::monostate> tick) { read.push_back(tick ? now() : -1); });
  env.executor.runUntilIdle();
  EXPECT_EQ(read, Millis{1000});
  stream.next(reader, [&](std::optional<std::monostate> tick) { read.push_back(tick ? now() : -1); });
  env.executor.runUntilIdle();
  EXPECT_EQ(read.size(), 1u) << "the next read waits for the next tick";
  env.executor.advance(50ms);
  EXPECT_EQ(read, (Millis{1000, 1050}));
}

// What stops the repeats of a held shortcut before the next tick.
TEST(EventStreams, RepeatsStopWhenTheHeldShortcutCouldNoLongerFire) {
  struct Case {
    const char* name;
    std::function<void(const Name&)> change;
  };
  const Case cases[] = {
      {"another shortcut stored", [](const Name& n) { gs::setShortcut(optionR, n); }},
      {"shortcut cleared", [](const Name& n) { gs::setShortcut(std::nullopt, n); }},
      {"a recorder pauses the package", [](const Name&) { gs::setPaused(true); }},
      {"name disabled", [](const Name& n) { gs::disable(n); }},
      {"package switched off", [](const Name&) { gs::setEnabled(false); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    quorvelle::test::ShortcutsTestEnvironment local;
    const Name translate("translate", optionT);
    auto stream = gs::repeatingKeyDownEvents(translate);
    platform::Task task(local.executor);
    Millis seen;
    stream.forEach(task,
                   [&](std::monostate) { seen.push_back(static_cast<long>(local.executor.now() / 1ms)); });
    local.press(optionT);
    local.executor.advance(520ms);
    c.change(translate);
    local.executor.advance(1s);
    EXPECT_EQ(seen, (Millis{0, 500}));
  }
}

TEST_F(EventStreamsTest, RepeatsOfAFixedShortcutStopWhilePaused) {
  auto stream = gs::repeatingKeyDownEvents(optionT);
  readTicks(stream);
  press(optionT);
  env.executor.advance(520ms);
  gs::setPaused(true);
  env.executor.advance(1s);
  EXPECT_EQ(ticks, (Millis{0, 500}));
}

TEST_F(EventStreamsTest, EndingARepeatStreamWhileHeldStopsTicksAndReleasesTheHotKey) {
  const Name translate("translate", optionT);
  std::optional<gs::RepeatStream> stream = gs::repeatingKeyDownEvents(translate);
  readTicks(*stream);
  EXPECT_TRUE(systemHas(optionT));
  press(optionT);
  env.executor.advance(520ms);
  stream.reset();
  env.executor.advance(1s);
  EXPECT_EQ(ticks, (Millis{0, 500}));
  EXPECT_FALSE(systemHas(optionT));
  EXPECT_EQ(env.executor.pendingCount(), 0u);
}

TEST_F(EventStreamsTest, AStreamRegistersAtCreationAndReleasesAfterTheCleanUpTurn) {
  const Name translate("translate", optionT);
  {
    auto stream = gs::events(translate);
    EXPECT_TRUE(systemHas(optionT)) << "registered before anything reads";
    EXPECT_TRUE(gs::isEnabled(translate));
  }
  EXPECT_TRUE(systemHas(optionT)) << "the clean-up waits for a later turn";
  env.executor.runUntilIdle();
  EXPECT_FALSE(systemHas(optionT));

  // A cancelled reader ends the stream just as well.
  auto stream = gs::events(translate);
  Events seen;
  readEvents(stream, seen);
  press(optionT);
  env.executor.runUntilIdle();
  reader.cancel();
  release(optionT);
  env.executor.runUntilIdle();
  EXPECT_EQ(seen, Events{EventType::keyDown});
  EXPECT_FALSE(systemHas(optionT));
}

TEST_F(EventStreamsTest, EventsAreBufferedUntilReadAndEachStreamOfANameHearsThemAll) {
  const Name translate("translate", optionT);
  auto first = gs::events(translate);
  std::optional<gs::EventStream> second = gs::events(translate);
  for (int i = 0; i < 3; ++i) {
    press(optionT);
    release(optionT);
  }
  Events one;
  Events two;
  readEvents(first, one);
  platform::Task other(env.executor);
  second->forEach(other, [&](EventType type) { two.push_back(type); });
  env.executor.runUntilIdle();
  const Events threeTaps{EventType::keyDown, EventType::keyUp,   EventType::keyDown,
                         EventType::keyUp,   EventType::keyDown, EventType::keyUp};
  EXPECT_EQ(one, threeTaps);
  EXPECT_EQ(two, threeTaps);

  second.reset();
  env.executor.runUntilIdle();
  EXPECT_TRUE(systemHas(optionT)) << "the other stream still needs it";
  press(optionT);
  env.executor.runUntilIdle();
  EXPECT_EQ(one.size(), 7u);
}

TEST_F(EventStreamsTest, AStreamOfAFixedShortcutHearsItWhenItsNameIsDisabledButNotWhilePaused) {
  const Name translate("translate", optionT);
  gs::disable(translate);
  auto stream = gs::events(optionT);
  auto named = gs::events(translate);
  Events seen;
  Events seenByName;
  readEvents(stream, seen);
  platform::Task other(env.executor);
  named.forEach(other, [&](EventType type) { seenByName.push_back(type); });
  press(optionT);
  release(optionT);
  env.executor.runUntilIdle();
  EXPECT_EQ(seen, (Events{EventType::keyDown, EventType::keyUp}));
  EXPECT_TRUE(seenByName.empty());

  gs::setPaused(true);
  env.hotKeys.send(
      {platform::HotKeySystem::kEventClassKeyboard,
       platform::HotKeySystem::kEventHotKeyPressed,
       {gs::HotKeyCenter::kSignature, static_cast<std::uint32_t>(*gs::registry::hotKeyId(optionT))}});
  env.executor.runUntilIdle();
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(EventStreamsTest, AKeyUpStreamYieldsOnlyReleases) {
  const Name translate("translate", optionT);
  auto stream = gs::events(EventType::keyUp, translate);
  Events seen;
  readEvents(stream, seen);
  press(optionT);
  release(optionT);
  press(optionT);
  release(optionT);
  env.executor.runUntilIdle();
  EXPECT_EQ(seen, (Events{EventType::keyUp, EventType::keyUp}));
}

}  // namespace
