#include <gtest/gtest.h>

#include <pthread.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/CurlHttpClient.h"
#include "tests/support/ThreadNames.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/http/LoopbackHttpServer.h"

namespace {

using platform::HttpErrorKind;
using platform::HttpRequest;
using platform::HttpResult;
using quorvelle::test::LoopbackHttpServer;
using quorvelle::test::ScriptedReply;
using quorvelle::test::WaitingExecutor;
using namespace std::chrono_literals;
using namespace std::string_literals;

class HttpClientTest : public testing::Test {
 protected:
  HttpResult run(HttpRequest request) {
    std::optional<HttpResult> result;
    client.send(std::move(request), executor, [&](HttpResult r) { result = std::move(r); });
    EXPECT_TRUE(executor.runUntil([&] { return result.has_value(); }));
    return result.value_or(HttpResult());
  }

  static HttpRequest get(const std::string& url, std::chrono::milliseconds timeout = 5s) {
    HttpRequest request;
    request.url = url;
    request.timeout = timeout;
    return request;
  }

  LoopbackHttpServer server;
  WaitingExecutor executor;
  platform::CurlHttpClient client;
};

TEST_F(HttpClientTest, SendsTheRequestAndKeepsStatusHeadersAndBodyOfAnyStatus) {
  ScriptedReply reply = ScriptedReply::json(R"({"oops":1})", 500);
  reply.headers.emplace_back("Retry-After", "120");
  server.enqueue(reply);

  HttpRequest request = get(server.baseURL() + "/i/v1/logs?token=a%2Bb");
  request.method = "POST";
  request.headers.set("Content-Type", "application/json; charset=utf-8");
  request.headers.set("X-Custom", "1");
  request.body = std::string("{\"a\":\"\0b\"}", 10);  // bodies are bytes, NUL included
  const HttpResult result = run(request);

  ASSERT_TRUE(result.ok()) << result.error->message;
  EXPECT_EQ(result.status, 500);
  EXPECT_EQ(result.headers.get("retry-after"), "120");
  EXPECT_EQ(result.body, R"({"oops":1})");
  ASSERT_TRUE(server.waitForRequests(1));
  const auto seen = server.requests().at(0);
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.path, "/i/v1/logs");
  EXPECT_EQ(seen.query, "token=a%2Bb");
  EXPECT_EQ(seen.header("content-type"), "application/json; charset=utf-8");
  EXPECT_EQ(seen.header("X-Custom"), "1");
  EXPECT_EQ(seen.header("Expect"), std::nullopt);
  EXPECT_EQ(seen.body, request.body);
}

// The transport's thread starts with the first request. Made from an analytics queue's thread, it must not
// pass for one of that queue's: the tests, and people reading `ps -L`, tell the analytics threads by name.
TEST_F(HttpClientTest, TheTransportsThreadHasANameOfItsOwn) {
  server.enqueue(ScriptedReply::json("{}"));
  std::optional<HttpResult> result;
  std::thread caller([&] {
    pthread_setname_np(pthread_self(), "com.dizizoz.cal");
    client.send(get(server.baseURL() + "/"), executor, [&](HttpResult r) { result = std::move(r); });
  });
  caller.join();
  ASSERT_TRUE(executor.runUntil([&] { return result.has_value(); }));
  EXPECT_EQ(quorvelle::test::threadNames("com.dizizoz"), std::vector<std::string>{});
  EXPECT_EQ(quorvelle::test::threadNames("quorvelle-http"), std::vector<std::string>{"quorvelle-http"});
}

