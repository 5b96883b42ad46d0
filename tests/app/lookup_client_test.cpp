#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/BackendAddress.h"
#include "app/GeminiKeyManager.h"
#include "app/LookupClient.h"
#include "platform/Log.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/support/WaitingExecutor.h"
#include "tests/support/http/LoopbackHttpServer.h"

namespace {

using quorvelle::DictionaryEntry;
using quorvelle::GeminiKeyManager;
using quorvelle::LookupClient;
using quorvelle::LookupError;
using quorvelle::LookupResult;
using quorvelle::RefineResult;
using quorvelle::TranslationResult;
using quorvelle::test::LoopbackHttpServer;
using quorvelle::test::RecordedRequest;
using quorvelle::test::ScriptedReply;
using quorvelle::test::WaitingExecutor;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kDefaultPrompt = "Rewrite the draft.\nKeep its meaning.";
const std::string kUnreachable =
    "The translation service cannot be reached. Check your connection and try again. If you use the "
    "development backend, start it with tools/dev-backend --port N (in the build folder), where N is the "
    "port "
    "of QUORVELLE_BACKEND_URL.";

class LookupClientTest : public testing::Test {
 protected:
  LookupClient clientFor(const std::string& base, std::chrono::milliseconds timeout = 5s) {
    return LookupClient(http, executor, geminiKey, base, kDefaultPrompt, timeout);
  }

  template <class T, class Call>
  LookupResult<T> await(Call call) {
    std::optional<LookupResult<T>> result;
    call([&](LookupResult<T> r) { result.emplace(std::move(r)); });
    EXPECT_TRUE(executor.runUntil([&] { return result.has_value(); }));
    return result.value_or(LookupError::server("no completion"));
  }

  LookupResult<TranslationResult> translate(const std::string& text, const std::string& target,
                                            platform::CancelToken cancel = {}) {
    return await<TranslationResult>([&](auto done) { client.translate(text, target, cancel, done); });
  }
  LookupResult<RefineResult> refine(const std::string& text, const std::string& prompt) {
    return await<RefineResult>([&](auto done) { client.refine(text, prompt, "de", {}, done); });
  }
  LookupResult<DictionaryEntry> lookup(const std::string& word, const std::string& accent = "uk") {
    return await<DictionaryEntry>([&](auto done) { client.lookup(word, accent, {}, done); });
  }

  RecordedRequest lastRequest() {
    const auto all = server.requests();
    EXPECT_FALSE(all.empty());
    return all.empty() ? RecordedRequest() : all.back();
  }

  LoopbackHttpServer server;
  WaitingExecutor executor;
  platform::CurlHttpClient http;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  quorvelle::Keychain keychain{secrets, keyringWorker, executor};
  GeminiKeyManager geminiKey{keychain};
  LookupClient client = clientFor(server.baseURL());
};

TEST_F(LookupClientTest, TranslatePostsTextAndTargetAsJson) {
  server.enqueue(ScriptedReply::json(R"({"success":true,"data":{"translated":"Hallo"}})"));
  const auto result = translate("Hello \"you\"\n", "de");

  ASSERT_TRUE(result.ok()) << result.error().errorDescription();
  EXPECT_EQ(result.value().translated, "Hallo");
  const RecordedRequest request = lastRequest();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/translate");
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(Json::parse(request.body), (Json{{"text", "Hello \"you\"\n"}, {"target", "de"}}));
}

TEST_F(LookupClientTest, RefineSendsPromptOnlyWhenCustomAndTheKeyReadAtEveryCall) {
  struct Case {
    const char* name;
    std::string prompt;
    std::optional<std::string> expectedPrompt;
  };
  const Case cases[] = {
      {"blank prompt", " \n\t\u3000", std::nullopt},
      {"empty prompt", "", std::nullopt},
      {"default prompt with a trailing newline", std::string(kDefaultPrompt) + "\n", std::nullopt},
      {"custom prompt with blanks around it", "\u00a0 Be brief.\n ", "Be brief."},
      {"custom prompt with inner blanks", "Be\n brief", "Be\n brief"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.enqueue(ScriptedReply::json(R"({"success":true,"data":{"refined":"A\n---\nB"}})"));
    const auto result = refine("my draft", c.prompt);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().refined, "A\n---\nB");
    const RecordedRequest request = lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/refine");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    Json expected = {{"text", "my draft"}, {"language", "de"}};
    if (c.expectedPrompt) expected["prompt"] = *c.expectedPrompt;
    EXPECT_EQ(Json::parse(request.body), expected);
  }

  // The key is read afresh at every call; a keyring that fails is no reason to send the refine without it.
  const auto apiKeyOf = [&] {
    return Json::parse(lastRequest().body).value("apiKey", std::string("<none>"));
  };
  server.setHandler([](const RecordedRequest&) {
    return ScriptedReply::json(R"({"success":true,"data":{"refined":"x"}})");
  });
  ASSERT_EQ(secrets.write(GeminiKeyManager::kService, GeminiKeyManager::kAccount, " AIza key "),
            platform::SecretStatus::ok);
  ASSERT_TRUE(refine("d", "").ok());
  EXPECT_EQ(apiKeyOf(), " AIza key ");
  secrets.setFailing(true);
  const auto sent = server.requests().size();
  const auto failed = refine("d", "");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().errorDescription(), GeminiKeyManager::kKeyringDidNotAnswer);
  EXPECT_EQ(server.requests().size(), sent);
  secrets.setUnavailable(true);
  const auto unavailable = refine("d", "");
  ASSERT_FALSE(unavailable.ok());
  EXPECT_EQ(unavailable.error().errorDescription(), GeminiKeyManager::kKeyringUnavailable);
  EXPECT_EQ(server.requests().size(), sent) << "never sent without the key it could not read";
  secrets.setFailing(false);
  secrets.remove(GeminiKeyManager::kService, GeminiKeyManager::kAccount);
  ASSERT_TRUE(refine("d", "").ok());
  EXPECT_EQ(apiKeyOf(), "<none>");
}

