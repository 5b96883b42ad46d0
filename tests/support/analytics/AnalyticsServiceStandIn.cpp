#include "tests/support/analytics/AnalyticsServiceStandIn.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>

namespace quorvelle::test {
namespace {

using Json = nlohmann::json;

constexpr std::string_view contentType = "application/json; charset=utf-8";

// Inflates one whole gzip stream; nothing when the bytes are not exactly that.
std::optional<std::string> gunzip(std::string_view compressed) {
  z_stream stream{};
  if (inflateInit2(&stream, MAX_WBITS + 16) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::string out;
  char chunk[16384];
  int code = Z_OK;
  while (code == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    code = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
    if (code == Z_BUF_ERROR && stream.avail_in == 0) break;  // cut short
  }
  const bool whole = code == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  return whole ? std::optional(std::move(out)) : std::nullopt;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool isApiDate(const Json& value) {
  static const std::regex form(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z)");
  return value.is_string() && std::regex_match(value.get<std::string>(), form);
}

bool isUuid(const Json& value) {
  static const std::regex form(R"([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})");
  return value.is_string() && std::regex_match(value.get<std::string>(), form);
}

std::string hostNameOf(const RecordedRequest& request) {
  std::string host = request.header("Host").value_or("");
  if (host.starts_with('[')) return host.substr(1, host.find(']') - 1);
  return host.substr(0, host.find(':'));
}

AnalyticsEndpoint classify(const RecordedRequest& request, std::string_view snapshotPath) {
  const std::string_view path = request.path;
  if (endsWith(path, "/batch")) return AnalyticsEndpoint::batch;
  if (endsWith(path, "/i/v1/logs")) return AnalyticsEndpoint::logs;
  if (endsWith(path, "/api/push_subscriptions/")) {
    return request.method == "DELETE" ? AnalyticsEndpoint::pushUnsubscription
                                      : AnalyticsEndpoint::pushSubscription;
  }
  if (endsWith(path, "/flags")) return AnalyticsEndpoint::flags;
  if (path.find("/array/") != std::string_view::npos && endsWith(path, "/config")) {
    return AnalyticsEndpoint::remoteConfig;
  }
  if (!snapshotPath.empty() && endsWith(path, snapshotPath)) return AnalyticsEndpoint::snapshot;
  return AnalyticsEndpoint::unknown;
}

// Collects the problems of one request.
class WireCheck {
 public:
  WireCheck(std::vector<std::string>& problems, std::string_view token)
      : problems_(problems), token_(token) {}

  void fail(std::string text) { problems_.push_back(std::move(text)); }

  void expect(bool condition, std::string text) {
    if (!condition) fail(std::move(text));
  }

  void expectToken(const Json& value, const std::string& where) {
    if (!value.is_string() || value.get<std::string>().empty()) {
      fail(where + " is not a non-empty string");
    } else if (!token_.empty() && value.get<std::string>() != token_) {
      fail(where + " is \"" + value.get<std::string>() + "\", not the project token");
    }
  }

  // Only these keys; those in `required` must be there; `string` ones must be strings.
  void expectKeys(const Json& object, const std::string& what, const std::set<std::string>& allowed,
                  const std::set<std::string>& required, const std::set<std::string>& strings) {
    for (const auto& [key, value] : object.items()) {
      if (!allowed.contains(key)) fail(what + " has an unexpected key \"" + key + "\"");
      if (strings.contains(key) && !value.is_string()) fail(what + " \"" + key + "\" is not a string");
    }
    for (const auto& key : required) {
      if (!object.contains(key)) fail(what + " lacks \"" + key + "\"");
    }
  }

  void expectEvent(const Json& event, const std::string& what, bool withApiKey) {
    if (!event.is_object()) return fail(what + " is not an object");
    std::set<std::string> required = {"event", "distinct_id", "properties", "timestamp", "uuid"};
    if (withApiKey) required.insert("api_key");
    expectKeys(event, what, {"event", "distinct_id", "properties", "timestamp", "uuid", "api_key", "$set"},
               required, {"event", "distinct_id"});
    if (event.contains("properties"))
      expect(event["properties"].is_object(), what + " \"properties\" is not an object");
    if (event.contains("timestamp"))
      expect(isApiDate(event["timestamp"]), what + " \"timestamp\" is not a UTC time with milliseconds");
    if (event.contains("uuid")) expect(isUuid(event["uuid"]), what + " \"uuid\" is not a lower-case UUID");
    if (event.contains("api_key")) expectToken(event["api_key"], what + " \"api_key\"");
  }

 private:
  std::vector<std::string>& problems_;
  std::string token_;
};

void checkBody(WireCheck& check, AnalyticsEndpoint endpoint, const RecordedRequest& request,
               const Json& body) {
  switch (endpoint) {
    case AnalyticsEndpoint::batch: {
      if (!body.is_object()) return check.fail("the body is not a JSON object");
      check.expectKeys(body, "the body", {"api_key", "batch", "sent_at"}, {"api_key", "batch", "sent_at"},
                       {});
      if (body.contains("api_key")) check.expectToken(body["api_key"], "\"api_key\"");
      if (body.contains("sent_at"))
        check.expect(isApiDate(body["sent_at"]), "\"sent_at\" is not a UTC time with milliseconds");
      if (!body.contains("batch")) return;
      if (!body["batch"].is_array()) return check.fail("\"batch\" is not an array");
      for (std::size_t i = 0; i < body["batch"].size(); ++i) {
        check.expectEvent(body["batch"][i], "event " + std::to_string(i), false);
      }
      return;
    }
    case AnalyticsEndpoint::snapshot:
      if (!body.is_array()) return check.fail("the body is not a JSON array");
      for (std::size_t i = 0; i < body.size(); ++i)
        check.expectEvent(body[i], "event " + std::to_string(i), true);
      return;
    case AnalyticsEndpoint::logs: {
      const auto token = request.queryValue("token");
      if (!token) {
        check.fail("the query lacks \"token\"");
      } else {
        check.expectToken(*token, "the \"token\" query item");
      }
      if (!body.is_object()) return check.fail("the body is not a JSON object");
      check.expect(body.contains("resourceLogs") && body["resourceLogs"].is_array(),
                   "the body lacks the \"resourceLogs\" array");
      return;
    }
    case AnalyticsEndpoint::pushSubscription:
    case AnalyticsEndpoint::pushUnsubscription: {
      if (!body.is_object()) return check.fail("the body is not a JSON object");
      const std::set<std::string> required = {"api_key", "distinct_id", "device_token", "platform", "app_id"};
      std::set<std::string> allowed = required;
      allowed.insert("identity_token");
      check.expectKeys(body, "the body", allowed, required, allowed);
      if (body.contains("api_key")) check.expectToken(body["api_key"], "\"api_key\"");
      check.expect(body.value("platform", Json()) == "ios", "\"platform\" is not \"ios\"");
      return;
    }
    case AnalyticsEndpoint::flags: {
      check.expect(request.queryValue("v") == "2", "the query lacks \"v=2\"");
      if (!body.is_object()) return check.fail("the body is not a JSON object");
      check.expectKeys(body, "the body",
                       {"api_key", "distinct_id", "groups", "timezone", "$anon_distinct_id", "$device_id",
                        "person_properties", "group_properties", "evaluation_contexts"},
                       {"api_key", "distinct_id", "groups", "timezone"},
                       {"distinct_id", "timezone", "$anon_distinct_id", "$device_id"});
      if (body.contains("api_key")) check.expectToken(body["api_key"], "\"api_key\"");
      if (body.contains("groups")) {
        const Json& groups = body["groups"];
        check.expect(groups.is_object() && std::all_of(groups.begin(), groups.end(),
                                                       [](const Json& v) { return v.is_string(); }),
                     "\"groups\" is not an object of strings");
      }
      if (body.contains("person_properties")) {
        check.expect(body["person_properties"].is_object() && !body["person_properties"].empty(),
                     "\"person_properties\" is not a non-empty object");
      }
      if (body.contains("group_properties")) {
        const Json& groups = body["group_properties"];
        check.expect(
            groups.is_object() && !groups.empty() &&
                std::all_of(groups.begin(), groups.end(), [](const Json& v) { return v.is_object(); }),
            "\"group_properties\" is not a non-empty object of objects");
      }
      if (body.contains("evaluation_contexts")) {
        const Json& contexts = body["evaluation_contexts"];
        check.expect(
            contexts.is_array() && !contexts.empty() &&
                std::all_of(contexts.begin(), contexts.end(), [](const Json& v) { return v.is_string(); }),
            "\"evaluation_contexts\" is not a non-empty array of strings");
      }
      return;
    }
    case AnalyticsEndpoint::remoteConfig:
    case AnalyticsEndpoint::unknown:
      return;
  }
}

void checkRequest(AnalyticsRequest& request, std::string_view token) {
  WireCheck check(request.problems, token);
  const RecordedRequest& raw = request.raw;
  const AnalyticsEndpoint endpoint = request.endpoint;
  if (endpoint == AnalyticsEndpoint::unknown) {
    return check.fail("no service endpoint answers " + raw.method + " " + raw.path);
  }

  const char* method = endpoint == AnalyticsEndpoint::remoteConfig         ? "GET"
                       : endpoint == AnalyticsEndpoint::pushUnsubscription ? "DELETE"
                                                                           : "POST";
  check.expect(raw.method == method, "the method is " + raw.method + ", not " + method);
  check.expect(raw.header("Content-Type") == contentType,
               "\"Content-Type\" is not \"" + std::string(contentType) + "\"");
  const std::string agent = raw.header("User-Agent").value_or("");
  check.expect(agent.find('/') != std::string::npos && agent.front() != '/' && agent.back() != '/',
               "\"User-Agent\" is not <sdk name>/<version>");
  check.expect(raw.header("Accept-Encoding") == "gzip", "\"Accept-Encoding\" is not \"gzip\"");

  const auto encoding = raw.header("Content-Encoding");
  const bool uncompressedOnly =
      endpoint == AnalyticsEndpoint::flags || endpoint == AnalyticsEndpoint::remoteConfig;
  if (uncompressedOnly) {
    check.expect(!encoding, "an uncompressed request carries \"Content-Encoding\"");
  } else if (encoding && *encoding != "gzip") {
    check.fail("\"Content-Encoding\" is \"" + *encoding + "\", not \"gzip\"");
  }

  if (endpoint == AnalyticsEndpoint::remoteConfig) {
    check.expect(raw.body.empty(), "the GET carries a body");
    const std::string expected = "/array/" + std::string(token) + "/config";
    if (!token.empty()) check.expect(endsWith(raw.path, expected), "the path does not end in " + expected);
    return;
  }
  if (request.body.is_discarded() || (request.body.is_null() && request.bodyText != "null")) {
    return check.fail("the body is not JSON");
  }
  checkBody(check, endpoint, raw, request.body);
}

ScriptedReply defaultReply(AnalyticsEndpoint endpoint, const Json& flags, const Json& remoteConfig) {
  switch (endpoint) {
    case AnalyticsEndpoint::flags:
      return analytics_reply::json(flags);
    case AnalyticsEndpoint::remoteConfig:
      return analytics_reply::json(remoteConfig);
    case AnalyticsEndpoint::unknown:
      return analytics_reply::json(Json{{"detail", "not found"}}, 404);
    default:
      return analytics_reply::json(Json{{"status", "Ok"}});
  }
}

}  // namespace

std::string_view toString(AnalyticsEndpoint endpoint) {
  switch (endpoint) {
    case AnalyticsEndpoint::batch:
      return "batch";
    case AnalyticsEndpoint::snapshot:
      return "snapshot";
    case AnalyticsEndpoint::logs:
      return "logs";
    case AnalyticsEndpoint::pushSubscription:
      return "push subscription";
    case AnalyticsEndpoint::pushUnsubscription:
      return "push unsubscription";
    case AnalyticsEndpoint::flags:
      return "flags";
    case AnalyticsEndpoint::remoteConfig:
      return "remote config";
    case AnalyticsEndpoint::unknown:
      return "unknown";
  }
  return "unknown";
}

std::vector<nlohmann::json> AnalyticsRequest::events() const {
  std::vector<Json> events;
  if (endpoint == AnalyticsEndpoint::batch && body.is_object() && body.contains("batch") &&
      body["batch"].is_array()) {
    events = body["batch"].get<std::vector<Json>>();
  } else if (endpoint == AnalyticsEndpoint::snapshot && body.is_array()) {
    events = body.get<std::vector<Json>>();
  }
  std::erase_if(events, [](const Json& event) { return !event.is_object(); });
  return events;
}

namespace analytics_reply {

ScriptedReply status(int status, std::optional<std::string> retryAfter) {
  ScriptedReply reply =
      json(status >= 200 && status <= 299 ? Json{{"status", "Ok"}} : Json{{"detail", "scripted"}}, status);
  if (retryAfter) reply.headers.emplace_back("Retry-After", *retryAfter);
  return reply;
}

ScriptedReply json(const nlohmann::json& body, int status) {
  return ScriptedReply::json(body.dump(), status);
}

ScriptedReply text(std::string body, int status) {
  return ScriptedReply::json(std::move(body), status);
}

ScriptedReply redirect(std::string location, int status) {
  ScriptedReply reply;
  reply.status = status;
  reply.headers = {{"Location", std::move(location)}};
  return reply;
}

ScriptedReply dropped() {
  ScriptedReply reply;
  reply.action = ScriptedReply::Action::drop;
  return reply;
}

ScriptedReply hanging() {
  ScriptedReply reply;
  reply.action = ScriptedReply::Action::hang;
  return reply;
}

ScriptedReply endless(int status) {
  ScriptedReply reply;
  reply.status = status;
  reply.action = ScriptedReply::Action::endless;
  return reply;
}

}  // namespace analytics_reply

AnalyticsServiceStandIn::AnalyticsServiceStandIn() : AnalyticsServiceStandIn(Options{}) {}

AnalyticsServiceStandIn::AnalyticsServiceStandIn(Options options) : options_(std::move(options)) {
  if (!options_.snapshotPath.starts_with('/')) options_.snapshotPath.insert(0, "/");
  server_ = std::make_unique<LoopbackHttpServer>(
      [this](const RecordedRequest& request) { return handle(request); }, options_.port);
}

AnalyticsServiceStandIn::~AnalyticsServiceStandIn() {
  stop();
}

std::uint16_t AnalyticsServiceStandIn::port() const {
  return server_->port();
}

std::string AnalyticsServiceStandIn::baseURL() const {
  return server_->baseURL();
}

std::string AnalyticsServiceStandIn::baseURL(std::string_view hostName) const {
  return "http://" + std::string(hostName) + ":" + std::to_string(port());
}

void AnalyticsServiceStandIn::script(AnalyticsEndpoint endpoint, ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  scripts_[endpoint].push_back(std::move(reply));
}

void AnalyticsServiceStandIn::setFlags(nlohmann::json flags) {
  std::lock_guard lock(mutex_);
  flags_ = std::move(flags);
}

void AnalyticsServiceStandIn::setRemoteConfig(nlohmann::json config) {
  std::lock_guard lock(mutex_);
  remoteConfig_ = std::move(config);
}

void AnalyticsServiceStandIn::rehearse(Rehearsal rehearsal) {
  std::lock_guard lock(mutex_);
  rehearsal_ = std::move(rehearsal);
}

void AnalyticsServiceStandIn::setObserver(std::function<void(const AnalyticsRequest&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

std::function<void()> AnalyticsServiceStandIn::holdNext(AnalyticsEndpoint endpoint) {
  auto hold = std::make_shared<Hold>();
  {
    std::lock_guard lock(mutex_);
    holds_[endpoint].push_back(hold);
  }
  return [this, hold] {
    {
      std::lock_guard lock(mutex_);
      hold->released = true;
    }
    changed_.notify_all();
  };
}

ScriptedReply AnalyticsServiceStandIn::replyFor(const AnalyticsRequest& request) {
  if (request.endpoint == AnalyticsEndpoint::unknown)
    return defaultReply(request.endpoint, flags_, remoteConfig_);
  if (request.raw.header("Content-Encoding") == "gzip" && !request.gzipped) {
    return analytics_reply::json(Json{{"detail", "the gzip body does not inflate"}}, 400);
  }
  if (auto& queue = scripts_[request.endpoint]; !queue.empty()) {
    ScriptedReply reply = std::move(queue.front());
    queue.pop_front();
    return reply;
  }
  ScriptedReply reply = defaultReply(request.endpoint, flags_, remoteConfig_);
  if (rehearsal_) {
    if (rehearsal_->status) reply = analytics_reply::status(*rehearsal_->status);
    if (rehearsal_->retryAfter) reply.headers.emplace_back("Retry-After", *rehearsal_->retryAfter);
    reply.delay = rehearsal_->delay;
    if (rehearsal_->drop) reply.action = ScriptedReply::Action::drop;
  }
  return reply;
}

ScriptedReply AnalyticsServiceStandIn::handle(const RecordedRequest& raw) {
  AnalyticsRequest request;
  request.raw = raw;
  request.receivedAt = std::chrono::system_clock::now();
  request.hostName = hostNameOf(raw);
  request.endpoint = classify(raw, options_.snapshotPath);
  request.bodyText = raw.body;
  if (raw.header("Content-Encoding") == "gzip") {
    if (!raw.body.starts_with("\x1f\x8b")) {
      request.problems.push_back("the gzip body lacks the gzip magic bytes");
    } else if (auto inflated = gunzip(raw.body)) {
      request.gzipped = true;
      request.bodyText = std::move(*inflated);
    } else {
      request.problems.push_back("the gzip body does not inflate");
    }
  }
  if (!request.bodyText.empty()) request.body = Json::parse(request.bodyText, nullptr, false);
  if (request.problems.empty()) checkRequest(request, options_.projectToken);

  std::vector<Json> received = request.events();

  ScriptedReply reply;
  std::function<void(const AnalyticsRequest&)> observer;
  std::shared_ptr<Hold> hold;
  {
    std::lock_guard lock(mutex_);
    reply = replyFor(request);
    request.answeredStatus = reply.action == ScriptedReply::Action::respond ? reply.status : 0;
    for (auto& event : received) events_.push_back(std::move(event));
    requests_.push_back(request);
    observer = observer_;
    if (auto& held = holds_[request.endpoint]; !held.empty()) {
      hold = std::move(held.front());
      held.pop_front();
    }
  }
  changed_.notify_all();
  if (observer) observer(request);
  if (hold) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return hold->released || stopping_; });
  }
  return reply;
}

std::vector<AnalyticsRequest> AnalyticsServiceStandIn::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<AnalyticsRequest> AnalyticsServiceStandIn::requests(AnalyticsEndpoint endpoint) const {
  std::lock_guard lock(mutex_);
  std::vector<AnalyticsRequest> matching;
  for (const auto& request : requests_) {
    if (request.endpoint == endpoint) matching.push_back(request);
  }
  return matching;
}

std::vector<nlohmann::json> AnalyticsServiceStandIn::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::optional<nlohmann::json> AnalyticsServiceStandIn::event(std::string_view uuid) const {
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(events_.rbegin(), events_.rend(), [&](const Json& event) {
    return event.value("uuid", Json()) == std::string(uuid);
  });
  if (found == events_.rend()) return std::nullopt;
  return *found;
}

std::vector<std::string> AnalyticsServiceStandIn::problems() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> all;
  for (const auto& request : requests_) {
    for (const auto& problem : request.problems)
      all.push_back(std::string(toString(request.endpoint)) + ": " + problem);
  }
  return all;
}

bool AnalyticsServiceStandIn::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

bool AnalyticsServiceStandIn::waitForRequests(AnalyticsEndpoint endpoint, std::size_t count,
                                              std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return static_cast<std::size_t>(
               std::count_if(requests_.begin(), requests_.end(),
                             [&](const AnalyticsRequest& r) { return r.endpoint == endpoint; })) >= count;
  });
}

bool AnalyticsServiceStandIn::waitForEvents(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
}

std::optional<nlohmann::json> AnalyticsServiceStandIn::waitForEvent(std::string_view uuid,
                                                                    std::chrono::milliseconds timeout) const {
  {
    std::unique_lock lock(mutex_);
    const bool arrived = changed_.wait_for(lock, timeout, [&] {
      return std::any_of(events_.begin(), events_.end(),
                         [&](const Json& event) { return event.value("uuid", Json()) == std::string(uuid); });
    });
    if (!arrived) return std::nullopt;
  }
  return event(uuid);
}

void AnalyticsServiceStandIn::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  server_->stop();
}

}  // namespace quorvelle::test