TEST_F(HttpClientTest, HeadersWithLineBreaksAreRefusedBeforeAnythingIsSent) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"X-Id", "1\r\nX-Injected: yes"},
      {"X-Id", "1\nX-Injected: yes"},
      {"X-Injected: yes\r\nX-Id", "1"},
      {"X-Id", std::string("1\0X", 3)},
  };
  for (const auto& [name, value] : cases) {
    SCOPED_TRACE(name + "=" + value);
    HttpRequest request = get(server.baseURL() + "/x");
    request.headers.set(name, value);
    const HttpResult result = run(request);
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(result.error->kind, HttpErrorKind::other);
  }
  server.enqueue(ScriptedReply::json("{}", 200));
  EXPECT_TRUE(run(get(server.baseURL() + "/after")).ok());
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests().at(0).path, "/after");
}

TEST_F(HttpClientTest, MethodsOtherThanGetAndPostCarryTheirBody) {
  HttpRequest request = get(server.baseURL() + "/api/push_subscriptions/");
  request.method = "DELETE";
  request.body = "{}";
  server.enqueue(ScriptedReply::json("{}"));
  ASSERT_TRUE(run(request).ok());
  const auto seen = server.requests().at(0);
  EXPECT_EQ(seen.method, "DELETE");
  EXPECT_EQ(seen.body, "{}");
}

TEST_F(HttpClientTest, DecodesGzipRepliesAndSendsCompressedBodiesUntouched) {
  static const char kGzipHello[] =
      "\x1f\x8b\x08\x00\x69\xd3\x19\x6b\x02\xff\xcb\x48\xcd\xc9\xc9\xd7\x51\x48\xaf\xca\x2c\x00\x00\x4a\x9b"
      "\xb1\x5c"
      "\x0b\x00\x00\x00";
  const std::string gzipped(kGzipHello, sizeof kGzipHello - 1);
  ScriptedReply reply;
  reply.headers = {{"Content-Encoding", "gzip"}};
  reply.body = gzipped;
  server.enqueue(reply);

  HttpRequest request = get(server.baseURL() + "/batch");
  request.method = "POST";
  request.headers.set("Content-Encoding", "gzip");
  request.headers.set("Accept-Encoding", "gzip");
  request.body = gzipped;
  const HttpResult result = run(request);

  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.body, "hello, gzip");
  const auto seen = server.requests().at(0);
  EXPECT_EQ(seen.body, gzipped);
  EXPECT_EQ(seen.header("Accept-Encoding"), "gzip");
  EXPECT_EQ(seen.header("Content-Encoding"), "gzip");
}