TEST_F(LookupClientTest, LookupGetsTheEncodedWordWithTheAccent) {
  struct Case {
    std::string word;
    std::string path;  // as it must arrive
  };
  const Case cases[] = {
      {"hello", "/lookup/hello"},
      {"well-being", "/lookup/well-being"},
      {"don't", "/lookup/don't"},
      {"don\u2019t", "/lookup/don%E2%80%99t"},
      {"na\u00efve", "/lookup/na%C3%AFve"},
      {"a b+c&d=e#f%g?h", "/lookup/a%20b%2Bc%26d%3De%23f%25g%3Fh"},
      {"..", "/lookup/.."},
  };
  server.setHandler(
      [](const RecordedRequest&) { return ScriptedReply::json(R"({"success":true,"data":{}})"); });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    ASSERT_TRUE(lookup(c.word, "us").ok());
    const RecordedRequest request = lastRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, c.path);
    EXPECT_EQ(quorvelle::test::percentDecode(request.path), "/lookup/" + c.word);
    EXPECT_EQ(request.query, "accent=us");
    EXPECT_EQ(request.body, "");
    EXPECT_EQ(request.header("Content-Type"), std::nullopt);
  }
}

TEST_F(LookupClientTest, AudioProxyURLEncodesTheSourceAndSendsNothing) {
  EXPECT_EQ(client.audioProxyURL("https://x.test/a b+c.mp3?v=1&w=%41#t"),
            server.baseURL() + "/audio?src=https%3A%2F%2Fx.test%2Fa%20b%2Bc.mp3%3Fv%3D1%26w%3D%2541%23t");
  EXPECT_EQ(clientFor("https://backend.test/").audioProxyURL("\u00e9"),
            "https://backend.test/audio?src=%C3%A9");
  EXPECT_EQ(clientFor("not a url").audioProxyURL("https://x.test/a.mp3"), std::nullopt);
  EXPECT_TRUE(server.requests().empty());

  // What the proxy receives decodes back to the address, "+" included.
  const auto url = client.audioProxyURL("https://x.test/a+b.mp3?x=1&y=2");
  ASSERT_TRUE(url);
  server.enqueue(ScriptedReply());
  platform::HttpRequest request;
  request.url = *url;
  std::optional<platform::HttpResult> played;
  http.send(request, executor, [&](platform::HttpResult r) { played = std::move(r); });
  ASSERT_TRUE(executor.runUntil([&] { return played.has_value(); }));
  EXPECT_EQ(lastRequest().path, "/audio");
  EXPECT_EQ(lastRequest().queryValue("src"), "https://x.test/a+b.mp3?x=1&y=2");
}

