#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/Executor.h"

namespace platform {

// HTTP header fields in the order they were set. Names compare without regard to letter case.
class HttpHeaders {
 public:
  HttpHeaders() = default;
  HttpHeaders(std::initializer_list<std::pair<std::string, std::string>> fields);

  // Replaces every field of that name (any case) by one field.
  void set(std::string name, std::string value);
  // Adds a field, keeping any of the same name (replies may repeat a field).
  void add(std::string name, std::string value);
  void remove(std::string_view name);
  // The first field of that name.
  std::optional<std::string> get(std::string_view name) const;
  bool contains(std::string_view name) const { return get(name).has_value(); }

  const std::vector<std::pair<std::string, std::string>>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }

  static bool sameName(std::string_view a, std::string_view b);

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

struct HttpRequest {
  std::string method = "GET";
  // An absolute http or https URL. TLS peers are always verified.
  std::string url;
  HttpHeaders headers;
  // Sent as is (already compressed when the caller set "Content-Encoding"). Empty: no body.
  std::string body;
  // The whole exchange, redirects included, must finish within this time.
  std::chrono::milliseconds timeout{60'000};
  // Redirects are followed up to this many times, and one more ends the transfer with `tooManyRedirects`;
  // 0 hands the first 3xx reply back as the result. A redirect never changes the method or the body: 307
  // and 308 are followed by the same request, 301, 302 and 303 only by a GET or HEAD (any other request
  // gets them back as its result, so a POST is never re-sent as a GET without its body).
  int maxRedirects = 10;
  // Header names removed from the request when a redirect leads to a host other than the original one, or
  // to another scheme.
  std::vector<std::string> stripOnCrossHostRedirect;
  // A reply body larger than this (after content decoding) ends the transfer with `responseTooLarge`.
  std::size_t maxResponseBytes = 64u << 20;
  // Cancelling this token ends the transfer with `cancelled` unless its reply is already complete.
  CancelToken cancel;
};

enum class HttpErrorKind {
  timedOut,
  cannotConnect,
  hostNotFound,
  connectionLost,  // the peer closed or reset the connection, or the body was cut short
  tls,
  cancelled,
  responseTooLarge,
  tooManyRedirects,
  badURL,       // the request's URL (or a redirect's) is not an http or https URL
  badResponse,  // the server's reply does not follow HTTP (status line, headers, framing, content coding)
  other,
};

struct HttpError {
  HttpErrorKind kind = HttpErrorKind::other;
  std::string message;
};

// The outcome of one request. Either `error` is set (the transfer failed before a complete reply; `status`
// and `headers` still hold what had arrived, when anything had) or it is empty and the reply is complete.
// HTTP statuses are never errors here: a 500 reply is a successful transfer.
struct HttpResult {
  std::optional<HttpError> error;
  int status = 0;  // 0 when no status line arrived
  HttpHeaders headers;
  std::string body;
  std::string finalURL;  // after redirects

  bool ok() const { return !error.has_value(); }
};

const char* toString(HttpErrorKind kind);

using HttpCompletion = std::function<void(HttpResult)>;

// The program's one HTTP transport. send() may be called from any thread and returns at once; the
// completion runs exactly once, as a job posted to `executor` (which must outlive the request). Destroying
// the client cancels what is still in flight and delivers those completions with `cancelled`.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual void send(HttpRequest request, Executor& executor, HttpCompletion completion) = 0;
};

}  // namespace platform
