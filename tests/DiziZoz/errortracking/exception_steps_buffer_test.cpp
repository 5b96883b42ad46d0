#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "DiziZoz/errortracking/DiziZozExceptionStepsBuffer.h"

namespace dizizoz {
namespace {

// A step whose compact JSON is exactly `bytes` long (the padding message grows to fit).
Properties stepOfSize(std::size_t bytes, const std::string& tag) {
  Properties step{{"$message", tag}, {"$timestamp", "t"}};
  const std::size_t base = step.dump().size();
  step["$message"] = tag + std::string(bytes - base, 'x');
  return step;
}

struct Recorder {
  std::vector<std::vector<Properties>> notifications;
  DiziZozExceptionStepsBuffering::OnStepsChanged callback() {
    return [this](const std::vector<Properties>& steps) { notifications.push_back(steps); };
  }
};

struct ValidationCase {
  const char* name;
  Properties step;
  bool accepted;
};

class StepValidation : public testing::TestWithParam<ValidationCase> {};

TEST_P(StepValidation, AcceptsOnlyStepsWithMessageAndTimestamp) {
  Recorder recorder;
  DiziZozExceptionStepsBuffer buffer(1000, recorder.callback());
  EXPECT_EQ(buffer.add(GetParam().step), GetParam().accepted);
  EXPECT_EQ(buffer.getAttachable().size(), GetParam().accepted ? 1u : 0u);
  EXPECT_EQ(recorder.notifications.size(), GetParam().accepted ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StepValidation,
    testing::Values(
        ValidationCase{"Valid", {{"$message", "opened"}, {"$timestamp", "2024-01-02T03:04:05.000Z"}}, true},
        ValidationCase{"EmptyMessage", {{"$message", ""}, {"$timestamp", "t"}}, false},
        ValidationCase{"MessageNotText", {{"$message", 3}, {"$timestamp", "t"}}, false},
        ValidationCase{"NoMessage", {{"$timestamp", "t"}}, false},
        ValidationCase{"NoTimestamp", {{"$message", "opened"}}, false},
        ValidationCase{"NumericTimestamp", {{"$message", "opened"}, {"$timestamp", 1700000000.5}}, true},
        ValidationCase{"TimestampNotTextOrNumber", {{"$message", "opened"}, {"$timestamp", true}}, false},
        ValidationCase{"Empty", Properties::object(), false},
        ValidationCase{"NotAnObject", Properties::array({1, 2}), false},
        // The sanitiser drops what has no JSON form; an unserialisable message leaves no message.
        ValidationCase{
            "UnserialisableMessage", {{"$message", value::opaque("view")}, {"$timestamp", "t"}}, false},
        ValidationCase{
            "UnserialisableMessageText", {{"$message", "bad \xff byte"}, {"$timestamp", "t"}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExceptionStepsBuffer, DropsAnUnserialisableExtraValueAndKeepsTheStep) {
  DiziZozExceptionStepsBuffer buffer(1000, nullptr);
  ASSERT_TRUE(buffer.add({{"$message", "m"},
                          {"$timestamp", "t"},
                          {"view", value::opaque("widget")},
                          {"url", value::url("https://example.com/a")}}));
  const Properties expected{{"$message", "m"}, {"$timestamp", "t"}, {"url", "https://example.com/a"}};
  EXPECT_EQ(buffer.getAttachable(), std::vector<Properties>{expected});
}

TEST(ExceptionStepsBuffer, KeepsTheNewestStepsWithinTheBudget) {
  Recorder recorder;
  DiziZozExceptionStepsBuffer buffer(100, recorder.callback());
  const auto a = stepOfSize(40, "a"), b = stepOfSize(40, "b"), c = stepOfSize(40, "c");
  ASSERT_EQ(a.dump().size(), 40u);
  EXPECT_TRUE(buffer.add(a));
  EXPECT_TRUE(buffer.add(b));
  EXPECT_TRUE(buffer.add(c));
  EXPECT_EQ(buffer.getAttachable(), (std::vector<Properties>{b, c}));
  ASSERT_EQ(recorder.notifications.size(), 3u);
  EXPECT_EQ(recorder.notifications[1], (std::vector<Properties>{a, b}));
  EXPECT_EQ(recorder.notifications[2], (std::vector<Properties>{b, c}));

  // A step of exactly the budget fits and evicts everything older; one byte more is refused.
  const auto whole = stepOfSize(100, "w");
  EXPECT_FALSE(buffer.add(stepOfSize(101, "o")));
  EXPECT_EQ(recorder.notifications.size(), 3u);
  EXPECT_TRUE(buffer.add(whole));
  EXPECT_EQ(buffer.getAttachable(), std::vector<Properties>{whole});
}

TEST(ExceptionStepsBuffer, ANegativeOrZeroBudgetRefusesEveryStep) {
  for (const int budget : {-5, 0}) {
    DiziZozExceptionStepsBuffer buffer(budget, nullptr);
    EXPECT_FALSE(buffer.add({{"$message", "m"}, {"$timestamp", "t"}})) << budget;
    EXPECT_TRUE(buffer.getAttachable().empty());
  }
}

TEST(ExceptionStepsBuffer, ClearNotifiesOnceWithNothingAndClosesForGood) {
  Recorder recorder;
  DiziZozExceptionStepsBuffer buffer(1000, recorder.callback());
  ASSERT_TRUE(buffer.add({{"$message", "m"}, {"$timestamp", "t"}}));
  buffer.clear();
  ASSERT_EQ(recorder.notifications.size(), 2u);
  EXPECT_TRUE(recorder.notifications[1].empty());
  EXPECT_TRUE(buffer.getAttachable().empty());
  EXPECT_FALSE(buffer.add({{"$message", "later"}, {"$timestamp", "t"}}));
  EXPECT_EQ(recorder.notifications.size(), 2u);
  EXPECT_TRUE(buffer.getAttachable().empty());
}

TEST(ExceptionStepsBuffer, ASubscriberMayReadTheBufferItNotifies) {
  std::vector<std::size_t> seen;
  DiziZozExceptionStepsBuffer* self = nullptr;
  DiziZozExceptionStepsBuffer buffer(
      1000, [&](const std::vector<Properties>&) { seen.push_back(self->getAttachable().size()); });
  self = &buffer;
  ASSERT_TRUE(buffer.add({{"$message", "m"}, {"$timestamp", "t"}}));
  EXPECT_EQ(seen, std::vector<std::size_t>{1});
}

// Each notification is a snapshot of the buffer after one change: every list extends the previous one
// by exactly one step (nothing is trimmed under this budget), so lists seen out of order or torn would
// show up as a gap or a different prefix.
TEST(ExceptionStepsBuffer, NotificationsFromTwoThreadsAreOrderedSnapshots) {
  constexpr int perThread = 200;
  std::vector<std::vector<Properties>> notifications;
  DiziZozExceptionStepsBuffer buffer(1 << 20, [&](const std::vector<Properties>& steps) {
    notifications.push_back(steps);  // serialised by the buffer's notification lock
  });
  auto adder = [&](const std::string& name) {
    for (int i = 0; i < perThread; ++i)
      buffer.add({{"$message", name + std::to_string(i)}, {"$timestamp", "t"}});
  };
  std::thread first(adder, "a"), second(adder, "b");
  first.join();
  second.join();

  ASSERT_EQ(notifications.size(), 2u * perThread);
  for (std::size_t n = 0; n < notifications.size(); ++n) {
    ASSERT_EQ(notifications[n].size(), n + 1);
    if (n > 0) {
      ASSERT_TRUE(
          std::equal(notifications[n - 1].begin(), notifications[n - 1].end(), notifications[n].begin()))
          << "notification " << n << " does not extend the previous one";
    }
  }
  EXPECT_EQ(notifications.back(), buffer.getAttachable());
}

}  // namespace
}  // namespace dizizoz