TEST_F(LookupClientTest, RepliesAreJudgedByTheirEnvelope) {
  const std::string unexpected200 = "Server returned an unexpected response (HTTP 200).";
  struct Case {
    int status;
    std::string body;
    std::optional<std::string> translated;  // set: success with this text
    std::string error;                      // otherwise this message
  };
  const Case cases[] = {
      {500, R"({"success":true,"data":{"translated":"T"}})", "T", ""},
      {200, R"({"success":true,"data":{"translated":"T","extra":1},"more":[1]})", "T", ""},
      {200, R"({"success":false,"error":"quota exceeded"})", std::nullopt, "quota exceeded"},
      {200, R"({"success":false,"error":""})", std::nullopt, ""},
      {200, R"({"success":false,"error":null})", std::nullopt, "Unknown backend error"},
      {200, R"({"success":true})", std::nullopt, "Unknown backend error"},
      {200, R"({"success":true,"data":null})", std::nullopt, "Unknown backend error"},
      {200, R"({"success":false})", std::nullopt, "Unknown backend error"},
      {200, R"({"success":false,"data":{"translated":"T"}})", std::nullopt, "Unknown backend error"},
      {200, R"({"success":true,"data":{}})", std::nullopt, unexpected200},
      {200, R"({"success":true,"data":{"translated":7}})", std::nullopt, unexpected200},
      {200, R"({"success":true,"data":"T"})", std::nullopt, unexpected200},
      {200, R"({"success":"true","data":{"translated":"T"}})", std::nullopt, unexpected200},
      {200, R"({"data":{"translated":"T"}})", std::nullopt, unexpected200},
      {200, R"({"success":true,"data":{"translated":"T"},"error":404})", std::nullopt, unexpected200},
      {200, R"([{"success":true}])", std::nullopt, unexpected200},
      {200, R"({"success":true,"data":{"translated":"T"})", std::nullopt, unexpected200},
      {200, "{\"success\":false,\"error\":\"\xff\"}", std::nullopt, unexpected200},
      {200, "", std::nullopt, unexpected200},
      {502, "<html><body>Bad Gateway</body></html>", std::nullopt,
       "Server returned an unexpected response (HTTP 502)."},
      {404, "not found", std::nullopt, "Server returned an unexpected response (HTTP 404)."},
      {200, std::string(9u << 20, ' '), std::nullopt, unexpected200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 80));
    server.enqueue(ScriptedReply::json(c.body, c.status));
    const auto result = translate("t", "de");
    if (c.translated) {
      ASSERT_TRUE(result.ok()) << result.error().errorDescription();
      EXPECT_EQ(result.value().translated, *c.translated);
    } else {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error(), LookupError::server(c.error));
      EXPECT_EQ(result.error().errorDescription(), c.error);
    }
  }
}

// The text to translate goes only where the backend asked for it with the same request (307, 308): a
// POST is never re-sent as a body-less GET, whose answer would pass for the translation.
TEST_F(LookupClientTest, ARedirectedPostIsFollowedWithItsBodyOrEndsInAnError) {
  server.setHandler([](const RecordedRequest& r) {
    if (r.path == "/landing" && r.method == "POST" && !r.body.empty())
      return ScriptedReply::json(R"({"success":true,"data":{"translated":"Hallo"}})");
    return ScriptedReply::json(R"({"success":true,"data":{"translated":"not the text"}})");
  });
  for (const int status : {301, 302, 303, 307, 308}) {
    SCOPED_TRACE(status);
    const std::size_t before = server.requests().size();
    ScriptedReply redirect;
    redirect.status = status;
    redirect.headers = {{"Location", "/landing"}};
    server.enqueue(redirect);
    const auto result = translate("Hello", "de");
    const auto requests = server.requests();
    if (status == 307 || status == 308) {
      ASSERT_TRUE(result.ok()) << result.error().errorDescription();
      EXPECT_EQ(result.value().translated, "Hallo");
      ASSERT_EQ(requests.size(), before + 2);
      EXPECT_EQ(requests.back().body, requests[before].body);
    } else {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error().errorDescription(),
                "Server returned an unexpected response (HTTP " + std::to_string(status) + ").");
      EXPECT_EQ(requests.size(), before + 1);
    }
    for (std::size_t i = before; i < requests.size(); ++i) EXPECT_EQ(requests[i].method, "POST");
  }
}