TEST_F(HttpClientTest, TransferFailuresHaveDistinctKinds) {
  ScriptedReply drop;
  drop.action = ScriptedReply::Action::drop;
  ScriptedReply truncate = ScriptedReply::json(R"({"success":true,"data":{"translated":"x"}})");
  truncate.action = ScriptedReply::Action::truncate;
  ScriptedReply hang;
  hang.action = ScriptedReply::Action::hang;
  ScriptedReply huge;
  huge.body.assign(4096, 'x');
  const auto raw = [](std::string bytes) {
    ScriptedReply reply;
    reply.action = ScriptedReply::Action::raw;
    reply.body = std::move(bytes);
    return reply;
  };
  const auto redirect = [](const std::string& location) {
    ScriptedReply reply;
    reply.status = 302;
    reply.headers = {{"Location", location}};
    return reply;
  };
  const ScriptedReply loop = redirect("/loop");

  const std::string closedPort = LoopbackHttpServer::closedBaseURL();

  struct Case {
    const char* name;
    std::vector<ScriptedReply> replies;
    HttpRequest request;
    HttpErrorKind kind;
  };
  HttpRequest small = get(server.baseURL() + "/huge");
  small.maxResponseBytes = 1000;
  HttpRequest loopRequest = get(server.baseURL() + "/loop");
  loopRequest.maxRedirects = 3;
  HttpRequest gzipRequest = get(server.baseURL() + "/gzip");
  gzipRequest.headers.set("Accept-Encoding", "gzip");
  const std::string url = server.baseURL() + "/garbled";
  const Case cases[] = {
      {"dropped connection", {drop}, get(server.baseURL() + "/drop"), HttpErrorKind::connectionLost},
      {"truncated body", {truncate}, get(server.baseURL() + "/cut"), HttpErrorKind::connectionLost},
      {"no answer in time", {hang}, get(server.baseURL() + "/hang", 200ms), HttpErrorKind::timedOut},
      {"body over the limit", {huge}, small, HttpErrorKind::responseTooLarge},
      {"nobody listening", {}, get(closedPort + "/"), HttpErrorKind::cannotConnect},
      {"unknown host", {}, get("http://no-such-host.invalid/"), HttpErrorKind::hostNotFound},
      {"TLS to a plain server",
       {},
       get("https://127.0.0.1:" + std::to_string(server.port()) + "/"),
       HttpErrorKind::tls},
      {"not http", {}, get("ftp://127.0.0.1/file"), HttpErrorKind::badURL},
      {"no scheme", {}, get("127.0.0.1/file"), HttpErrorKind::badURL},
      {"redirect to ftp", {redirect("ftp://127.0.0.1/file")}, get(url), HttpErrorKind::badURL},
      {"redirect loop", {loop, loop, loop, loop}, loopRequest, HttpErrorKind::tooManyRedirects},
      {"unknown HTTP version",
       {raw("HTTP/9.9 200 OK\r\nContent-Length: 0\r\n\r\n")},
       get(url),
       HttpErrorKind::badResponse},
      {"no status line", {raw("garbage\r\n\r\n")}, get(url), HttpErrorKind::badResponse},
      {"status that is not a number",
       {raw("HTTP/1.1 abc\r\nContent-Length: 0\r\n\r\n")},
       get(url),
       HttpErrorKind::badResponse},
      {"status out of range",
       {raw("HTTP/1.1 1000 X\r\nContent-Length: 0\r\n\r\n")},
       get(url),
       HttpErrorKind::badResponse},
      {"header without a colon",
       {raw("HTTP/1.1 200 OK\r\nNo colon\r\nContent-Length: 0\r\n\r\n")},
       get(url),
       HttpErrorKind::badResponse},
      {"NUL in a header",
       {raw("HTTP/1.1 200 OK\r\nX: a\0b\r\nContent-Length: 0\r\n\r\n"s)},
       get(url),
       HttpErrorKind::badResponse},
      {"negative length",
       {raw("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n")},
       get(url),
       HttpErrorKind::badResponse},
      {"broken chunked framing",
       {raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n")},
       get(url),
       HttpErrorKind::badResponse},
      {"gzip body that is not gzip",
       {raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 5\r\n\r\nabcde")},
       gzipRequest,
       HttpErrorKind::badResponse},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& reply : c.replies) server.enqueue(reply);
    const HttpResult result = run(c.request);
    if (result.ok()) {
      ADD_FAILURE() << "succeeded with status " << result.status;
      continue;
    }
    EXPECT_EQ(result.error->kind, c.kind)
        << platform::toString(result.error->kind) << ": " << result.error->message;
    EXPECT_FALSE(result.error->message.empty());
  }
  EXPECT_STREQ(platform::toString(HttpErrorKind::tooManyRedirects), "too many redirects");
  EXPECT_STREQ(platform::toString(HttpErrorKind::badResponse), "bad response");

  // The loop's last hop is kept, and the limit itself is not an error.
  server.enqueue(loop);
  server.enqueue(loop);
  server.enqueue(loop);
  server.enqueue(loop);
  const size_t before = server.requests().size();
  const HttpResult looped = run(loopRequest);
  EXPECT_EQ(looped.status, 302);
  EXPECT_EQ(server.requests().size(), before + 4);
  for (int i = 0; i < 3; ++i) server.enqueue(loop);
  server.enqueue(ScriptedReply::json("{}"));
  const HttpResult arrived = run(loopRequest);
  ASSERT_TRUE(arrived.ok()) << arrived.error->message;
  EXPECT_EQ(arrived.status, 200);
}

// libcurl sends a request again by itself when a connection it took from its pool closes before any
// reply. The server may have acted on it by then: a POST (a billed call, perhaps) is never sent twice;
// it fails instead. GETs may be sent again. Keep-alive stays for the normal case.
TEST_F(HttpClientTest, APostIsNeverSentTwiceWhenAReusedConnectionHangsUp) {
  HttpRequest post = get(server.baseURL() + "/refine");
  post.method = "POST";
  post.body = R"({"text":"x"})";
  for (int i = 0; i < 2; ++i) server.enqueue(ScriptedReply::json("{}"));
  ASSERT_TRUE(run(post).ok());
  ASSERT_TRUE(run(post).ok());
  ASSERT_TRUE(server.waitForRequests(2));
  EXPECT_EQ(server.requests().at(1).connection, server.requests().at(0).connection) << "keep-alive";

  ScriptedReply hangUp;
  hangUp.action = ScriptedReply::Action::drop;
  for (int i = 0; i < 3; ++i) server.enqueue(hangUp);
  const HttpResult result = run(post);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error->kind, HttpErrorKind::connectionLost) << result.error->message;
  EXPECT_FALSE(server.waitForRequests(4, 300ms))
      << "the POST was sent " << server.requests().size() - 2 << " times";
}

