#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/fake/ScriptedHttpClient.h"
#include "tests/support/WaitingExecutor.h"

namespace {

using platform::HttpErrorKind;
using platform::HttpRequest;
using platform::HttpResult;

HttpResult reply(std::string body) {
  HttpResult result;
  result.status = 200;
  result.body = std::move(body);
  return result;
}

TEST(ScriptedHttpClientTest, AnswersFromTheScriptOrWhenTheTestSays) {
  platform::fake::ScriptedHttpClient http;
  quorvelle::test::WaitingExecutor executor;
  std::vector<HttpResult> results;
  const auto collect = [&](HttpResult r) { results.push_back(std::move(r)); };

  http.enqueue(reply("queued"));
  HttpRequest first;
  first.url = "https://backend.test/translate";
  http.send(first, executor, collect);
  EXPECT_TRUE(results.empty()) << "completions go through the executor, never inline";

  HttpRequest second;
  second.url = "https://backend.test/lookup/x";
  http.send(second, executor, collect);
  HttpRequest third = second;
  third.cancel = platform::CancelToken();
  http.send(third, executor, collect);
  EXPECT_EQ(http.pendingCount(), 2u);
  third.cancel.cancel();
  EXPECT_TRUE(http.complete(reply("late")));
  EXPECT_TRUE(http.complete(reply("ignored: its token was cancelled")));
  EXPECT_FALSE(http.complete(reply("nobody waits")));

  ASSERT_TRUE(executor.runUntil([&] { return results.size() == 3; }));
  EXPECT_EQ(results[0].body, "queued");
  EXPECT_EQ(results[1].body, "late");
  ASSERT_FALSE(results[2].ok());
  EXPECT_EQ(results[2].error->kind, HttpErrorKind::cancelled);
  ASSERT_EQ(http.requests().size(), 3u);
  EXPECT_EQ(http.requests()[1].url, "https://backend.test/lookup/x");
}

TEST(ScriptedHttpClientTest, AnswersTheOldestRequestWhoseAddressHoldsThePart) {
  platform::fake::ScriptedHttpClient http;
  quorvelle::test::WaitingExecutor executor;
  std::vector<std::string> answered;
  for (const std::string path : {"/translate", "/lookup/a", "/lookup/b"}) {
    HttpRequest request;
    request.url = "https://backend.test" + path;
    http.send(request, executor, [&, path](HttpResult r) { answered.push_back(path + " " + r.body); });
  }
  EXPECT_FALSE(http.complete(reply("nobody asked"), "/refine"));
  EXPECT_TRUE(http.complete(reply("1"), "/lookup/"));
  EXPECT_TRUE(http.complete(reply("2"), "/translate"));
  EXPECT_TRUE(http.complete(reply("3")));
  ASSERT_TRUE(executor.runUntil([&] { return answered.size() == 3; }));
  EXPECT_EQ(answered, (std::vector<std::string>{"/lookup/a 1", "/translate 2", "/lookup/b 3"}));
}

}  // namespace
