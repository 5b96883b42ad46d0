#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/BeforeSendChain.h"
#include "DiziZoz/core/DiziZozBootstrapConfig.h"
#include "DiziZoz/core/DiziZozMulticastCallback.h"

namespace {

using dizizoz::BeforeSendChain;
using dizizoz::DiziZozBootstrapConfig;
using dizizoz::DiziZozMulticastCallback;
using dizizoz::RegistrationToken;

TEST(DiziZozMulticastCallback, DeliversToSubscribersUntilTheirTokensGoAndReportsCounts) {
  std::vector<std::size_t> counts;
  DiziZozMulticastCallback<std::string> list([&](std::size_t n) { counts.push_back(n); });
  list.invoke("nobody listens");

  std::vector<std::string> a, b;
  auto tokenA = list.subscribe([&](const std::string& v) { a.push_back(v); });
  {
    auto tokenB = list.subscribe([&](const std::string& v) { b.push_back(v); });
    list.invoke("both");
  }
  list.invoke("only a");
  // Assigning a new token over the old one ends the old subscription.
  tokenA = list.subscribe([&](const std::string& v) { b.push_back("new:" + v); });
  list.invoke("replaced");

  EXPECT_EQ(a, (std::vector<std::string>{"both", "only a"}));
  EXPECT_EQ(b, (std::vector<std::string>{"both", "new:replaced"}));
  EXPECT_EQ(counts, (std::vector<std::size_t>{1, 2, 1, 2, 1}));
}

TEST(DiziZozMulticastCallback, InvokeUsesASnapshotSoCallbacksMayReleaseSubscribeAndInvoke) {
  DiziZozMulticastCallback<int> list;
  std::vector<std::string> calls;
  std::optional<RegistrationToken> tokenB;
  std::optional<RegistrationToken> lateToken;

  // Keys are ordered by subscription, so A runs before B; the snapshot must still call B this time.
  auto tokenA = list.subscribe([&](int v) {
    calls.push_back("a" + std::to_string(v));
    if (v == 1) {
      tokenB.reset();  // released during the invoke
      lateToken = list.subscribe([&](int w) { calls.push_back("late" + std::to_string(w)); });
      list.invoke(2);  // re-entrant: must not deadlock; sees the list as it is now
    }
  });
  tokenB = list.subscribe([&](int v) { calls.push_back("b" + std::to_string(v)); });

  list.invoke(1);
  list.invoke(3);

  EXPECT_EQ(calls, (std::vector<std::string>{"a1", "a2", "late2", "b1", "a3", "late3"}));
  EXPECT_EQ(list.subscriberCount(), 2u);
}

TEST(DiziZozMulticastCallback, TokenOutlivingItsListDoesNothingWhenReleased) {
  int observed = 0;
  RegistrationToken token;
  {
    DiziZozMulticastCallback<> list([&](std::size_t) { ++observed; });
    int fired = 0;
    token = list.subscribe([&] { ++fired; });
    list.invoke();
    EXPECT_EQ(fired, 1);
  }
  token.release();
  EXPECT_EQ(observed, 1);  // only the subscription was reported
}

TEST(BeforeSendChain, PassesThroughChangesAndDropsInOrder) {
  BeforeSendChain<std::string> chain;
  EXPECT_EQ(chain.run("event"), "event");

  std::vector<std::string> called;
  chain.set({
      [&](std::string s) -> std::optional<std::string> {
        called.push_back("A");
        return s + "+a";
      },
      [&](std::string s) -> std::optional<std::string> {
        called.push_back("B");
        return s + "+b";
      },
  });
  EXPECT_EQ(chain.run("event"), "event+a+b");

  called.clear();
  chain.set({
      [&](std::string s) -> std::optional<std::string> {
        called.push_back("A");
        return s;
      },
      [&](std::string) -> std::optional<std::string> {
        called.push_back("B");
        return std::nullopt;
      },
      [&](std::string s) -> std::optional<std::string> {
        called.push_back("C");
        return s;
      },
  });
  EXPECT_EQ(chain.run("event"), std::nullopt);
  EXPECT_EQ(called, (std::vector<std::string>{"A", "B"}));

  chain.set({});
  EXPECT_EQ(chain.run("event"), "event");
}

TEST(BeforeSendChain, AReplacementDuringARunAffectsOnlyLaterRuns) {
  BeforeSendChain<int> chain;
  chain.set({[&](int v) -> std::optional<int> {
               // Replacing the chain from inside a block must neither deadlock nor change this run.
               chain.set({[](int w) -> std::optional<int> { return w * 100; }});
               return v + 1;
             },
             [](int v) -> std::optional<int> { return v + 10; }});
  EXPECT_EQ(chain.run(1), 12);
  EXPECT_EQ(chain.run(1), 100);
}

TEST(DiziZozBootstrapConfig, ShorterFormsFillTheRestWithDefaults) {
  auto anonymous = DiziZozBootstrapConfig::anonymous("x");
  EXPECT_EQ(anonymous.distinctId, "x");
  EXPECT_FALSE(anonymous.isIdentifiedId);
  EXPECT_FALSE(anonymous.featureFlags.has_value());

  DiziZozBootstrapConfig identified("user-1", true);
  EXPECT_EQ(identified.distinctId, "user-1");
  EXPECT_TRUE(identified.isIdentifiedId);

  auto flags = DiziZozBootstrapConfig::flags({{"beta", true}}, nlohmann::json{{"beta", {{"a", 1}}}});
  EXPECT_FALSE(flags.distinctId.has_value());
  EXPECT_EQ(flags.featureFlags, (nlohmann::json{{"beta", true}}));
  EXPECT_EQ((*flags.featureFlagPayloads)["beta"]["a"], 1);
}

}  // namespace