TEST_F(LookupClientTest, DictionaryEntriesHaveOptionalStringMembers) {
  struct Case {
    std::string data;
    std::optional<DictionaryEntry> entry;
  };
  const Case cases[] = {
      {"{}", DictionaryEntry{}},
      {R"({"definition":"D","ipa":null,"other":3})",
       DictionaryEntry{std::nullopt, "D", std::nullopt, std::nullopt}},
      {R"({"ipa":"/a/","definition":"D","audioUrl":"https://a.test/a.mp3","pageUrl":"https://p.test"})",
       DictionaryEntry{"/a/", "D", "https://a.test/a.mp3", "https://p.test"}},
      {R"({"ipa":1})", std::nullopt},
      {R"({"pageUrl":["x"]})", std::nullopt},
      {R"("word")", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    server.enqueue(ScriptedReply::json(R"({"success":true,"data":)" + c.data + "}"));
    const auto result = lookup("word");
    if (c.entry) {
      ASSERT_TRUE(result.ok()) << result.error().errorDescription();
      EXPECT_EQ(result.value(), *c.entry);
    } else {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error().errorDescription(), "Server returned an unexpected response (HTTP 200).");
    }
  }
  server.enqueue(ScriptedReply::json(R"({"success":true,"data":{}})"));
  const auto refined = refine("d", "");
  ASSERT_FALSE(refined.ok());
  EXPECT_EQ(refined.error().errorDescription(), "Server returned an unexpected response (HTTP 200).");
}

TEST_F(LookupClientTest, TransferFailuresAreBackendUnreachable) {
  ScriptedReply drop;
  drop.action = ScriptedReply::Action::drop;
  ScriptedReply cut = ScriptedReply::json(R"({"success":true,"data":{"translated":"Hallo"}})");
  cut.action = ScriptedReply::Action::truncate;
  ScriptedReply hang;
  hang.action = ScriptedReply::Action::hang;
  const std::string closedPort = LoopbackHttpServer::closedBaseURL();

  struct Case {
    const char* name;
    std::optional<ScriptedReply> reply;
    std::string base;
    std::chrono::milliseconds timeout;
  };
  const Case cases[] = {
      {"dropped connection", drop, server.baseURL(), 5s},
      {"truncated body", cut, server.baseURL(), 5s},
      {"timeout", hang, server.baseURL(), 200ms},
      {"nobody listening", std::nullopt, closedPort, 5s},
      {"unusable base address", std::nullopt, "not a url", 5s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.reply) server.enqueue(*c.reply);
    const LookupClient other = clientFor(c.base, c.timeout);
    const auto result = await<TranslationResult>(
        [&](auto done) { other.translate("Hello", "de", platform::CancelToken(), done); });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), LookupError::backendUnreachable());
    EXPECT_EQ(result.error().errorDescription(), kUnreachable);
  }

  const LookupClient bad = clientFor("not a url");
  const auto result = await<DictionaryEntry>([&](auto done) { bad.lookup("word", "uk", {}, done); });
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), LookupError::server("Bad lookup URL"));
}

TEST_F(LookupClientTest, EachFailureLeavesOneLogLineWithoutTheUsersTextOrKey) {
  std::vector<std::string> lines;
  const auto previous =
      platform::setLogSink([&](platform::LogLevel, std::string_view line) { lines.emplace_back(line); });
  secrets.write(GeminiKeyManager::kService, GeminiKeyManager::kAccount, "AIza-secret-key");
  ScriptedReply drop;
  drop.action = ScriptedReply::Action::drop;
  ScriptedReply html;
  html.status = 502;
  html.body = "<html>Bad Gateway</html>";

  server.enqueue(drop);
  EXPECT_FALSE(translate("private sentence", "de").ok());
  server.enqueue(html);
  EXPECT_FALSE(refine("private draft", "").ok());
  server.enqueue(ScriptedReply::json(R"({"success":false,"error":"no entry for privateword"})", 404));
  EXPECT_FALSE(lookup("privateword").ok());
  server.enqueue(ScriptedReply::json(R"({"success":true,"data":{"translated":"Hallo"}})"));
  EXPECT_TRUE(translate("private sentence", "de").ok());
  platform::setLogSink(previous);

  EXPECT_EQ(lines, (std::vector<std::string>{
                       "LookupClient: translate failed: connection lost (HTTP 0)",
                       "LookupClient: refine failed: unexpected response (HTTP 502)",
                       "LookupClient: lookup failed: refused by the backend (HTTP 404)",
                   }));
}

