#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"

using platform::Notification;
using platform::NotificationCenter;

namespace {
struct Name {
  std::string rawValue;
};
}  // namespace

TEST(NotificationCenter, CallsObserversOfTheNameInRegistrationOrderWithTypedUserInfo) {
  NotificationCenter center;
  std::vector<std::string> calls;
  auto a = center.addObserver("changed", [&](const Notification& n) {
    const Name* name = n.value<Name>("name");
    calls.push_back("a:" + (name ? name->rawValue : "?"));
    EXPECT_TRUE(n.has("isActive"));
    EXPECT_EQ(n.value<int>("isActive"), nullptr) << "present but of another type";
    ASSERT_NE(n.value<bool>("isActive"), nullptr);
    EXPECT_FALSE(n.has("missing"));
  });
  auto other = center.addObserver("other", [&](const Notification&) { calls.push_back("other"); });
  auto b = center.addObserver("changed", [&](const Notification& n) {
    calls.push_back(std::string("b:") + (*n.value<bool>("isActive") ? "active" : "inactive"));
  });

  center.post("changed", platform::UserInfo{{"name", Name{"translate"}}, {"isActive", false}});
  EXPECT_EQ(calls, (std::vector<std::string>{"a:translate", "b:inactive"}));

  calls.clear();
  auto bare = center.addObserver("bare", [&](const Notification& n) {
    calls.push_back(n.userInfo ? "info" : "no-info");
    EXPECT_EQ(n.value<bool>("isActive"), nullptr);
  });
  center.post("bare");
  EXPECT_EQ(calls, std::vector<std::string>{"no-info"});
}

TEST(NotificationCenter, DispatchUsesASnapshotAndHonoursRemovalDuringIt) {
  NotificationCenter center;
  std::vector<std::string> calls;
  NotificationCenter::Token second, added;
  auto first = center.addObserver("x", [&](const Notification&) {
    calls.push_back("first");
    second.cancel();  // an earlier observer ends a later one (e.g. closes its window)
    if (!added.isActive())
      added = center.addObserver("x", [&](const Notification&) { calls.push_back("added"); });
  });
  second = center.addObserver("x", [&](const Notification&) { calls.push_back("second"); });

  center.post("x");
  EXPECT_EQ(calls, std::vector<std::string>{"first"}) << "removed not called, added waits for the next post";
  calls.clear();
  center.post("x");
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "added"}));
}

TEST(NotificationCenter, TokensUnsubscribeWhenReleasedReplacedOrOutlivingTheCenter) {
  std::vector<std::string> calls;
  auto observer = [&](std::string tag) { return [&, tag](const Notification&) { calls.push_back(tag); }; };
  NotificationCenter::Token survivor;
  {
    NotificationCenter center;
    { auto scoped = center.addObserver("x", observer("scoped")); }
    auto replaced = center.addObserver("x", observer("replaced"));
    replaced = center.addObserver("x", observer("replacement"));
    auto moved = center.addObserver("x", observer("moved"));
    NotificationCenter::Token holder = std::move(moved);
    survivor = center.addObserver("x", observer("survivor"));
    center.post("x");
    EXPECT_EQ(calls, (std::vector<std::string>{"replacement", "moved", "survivor"}));
  }
  EXPECT_FALSE(survivor.isActive());
  survivor.cancel();  // the center is gone: nothing to do, nothing to crash

  calls.clear();
  auto fromDefault = NotificationCenter::defaultCenter().addObserver("d", observer("default"));
  NotificationCenter::defaultCenter().post("d");
  EXPECT_EQ(calls, std::vector<std::string>{"default"});
}