TEST_F(HttpClientTest, CancellingEndsARunningOrUnstartedTransfer) {
  ScriptedReply hang;
  hang.action = ScriptedReply::Action::hang;
  server.enqueue(hang);

  HttpRequest running = get(server.baseURL() + "/hang", 60s);
  const platform::CancelToken token = running.cancel;
  std::optional<HttpResult> result;
  client.send(running, executor, [&](HttpResult r) { result = std::move(r); });
  ASSERT_TRUE(server.waitForRequests(1));
  token.cancel();
  ASSERT_TRUE(executor.runUntil([&] { return result.has_value(); }, 5s));
  ASSERT_FALSE(result->ok());
  EXPECT_EQ(result->error->kind, HttpErrorKind::cancelled);

  HttpRequest early = get(server.baseURL() + "/never");
  early.cancel.cancel();
  const HttpResult second = run(early);
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.error->kind, HttpErrorKind::cancelled);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(HttpClientTest, DestroyingTheClientDeliversCancelledForTransfersInFlight) {
  ScriptedReply hang;
  hang.action = ScriptedReply::Action::hang;
  server.enqueue(hang);
  std::optional<HttpResult> result;
  {
    platform::CurlHttpClient shortLived;
    shortLived.send(get(server.baseURL() + "/hang", 60s), executor,
                    [&](HttpResult r) { result = std::move(r); });
    ASSERT_TRUE(server.waitForRequests(1));
  }
  ASSERT_TRUE(executor.runUntil([&] { return result.has_value(); }));
  ASSERT_FALSE(result->ok());
  EXPECT_EQ(result->error->kind, HttpErrorKind::cancelled);
}

