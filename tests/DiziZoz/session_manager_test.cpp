#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/TimeBasedEpochGenerator.h"
#include "DiziZoz/core/Uuid.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/SeededRandom.h"
#include "tests/DiziZoz/CapturedLog.h"
#include "tests/support/dizizoz/FakeAppLifecycle.h"

namespace {

using namespace std::chrono_literals;
using dizizoz::DiziZozSessionManager;
using dizizoz::test::CapturedLog;
using dizizoz::test::FakeAppLifecycle;

// A manager on a manual clock whose life cycle the test drives.
struct SessionRig {
  SessionRig() {
    token = manager->onSessionIdChanged.subscribe([this] { ++changes; });
  }
  // Set up and started, as the client does.
  void start() {
    manager->setup(std::make_shared<dizizoz::DiziZozConfig>("phc_session"));
    manager->startSession();
  }
  std::optional<std::string> current() { return manager->getSessionId(true); }
  // Keeps the session active for `length`, touching it every 1000 s through life-cycle transitions.
  void stayActiveFor(std::chrono::seconds length) {
    for (auto elapsed = 0s; elapsed < length;) {
      const auto step = std::min<std::chrono::seconds>(1000s, length - elapsed);
      clock.advance(step);
      elapsed += step;
      lifecycle.enterBackground();
      lifecycle.becomeActive();
    }
  }

  platform::fake::ManualClock clock;
  platform::fake::SeededRandom random{3};
  FakeAppLifecycle lifecycle;
  std::shared_ptr<DiziZozSessionManager> manager = std::make_shared<DiziZozSessionManager>(
      std::shared_ptr<const platform::Clock>(std::shared_ptr<void>(), &clock),
      std::make_shared<dizizoz::TimeBasedEpochGenerator>(clock, random), lifecycle);
  int changes = 0;
  dizizoz::RegistrationToken token;
};

TEST(SessionManager, IdsAreLowerCaseVersion7AndStartWithSetup) {
  SessionRig rig;
  EXPECT_FALSE(rig.manager->getSessionId(false))
      << "before set-up the application counts as in the background";
  CapturedLog log;
  rig.start();
  const auto id = rig.current();
  ASSERT_TRUE(id);
  const auto parsed = dizizoz::Uuid::fromString(*id);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->version(), 7);
  EXPECT_EQ(parsed->toString(), *id);
  EXPECT_EQ(log.lines,
            std::vector<std::string>{"[DiziZoz] New session id created " + *id + " (sessionStart)"});
  EXPECT_EQ(rig.changes, 1);
  EXPECT_FALSE(rig.manager->isAppInBackgroundSnapshot());
}