TEST_F(LookupClientTest, CancellingTheCallingTaskEndsTheCallAsUnreachable) {
  ScriptedReply hang;
  hang.action = ScriptedReply::Action::hang;
  server.enqueue(hang);
  const platform::CancelToken task;
  std::optional<LookupResult<DictionaryEntry>> result;
  client.lookup("word", "uk", task, [&](LookupResult<DictionaryEntry> r) { result.emplace(std::move(r)); });
  ASSERT_TRUE(server.waitForRequests(1));
  task.cancel();
  ASSERT_TRUE(executor.runUntil([&] { return result.has_value(); }, 5s));
  EXPECT_EQ(result->error(), LookupError::backendUnreachable());

  // Cancelled before it starts: nothing reaches the backend.
  const platform::CancelToken cancelled;
  cancelled.cancel();
  const auto early = translate("Hello", "de", cancelled);
  EXPECT_EQ(early.error(), LookupError::backendUnreachable());
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(LookupClientTest, OverlappingCallsEachGetTheirOwnReply) {
  server.setHandler([](const RecordedRequest& r) {
    ScriptedReply reply = r.path == "/translate"
                              ? ScriptedReply::json(R"({"success":true,"data":{"translated":"Hallo"}})")
                              : ScriptedReply::json(R"({"success":true,"data":{"definition":"greeting"}})");
    reply.delay = r.path == "/translate" ? 50ms : 0ms;
    return reply;
  });
  std::optional<LookupResult<TranslationResult>> translation;
  std::optional<LookupResult<DictionaryEntry>> entry;
  client.translate("hello", "de", {}, [&](auto r) { translation.emplace(std::move(r)); });
  client.lookup("hello", "uk", {}, [&](auto r) { entry.emplace(std::move(r)); });
  ASSERT_TRUE(executor.runUntil([&] { return translation && entry; }));
  EXPECT_EQ(translation->value().translated, "Hallo");
  EXPECT_EQ(entry->value().definition, "greeting");
}

TEST(LookupClientAddress, CompiledBaseIsAnHttpsAddress) {
  EXPECT_TRUE(quorvelle::compiledBackendURL().starts_with("https://"));
}

// The development backend, run as the real executable, answers the client for all four endpoints.
TEST(DevBackendTest, ServesTheClientsFourEndpoints) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    const std::string program = std::string(QUORVELLE_BINARY_DIR) + "/tools/dev-backend";
    execl(program.c_str(), program.c_str(), "--port", "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  const auto at = line.find("http://");
  ASSERT_NE(at, std::string::npos) << "dev-backend said: " << line;
  const std::string base = line.substr(at);

  WaitingExecutor executor;
  platform::CurlHttpClient http;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  const quorvelle::Keychain keychain(secrets, keyringWorker, executor);
  const GeminiKeyManager geminiKey(keychain);
  const LookupClient client(http, executor, geminiKey, base, kDefaultPrompt);
  std::optional<LookupResult<TranslationResult>> translation;
  std::optional<LookupResult<RefineResult>> refined;
  std::optional<LookupResult<DictionaryEntry>> entry;
  client.translate("hello", "ru", {}, [&](auto r) { translation.emplace(std::move(r)); });
  client.refine("i think so", "", "en", {}, [&](auto r) { refined.emplace(std::move(r)); });
  client.lookup("tomato", "us", {}, [&](auto r) { entry.emplace(std::move(r)); });
  ASSERT_TRUE(executor.runUntil([&] { return translation && refined && entry; }));

  ASSERT_TRUE(translation->ok());
  EXPECT_EQ(translation->value().translated, "привет");
  ASSERT_TRUE(refined->ok());
  const std::string& variants = refined->value().refined;
  EXPECT_EQ(std::count(variants.begin(), variants.end(), '\n'), 4);
  EXPECT_NE(variants.find("\n---\n"), std::string::npos);
  ASSERT_TRUE(entry->ok());
  EXPECT_EQ(entry->value().ipa, "/təˈmeɪtoʊ/");
  ASSERT_TRUE(entry->value().audioUrl);

  const auto proxy = client.audioProxyURL(*entry->value().audioUrl);
  ASSERT_TRUE(proxy);
  platform::HttpRequest request;
  request.url = *proxy;
  std::optional<platform::HttpResult> audio;
  http.send(request, executor, [&](platform::HttpResult r) { audio = std::move(r); });
  ASSERT_TRUE(executor.runUntil([&] { return audio.has_value(); }));
  EXPECT_EQ(audio->status, 200);
  EXPECT_EQ(audio->headers.get("Content-Type"), "audio/wav");
  EXPECT_TRUE(audio->body.starts_with("RIFF"));

  std::optional<LookupResult<DictionaryEntry>> unknown;
  client.lookup("zzz", "uk", {}, [&](auto r) { unknown.emplace(std::move(r)); });
  ASSERT_TRUE(executor.runUntil([&] { return unknown.has_value(); }));
  EXPECT_EQ(unknown->error(), LookupError::server("No dictionary entry for \"zzz\""));

  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