// A redirect never turns a request into another one: 307 and 308 take the same method and body to the new
// place, 301, 302 and 303 are followed by GET and HEAD only, and any other request gets them back as its
// answer. Headers meant for one host never follow a redirect to another.
TEST_F(HttpClientTest, RedirectsKeepTheMethodAndBodyOrComeBackAsTheAnswer) {
  const std::string sameHost = server.baseURL();
  const std::string otherHost = "http://localhost:" + std::to_string(server.port());
  server.setHandler([&](const quorvelle::test::RecordedRequest& r) {
    ScriptedReply reply;
    const auto redirect = [&](int status, std::string location) {
      reply.status = status;
      reply.headers = {{"Location", std::move(location)}};
    };
    if (r.path == "/moved") {
      redirect(301, "/landing");
    } else if (r.path == "/found") {
      redirect(302, "/landing");
    } else if (r.path == "/see-other") {
      redirect(303, "/landing");
    } else if (r.path == "/temporary") {
      redirect(307, otherHost + "/landing");
    } else if (r.path == "/same-host") {
      redirect(308, sameHost + "/landing");
    } else {
      reply.body = "landed";
    }
    return reply;
  });

  struct Case {
    const char* method;
    const char* path;
    int status;       // of the answer the caller gets
    bool followed;    // the landing page was asked for, with the same method and body
    bool customKept;  // on the landing request
  };
  const Case cases[] = {
      {"POST", "/moved", 301, false, false},     {"POST", "/found", 302, false, false},
      {"POST", "/see-other", 303, false, false}, {"DELETE", "/see-other", 303, false, false},
      {"POST", "/temporary", 200, true, false},  {"POST", "/same-host", 200, true, true},
      {"GET", "/see-other", 200, true, true},    {"GET", "/moved", 200, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path);
    const size_t before = server.requests().size();
    HttpRequest request = get(sameHost + c.path);
    request.method = c.method;
    if (request.method != "GET") request.body = "payload";
    request.headers.set("X-Secret", "s");
    request.stripOnCrossHostRedirect = {"x-secret"};
    const HttpResult result = run(request);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.status, c.status);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), before + (c.followed ? 2 : 1));
    if (!c.followed) {
      EXPECT_EQ(result.headers.get("Location"), "/landing");
      continue;
    }
    EXPECT_EQ(result.body, "landed");
    EXPECT_TRUE(result.finalURL.ends_with("/landing"));
    const auto& landing = requests.back();
    EXPECT_EQ(landing.path, "/landing");
    EXPECT_EQ(landing.method, c.method);
    EXPECT_EQ(landing.body, request.body);
    EXPECT_EQ(landing.header("X-Secret").has_value(), c.customKept);
  }

  HttpRequest noFollow = get(sameHost + "/see-other");
  noFollow.maxRedirects = 0;
  const HttpResult result = run(noFollow);
  EXPECT_EQ(result.status, 303);
  EXPECT_EQ(result.headers.get("Location"), "/landing");
}

// A scheme change counts as leaving the host: headers meant for an HTTPS host must not go on over plain
// HTTP (nor the other way). Ports do not count.
TEST(RedirectLeavesHost, ComparesSchemeAndHostButNotPort) {
  struct Case {
    const char* from;
    const char* to;
    bool leaves;
  };
  const Case cases[] = {
      {"http://127.0.0.1:1/a", "http://127.0.0.1:2/b", false},
      {"https://us.i.example.com/batch", "https://us.i.example.com/v2/batch?x=1", false},
      {"HTTPS://us.i.example.com/", "https://us.i.example.com/x", false},
      {"https://us.i.example.com/batch", "http://us.i.example.com/batch", true},
      {"http://us.i.example.com/batch", "https://us.i.example.com/batch", true},
      {"https://us.i.example.com/", "https://eu.i.example.com/", true},
      {"https://us.i.example.com/", "https://us.i.example.com.evil.test/", true},
      {"not a url", "not a url", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
    EXPECT_EQ(platform::redirectLeavesHost(c.from, c.to), c.leaves);
  }
}

TEST_F(HttpClientTest, OverlappingRequestsAllCompleteOnTheChosenExecutor) {
  server.setHandler([](const quorvelle::test::RecordedRequest& r) {
    ScriptedReply reply;
    reply.body = r.query;
    reply.delay = 5ms;
    return reply;
  });
  constexpr int kCount = 24;
  std::vector<std::optional<HttpResult>> results(kCount);
  int done = 0;
  const auto testThread = std::this_thread::get_id();
  for (int i = 0; i < kCount; ++i) {
    client.send(get(server.baseURL() + "/n?" + std::to_string(i)), executor, [&, i](HttpResult r) {
      EXPECT_EQ(std::this_thread::get_id(), testThread);
      results[i] = std::move(r);
      ++done;
    });
  }
  ASSERT_TRUE(executor.runUntil([&] { return done == kCount; }));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(results[i]->body, std::to_string(i));
}

}  // namespace
