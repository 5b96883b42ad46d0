#include "DiziZoz/delivery/DiziZozApi.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <source_location>
#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/HedgeLog.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/delivery/UrlComponents.h"

namespace dizizoz {
namespace {

using QueryItems = std::vector<std::pair<std::string, std::string>>;

// Headers the client sets itself; a custom header under one of these names is never applied.
constexpr std::array<std::string_view, 4> reservedHeaderKeys = {"content-type", "user-agent",
                                                                "accept-encoding", "content-encoding"};

constexpr double flagsRetryBaseSeconds = 0.3;
constexpr double flagsRetryMaxSeconds = 30.0;

bool isReservedHeader(std::string_view name) {
  return std::any_of(reservedHeaderKeys.begin(), reservedHeaderKeys.end(), [&](std::string_view reserved) {
    return platform::HttpHeaders::sameName(name, reserved);
  });
}

bool isSuccess(int status) {
  return status >= 200 && status <= 299;
}

// The answer's body as the diagnostics show it: its JSON object, or "nil" when it holds none.
std::string describeBody(const std::string& body) {
  const auto object = fromJSONData(body);
  return object ? object->dump() : "nil";
}

// Where an error of the client's own was raised, for its description.
std::string raisedAt(const std::source_location& where) {
  std::string_view file = where.file_name();
  if (const auto slash = file.rfind('/'); slash != std::string_view::npos) file.remove_prefix(slash + 1);
  return "(" + std::string(file) + ":" + std::to_string(where.line()) + ")";
}

std::string shortestDecimal(double value) {
  std::array<char, 32> buffer{};
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return ec == std::errc() ? std::string(buffer.data(), end) : std::to_string(value);
}

// The body as JSON text; nothing when it holds a value that JSON cannot carry (text that is not UTF-8,
// NaN, an address or date object).
std::optional<std::string> serialised(const Value& body) {
  if (!isValidObject(body)) return std::nullopt;
  try {
    return body.dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

// The texts that tell the two fetches apart in their diagnostics.
struct FetchLines {
  std::string_view failedCall;    // + the transport error
  std::string_view badStatus;     // + "status: ..., body: ...."
  std::string_view notHttp;       // a whole line
  std::string_view succeeded;     // a whole line
  std::string_view notParseable;  // + the reader's error
};

constexpr FetchLines flagsLines{
    .failedCall = "Error calling the flags API: ",
    .badStatus = "Error calling flags API: ",
    .notHttp = "[DiziZoz] Error parsing the flags response: unexpected response type",
    .succeeded = "[DiziZoz] Flags called successfully.",
    .notParseable = "Error parsing the flags response: ",
};

constexpr FetchLines remoteConfigLines{
    .failedCall = "Error calling the remote config API: ",
    .badStatus = "Error calling the remote config API: ",
    .notHttp = "[DiziZoz] Error parsing the remote config response: unexpected response type",
    .succeeded = "[DiziZoz] Remote config called successfully.",
    .notParseable = "Error parsing the remote config response: ",
};

std::string statusAndBody(const platform::HttpResult& result) {
  return "status: " + std::to_string(result.status) + ", body: " + describeBody(result.body);
}

// The answer of a fetch that is not retried: a transport error is handed on; a 2xx answer's object is
// handed on, any other JSON value gives nothing and text that is not JSON the reader's error; any other
// status gives an error of the client's own.
void completeFetch(const platform::HttpResult& result, const FetchLines& lines,
                   const DiziZozApi::FetchCompletion& completion) {
  if (result.error) {
    hedgeLog(std::string(lines.failedCall) + describe(*result.error));
    completion(std::nullopt, *result.error);
    return;
  }
  if (result.status == 0) {
    hedgeLog(lines.notHttp);
    completion(std::nullopt, std::nullopt);
    return;
  }
  if (!isSuccess(result.status)) {
    const std::string text = std::string(lines.badStatus) + statusAndBody(result) + ".";
    hedgeLog(text);
    completion(std::nullopt, InternalDiziZozError{text + " " + raisedAt(std::source_location::current())});
    return;
  }
  hedgeLog(lines.succeeded);
  Value json;
  try {
    json = Value::parse(result.body);
  } catch (const nlohmann::json::parse_error& error) {
    hedgeLog(std::string(lines.notParseable) + error.what());
    completion(std::nullopt, JsonParseError{error.what()});
    return;
  }
  if (json.is_object()) {
    completion(std::move(json), std::nullopt);
  } else {
    completion(std::nullopt, std::nullopt);
  }
}

}  // namespace

std::string describe(const platform::HttpError& error) {
  return error.message.empty() ? platform::toString(error.kind) : error.message;
}

std::string describe(const DiziZozApiError& error) {
  struct Visitor {
    std::string operator()(const platform::HttpError& e) const { return dizizoz::describe(e); }
    std::string operator()(const InternalDiziZozError& e) const { return e.description; }
    std::string operator()(const JsonParseError& e) const { return e.description; }
  };
  return std::visit(Visitor{}, error);
}

DiziZozUploadInfo processUploadResponse(std::string_view endpointName, const platform::HttpResult& result,
                                        Date now) {
  const std::string name(endpointName);
  if (result.error) {
    hedgeLog("Error calling the " + name + " API: " + describe(*result.error) + ".");
    return {.statusCode = std::nullopt, .error = result.error, .retryAfter = std::nullopt};
  }
  if (result.status == 0) {
    hedgeLog(name + " API returned no HTTP response");
    return {};
  }
  if (isSuccess(result.status)) {
    hedgeLog(name + " sent successfully.");
  } else {
    hedgeLog("Error sending to " + name + " API: status: " + std::to_string(result.status) +
             ", body: " + describeBody(result.body) + ".");
  }
  std::optional<double> retryAfter;
  if (const auto header = result.headers.get("Retry-After")) retryAfter = parseRetryAfter(*header, now);
  return {.statusCode = result.status, .error = std::nullopt, .retryAfter = retryAfter};
}

// Everything a request needs, shared with the completions in flight so that they outlive the client.
struct DiziZozApi::Core : std::enable_shared_from_this<Core> {
  Core(std::shared_ptr<DiziZozConfig> config, DiziZozApiEnvironment environment)
      : config(std::move(config)), env(std::move(environment)) {}

  std::shared_ptr<DiziZozConfig> config;
  DiziZozApiEnvironment env;
  std::atomic<bool> closed{false};
  std::map<std::string, std::string> customRequestHeaders;
  std::optional<std::string> configuredHost;
  platform::HttpHeaders sessionHeaders;
  // The custom names that can be on a request; removed from it when a redirect leaves the host.
  std::vector<std::string> customNamesToStrip;

  // The configured host with `path` joined to its path (runs of "/" collapsed) and `query` as its only
  // query. Nothing when the host cannot be taken apart.
  std::optional<std::string> endpointUrl(std::string_view path, const QueryItems& query) const {
    auto parts = UrlComponents::parse(config->host());
    if (!parts) return std::nullopt;
    const std::string joined = parts->path + "/" + percentEncodedPath(path);
    std::string collapsed;
    for (const char c : joined) {
      if (c == '/' && !collapsed.empty() && collapsed.back() == '/') continue;
      collapsed += c;
    }
    parts->path = std::move(collapsed);
    parts->query = query.empty() ? std::nullopt : std::optional(encodedQuery(query));
    return parts->string();
  }

  // Custom headers go only to the configured host, never under a reserved name, never over a header
  // that the request already has.
  void applyCustomHeaders(platform::HttpRequest& request) const {
    if (customRequestHeaders.empty()) return;
    if (hostOf(request.url) != configuredHost) return;
    for (const auto& [name, value] : customRequestHeaders) {
      if (request.headers.contains(name) || isReservedHeader(name)) continue;
      request.headers.set(name, value);
    }
  }

  platform::HttpRequest makeRequest(std::string method, std::string url, std::size_t maxReplyBytes) const {
    platform::HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.timeout = env.timeout;
    request.maxResponseBytes = maxReplyBytes;
    applyCustomHeaders(request);
    for (const auto& [name, value] : sessionHeaders.fields()) {
      if (!request.headers.contains(name)) request.headers.set(name, value);
    }
    request.stripOnCrossHostRedirect = customNamesToStrip;
    return request;
  }

  void send(platform::HttpRequest request, platform::HttpCompletion completion) const {
    if (closed.load()) {
      // The transport may be gone already: the embedder takes it down after closing the client.
      platform::HttpResult refused;
      refused.error =
          platform::HttpError{platform::HttpErrorKind::cancelled, "the analytics client is closed"};
      completion(std::move(refused));
      return;
    }
    env.http.send(std::move(request), *env.completionQueue, std::move(completion));
  }

  GzipResult compress(std::string_view text) const {
    return env.compress ? env.compress(text) : gzipped(text);
  }

  // The envelope shared by every upload: address, body, compression with the plain fallback, answer.
  void upload(std::string method, std::string_view path, const QueryItems& query, const Value& body,
              const std::string& logName, std::string_view malformedLine, const std::string& parseErrorLine,
              UploadCompletion completion) {
    auto url = endpointUrl(path, query);
    if (!url) {
      hedgeLog(malformedLine);
      completion({});
      return;
    }
    auto json = serialised(body);
    if (!json) {
      hedgeLog(parseErrorLine);
      completion({});
      return;
    }
    platform::HttpRequest request = makeRequest(std::move(method), std::move(*url), maxUploadReplyBytes);
    GzipResult compressed = compress(*json);
    if (compressed.ok()) {
      request.headers.set("Content-Encoding", "gzip");
      request.body.assign(compressed.data.begin(), compressed.data.end());
    } else {
      hedgeLog("Error gzipping the " + logName +
               " body, sending it uncompressed: " + compressed.error->message + ".");
      request.body = std::move(*json);
    }
    send(std::move(request), [self = shared_from_this(), logName,
                              completion = std::move(completion)](platform::HttpResult result) {
      completion(processUploadResponse(logName, result, self->env.clock.now()));
    });
  }

  void sendPushSubscription(std::string method, const std::string& logName, const std::string& distinctId,
                            const std::string& deviceToken, const std::string& appId,
                            const std::optional<std::string>& identityToken, UploadCompletion completion) {
    Properties body{{"api_key", config->projectToken()},
                    {"distinct_id", distinctId},
                    {"device_token", deviceToken},
                    {"platform", "ios"},
                    {"app_id", appId}};
    if (identityToken) body["identity_token"] = *identityToken;
    upload(std::move(method), "/api/push_subscriptions/", {}, body, logName,
           "[DiziZoz] Malformed push subscriptions URL error.", "Error parsing the " + logName + " body",
           std::move(completion));
  }

  static bool isRetryableFlagsError(const platform::HttpError& error) {
    return error.kind == platform::HttpErrorKind::timedOut ||
           error.kind == platform::HttpErrorKind::connectionLost;
  }

  void uploadFlagsRequest(platform::HttpRequest request, int retryCount, FetchCompletion completion) {
    platform::HttpRequest copy = request;
    send(std::move(copy), [self = shared_from_this(), request = std::move(request), retryCount,
                           completion = std::move(completion)](platform::HttpResult result) mutable {
      self->onFlagsAnswer(std::move(request), retryCount, std::move(completion), result);
    });
  }

  void onFlagsAnswer(platform::HttpRequest request, int retryCount, FetchCompletion completion,
                     const platform::HttpResult& result) {
    if (retryCount < config->featureFlagRequestMaxRetries) {
      if (result.error && isRetryableFlagsError(*result.error)) {
        retryFlagsRequest(std::move(request), retryCount, describe(*result.error), std::move(completion));
        return;
      }
      if (!result.error && (result.status == 502 || result.status == 504)) {
        retryFlagsRequest(std::move(request), retryCount, statusAndBody(result), std::move(completion));
        return;
      }
    }
    completeFetch(result, flagsLines, completion);
  }

  void retryFlagsRequest(platform::HttpRequest request, int retryCount, const std::string& reason,
                         FetchCompletion completion) {
    const double delay = std::min(flagsRetryMaxSeconds, flagsRetryBaseSeconds * std::pow(2.0, retryCount));
    hedgeLog("Error calling the flags API: " + reason + ". Retrying in " + shortestDecimal(delay) +
             " seconds (attempt " + std::to_string(retryCount + 1) + "/" +
             std::to_string(config->featureFlagRequestMaxRetries) + ").");
    const auto wait =
        std::chrono::duration_cast<platform::SerialQueue::Duration>(std::chrono::duration<double>(delay));
    env.retryQueue->asyncAfter(wait, [self = shared_from_this(), request = std::move(request), retryCount,
                                      completion = std::move(completion)]() mutable {
      self->uploadFlagsRequest(std::move(request), retryCount + 1, std::move(completion));
    });
  }

  // The configured host, or the assets address of the default region it names.
  std::string remoteConfigBase() const {
    const std::string& host = config->host();
    if (host == env.addresses.usIngestion) return env.addresses.usAssets;
    if (host == env.addresses.euIngestion) return env.addresses.euAssets;
    return host;
  }

  std::optional<platform::HttpRequest> getRemoteConfigRequest() const {
    auto parts = UrlComponents::parse(remoteConfigBase());
    if (!parts) return std::nullopt;
    while (parts->path.ends_with('/')) parts->path.pop_back();
    parts->path += "/array/" + percentEncodedPath(config->projectToken(), /*keepSlashes=*/false) + "/config";
    return makeRequest("GET", parts->string(), maxRemoteConfigReplyBytes);
  }
};

DiziZozApi::DiziZozApi(std::shared_ptr<DiziZozConfig> config, DiziZozApiEnvironment environment)
    : core_(std::make_shared<Core>(std::move(config), std::move(environment))) {
  Core& core = *core_;
  core.customRequestHeaders = core.config->requestHeaders.value_or(std::map<std::string, std::string>{});
  core.configuredHost = hostOf(core.config->host());
  core.sessionHeaders.set("Content-Type", "application/json; charset=utf-8");
  core.sessionHeaders.set("User-Agent", diziZozSdkName + "/" + diziZozVersion);
  core.sessionHeaders.set("Accept-Encoding", "gzip");
  // Reserved names are never applied, and stripping one would take the client's own header off the hop.
  for (const auto& [name, value] : core.customRequestHeaders) {
    if (!isReservedHeader(name)) core.customNamesToStrip.push_back(name);
  }
}

DiziZozApi::~DiziZozApi() = default;

void DiziZozApi::batch(const std::vector<DiziZozEvent>& events, UploadCompletion completion) {
  Value batch = Value::array();
  for (const auto& event : events) batch.push_back(event.toJSON());
  const Properties body{{"api_key", core_->config->projectToken()},
                        {"batch", std::move(batch)},
                        {"sent_at", toISO8601String(core_->env.clock.now())}};
  core_->upload("POST", "/batch", {}, body, "batch", "[DiziZoz] Malformed batch URL error.",
                "[DiziZoz] Error parsing the batch body", std::move(completion));
}

void DiziZozApi::snapshot(std::vector<DiziZozEvent> events, UploadCompletion completion) {
  Value body = Value::array();
  for (auto& event : events) {
    event.apiKey = core_->config->projectToken();
    body.push_back(event.toJSON());
  }
  core_->upload("POST", core_->config->snapshotEndpoint, {}, body, "snapshot",
                "[DiziZoz] Malformed snapshot URL error.", "[DiziZoz] Error parsing the snapshot body",
                std::move(completion));
}

void DiziZozApi::logs(const Properties& payload, UploadCompletion completion) {
  core_->upload("POST", "/i/v1/logs", {{"token", core_->config->projectToken()}}, payload, "logs",
                "[DiziZoz] Malformed logs URL error.", "[DiziZoz] Error parsing the logs body",
                std::move(completion));
}

void DiziZozApi::pushSubscription(const std::string& distinctId, const std::string& deviceToken,
                                  const std::string& appId, const std::optional<std::string>& identityToken,
                                  UploadCompletion completion) {
  core_->sendPushSubscription("POST", "push subscription", distinctId, deviceToken, appId, identityToken,
                              std::move(completion));
}

void DiziZozApi::deletePushSubscription(const std::string& distinctId, const std::string& deviceToken,
                                        const std::string& appId,
                                        const std::optional<std::string>& identityToken,
                                        UploadCompletion completion) {
  core_->sendPushSubscription("DELETE", "push unsubscription", distinctId, deviceToken, appId, identityToken,
                              std::move(completion));
}

void DiziZozApi::flags(const std::string& distinctId, const std::optional<std::string>& anonymousId,
                       const std::optional<std::string>& deviceId,
                       const std::map<std::string, std::string>& groups, const Properties& personProperties,
                       const std::optional<GroupProperties>& groupProperties, FetchCompletion completion) {
  const DiziZozConfig& config = *core_->config;
  auto url = core_->endpointUrl("/flags", {{"v", "2"}});
  if (!url) {
    hedgeLog("[DiziZoz] Malformed flags URL error.");
    completion(std::nullopt, std::nullopt);
    return;
  }
  platform::HttpRequest request = core_->makeRequest("POST", std::move(*url), maxFlagsReplyBytes);

  Properties body{{"api_key", config.projectToken()},
                  {"distinct_id", distinctId},
                  {"groups", Properties::object()},
                  {"timezone", core_->env.timeZone ? core_->env.timeZone() : std::string()}};
  for (const auto& [type, key] : groups) body["groups"][type] = key;
  if (anonymousId) body["$anon_distinct_id"] = *anonymousId;
  if (deviceId) body["$device_id"] = *deviceId;
  if (personProperties.is_object() && !personProperties.empty()) body["person_properties"] = personProperties;
  if (groupProperties && !groupProperties->empty()) {
    Properties groupsBody = Properties::object();
    for (const auto& [type, properties] : *groupProperties) groupsBody[type] = properties;
    body["group_properties"] = std::move(groupsBody);
  }
  if (config.evaluationContexts && !config.evaluationContexts->empty()) {
    body["evaluation_contexts"] = *config.evaluationContexts;
  }
  auto json = serialised(body);
  if (!json) {
    hedgeLog("[DiziZoz] Error parsing the flags body");
    completion(std::nullopt, std::nullopt);
    return;
  }
  request.body = std::move(*json);
  core_->uploadFlagsRequest(std::move(request), 0, std::move(completion));
}

void DiziZozApi::close() {
  core_->closed.store(true);
}

void DiziZozApi::remoteConfig(FetchCompletion completion) {
  auto request = core_->getRemoteConfigRequest();
  if (!request) {
    hedgeLog("[DiziZoz] Error calling the remote config API: unable to create request");
    completion(std::nullopt, std::nullopt);
    return;
  }
  core_->send(std::move(*request),
              [self = core_, completion = std::move(completion)](platform::HttpResult result) {
                completeFetch(result, remoteConfigLines, completion);
              });
}

}  // namespace dizizoz