TEST(SessionManager, LimitsAreStrictAndDependOnTheApplicationState) {
  enum class Outcome { kept, rotated, cleared };
  struct Case {
    const char* name;
    bool background;
    std::chrono::seconds activeFor;  // kept active this long first
    std::chrono::seconds idle;       // then left alone this long
    bool readOnly;
    Outcome outcome;
    const char* reason;  // case name in the change's line
  };
  const Case cases[] = {
      {"foreground 1800 s idle", false, 0s, 1800s, false, Outcome::kept, nullptr},
      {"foreground 1801 s idle", false, 0s, 1801s, false, Outcome::rotated, "sessionTimeout"},
      {"background 1800 s idle", true, 0s, 1800s, false, Outcome::kept, nullptr},
      {"background 1801 s idle", true, 0s, 1801s, false, Outcome::cleared, "sessionTimeout"},
      {"foreground 86400 s long", false, 86399s, 1s, false, Outcome::kept, nullptr},
      {"foreground 86401 s long", false, 86400s, 1s, false, Outcome::rotated, "sessionPastMaximumLength"},
      {"background 86401 s long", true, 86400s, 1s, false, Outcome::cleared, "sessionPastMaximumLength"},
      {"read-only past both limits", false, 0s, 100000s, true, Outcome::kept, nullptr},
      {"read-only in the background", true, 0s, 100000s, true, Outcome::kept, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionRig rig;
    rig.start();
    rig.stayActiveFor(c.activeFor);
    if (c.background) rig.lifecycle.enterBackground();
    const auto before = rig.current();
    const int changesBefore = rig.changes;
    rig.clock.advance(c.idle);

    CapturedLog log;
    const auto result = rig.manager->getSessionId(rig.clock.now(), c.readOnly);
    switch (c.outcome) {
      case Outcome::kept:
        EXPECT_EQ(result, before);
        EXPECT_EQ(rig.changes, changesBefore);
        EXPECT_TRUE(log.lines.empty());
        break;
      case Outcome::rotated:
        ASSERT_TRUE(result);
        EXPECT_NE(result, before);
        EXPECT_EQ(rig.current(), result);
        EXPECT_EQ(log.lines, std::vector<std::string>{"[DiziZoz] New session id created " + *result + " (" +
                                                      c.reason + ")"});
        break;
      case Outcome::cleared:
        EXPECT_FALSE(result);
        EXPECT_FALSE(rig.current());
        EXPECT_EQ(log.lines, std::vector<std::string>{
                                 std::string("[DiziZoz] Session id cleared - reason: (") + c.reason + ")"});
        break;
    }
    if (c.outcome != Outcome::kept) {
      EXPECT_EQ(rig.changes, changesBefore + 1);
    }
  }
}

TEST(SessionManager, ACustomEmptyIdIsReplacedByTheNextForegroundQuery) {
  SessionRig rig;
  rig.start();
  rig.manager->setSessionId("");
  EXPECT_EQ(rig.current(), "");
  CapturedLog log;
  const auto id = rig.manager->getSessionId(false);
  ASSERT_TRUE(id);
  EXPECT_FALSE(id->empty());
  EXPECT_EQ(log.lines,
            std::vector<std::string>{"[DiziZoz] New session id created " + *id + " (sessionIdEmpty)"});

  rig.manager->setSessionId("my-session");
  EXPECT_EQ(rig.manager->getSessionId(false), "my-session") << "a custom id lasts like any other";
  rig.clock.advance(1801s);
  EXPECT_NE(rig.manager->getSessionId(false), "my-session");
}

TEST(SessionManager, AClockSetBackKeepsTheSession) {
  SessionRig rig;
  rig.start();
  const auto id = rig.current();
  rig.clock.setWallTime(rig.clock.now() - 48h);
  EXPECT_EQ(rig.manager->getSessionId(false), id);
  rig.lifecycle.enterBackground();
  rig.lifecycle.becomeActive();
  EXPECT_EQ(rig.manager->getSessionId(false), id);
}

TEST(SessionManager, OnlyLifeCycleTransitionsTouchTheSession) {
  SessionRig rig;
  rig.start();
  const auto id = rig.current();

  // Going to the background twice touches once: the second does not move the activity time.
  rig.clock.advance(1000s);
  rig.lifecycle.enterBackground();
  rig.clock.advance(1000s);
  rig.lifecycle.enterBackground();
  rig.clock.advance(801s);
  EXPECT_FALSE(rig.manager->getSessionId(false)) << "1801 s after the first touch";

  // Becoming active after a long absence rotates the session through the touch.
  SessionRig other;
  other.start();
  other.lifecycle.enterBackground();
  other.clock.advance(5000s);
  const int before = other.changes;
  other.lifecycle.becomeActive();
  EXPECT_EQ(other.changes, before + 1);
  EXPECT_FALSE(other.manager->isAppInBackgroundSnapshot());

  // Querying does not count as activity.
  SessionRig quiet;
  quiet.start();
  for (int i = 0; i < 3; ++i) {
    quiet.clock.advance(1000s);
    quiet.manager->getSessionId(false);
  }
  EXPECT_EQ(quiet.changes, 2) << "rotated once the 1801st second passed";
  (void)id;
}

TEST(SessionManager, ResetEndsTheLifeCycleSubscriptionsUntilTheNextSetup) {
  SessionRig rig;
  rig.start();
  const auto id = rig.current();
  CapturedLog log;
  rig.manager->reset();
  EXPECT_NE(rig.current(), id);
  EXPECT_EQ(log.lines, std::vector<std::string>{"[DiziZoz] New session id created " + *rig.current() +
                                                " (sessionReset)"});
  EXPECT_EQ(rig.lifecycle.enteredBackground.subscriberCount(), 0u);
  rig.lifecycle.enterBackground();
  EXPECT_FALSE(rig.manager->isAppInBackgroundSnapshot());

  rig.manager->endSession();
  EXPECT_FALSE(rig.current());
  rig.manager->setup(std::make_shared<dizizoz::DiziZozConfig>("phc_session"));
  EXPECT_EQ(rig.lifecycle.enteredBackground.subscriberCount(), 1u) << "one subscription, not two";
}

}  // namespace
