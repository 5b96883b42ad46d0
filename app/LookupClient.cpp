#include "app/LookupClient.h"

#include <nlohmann/json.hpp>

#include "app/APIEnvelope.h"
#include "app/UnicodeText.h"
#include "platform/Log.h"

namespace quorvelle {
namespace {

// Replies of the backend are a few kilobytes; anything far larger is not one of them and is not kept.
constexpr std::size_t kMaxReplyBytes = 8u << 20;

constexpr const char* kUnknownBackendError = "Unknown backend error";
constexpr const char* kBadLookupURL = "Bad lookup URL";

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// Percent-encodes every byte outside `keep` (UTF-8 stays UTF-8, byte by byte).
template <class Keep>
std::string percentEncode(std::string_view text, Keep keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (keep(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

// Path text: "/" stays a separator and the straight apostrophe stays as typed. Characters that some
// servers read specially ("+", "&", "=", ";") are encoded even though a path may hold them.
std::string encodePath(std::string_view text) {
  return percentEncode(text,
                       [](unsigned char c) { return isUnreserved(c) || c == '/' || c == '\'' || c == '@'; });
}

// Query values: only unreserved characters stay, so "+", "&", "=", "#" and "%" arrive as sent and a "+"
// is never read as a space.
std::string encodeQueryValue(std::string_view text) {
  return percentEncode(text, isUnreserved);
}

// An absolute http(s) address with a host and no query, fragment, blanks or control characters.
bool isUsableBase(std::string_view base) {
  std::string_view rest;
  if (base.starts_with("https://")) {
    rest = base.substr(8);
  } else if (base.starts_with("http://")) {
    rest = base.substr(7);
  } else {
    return false;
  }
  if (rest.empty() || rest.front() == '/') return false;
  for (const char ch : base) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || c == '?' || c == '#') return false;
  }
  return true;
}

std::string appendPath(std::string_view base, std::string_view path) {
  std::string url(base);
  while (!url.empty() && url.back() == '/') url.pop_back();
  url += '/';
  url += path;
  return url;
}

// One line per failed request, for whoever looks into a problem: which call, how it failed and the HTTP
// status. Never the text, the word (it is part of the lookup's path) or the key.
void logFailure(std::string_view endpoint, std::string_view kind, int status) {
  const auto level = kind == platform::toString(platform::HttpErrorKind::cancelled)
                         ? platform::LogLevel::info
                         : platform::LogLevel::warning;
  platform::log(level, "LookupClient: " + std::string(endpoint) + " failed: " + std::string(kind) +
                           " (HTTP " + std::to_string(status) + ")");
}

// A compact JSON object of string members. Text that is not valid UTF-8 cannot travel in JSON: its bad
// bytes are replaced rather than failing the whole request.
std::string encodeBody(const nlohmann::json& body) {
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

LookupClient::LookupClient(platform::HttpClient& http, platform::Executor& mainExecutor,
                           const GeminiKeyManager& geminiKey, std::string baseURL,
                           std::string defaultRefinePrompt, std::chrono::milliseconds requestTimeout)
    : http_(http),
      mainExecutor_(mainExecutor),
      geminiKey_(geminiKey),
      baseURL_(std::move(baseURL)),
      defaultRefinePrompt_(std::move(defaultRefinePrompt)),
      requestTimeout_(requestTimeout) {}

platform::HttpRequest LookupClient::jsonPost(std::string_view path, const std::string& body,
                                             platform::CancelToken cancel) const {
  platform::HttpRequest request;
  request.method = "POST";
  request.url = appendPath(baseURL_, path);
  request.headers.set("Content-Type", "application/json");
  request.body = body;
  request.timeout = requestTimeout_;
  request.maxResponseBytes = kMaxReplyBytes;
  request.cancel = std::move(cancel);
  return request;
}

void LookupClient::translate(const std::string& text, const std::string& target, platform::CancelToken cancel,
                             Completion<TranslationResult> completion) const {
  const nlohmann::json body = {{"text", text}, {"target", target}};
  request<TranslationResult>("translate", jsonPost("translate", encodeBody(body), std::move(cancel)),
                             std::move(completion));
}

void LookupClient::refine(const std::string& text, const std::string& prompt, const std::string& language,
                          platform::CancelToken cancel, Completion<RefineResult> completion) const {
  nlohmann::json body = {{"text", text}, {"language", language}};
  const std::string trimmed = trimmedWhitespaceAndNewlines(prompt);
  if (!trimmed.empty() && trimmed != defaultRefinePrompt_) body["prompt"] = trimmed;
  // Read at every call, so a key saved or removed in the settings counts from the next request on. The
  // completion holds a copy of the client (references and two strings), not the client itself.
  geminiKey_.readKey([self = *this, body = std::move(body), cancel = std::move(cancel),
                      completion = std::move(completion)](platform::SecretReadResult key) mutable {
    if (key.status == platform::SecretStatus::failed || key.status == platform::SecretStatus::unavailable) {
      // Sent without the key, the refine would run as if the user had none.
      const bool unavailable = key.status == platform::SecretStatus::unavailable;
      logFailure("refine", unavailable ? "keyring unavailable" : "keyring failed", 0);
      return completion(LookupError::server(std::string(
          unavailable ? GeminiKeyManager::kKeyringUnavailable : GeminiKeyManager::kKeyringDidNotAnswer)));
    }
    if (key.status == platform::SecretStatus::ok) body["apiKey"] = std::move(key.value);
    self.request<RefineResult>("refine", self.jsonPost("refine", encodeBody(body), std::move(cancel)),
                               std::move(completion));
  });
}

void LookupClient::lookup(const std::string& word, const std::string& accent, platform::CancelToken cancel,
                          Completion<DictionaryEntry> completion) const {
  if (!isUsableBase(baseURL_)) {
    logFailure("lookup", "bad URL", 0);
    mainExecutor_.post(
        [completion = std::move(completion)] { completion(LookupError::server(kBadLookupURL)); });
    return;
  }
  platform::HttpRequest request;
  request.url = appendPath(baseURL_, "lookup/" + encodePath(word)) + "?accent=" + encodeQueryValue(accent);
  request.timeout = requestTimeout_;
  request.maxResponseBytes = kMaxReplyBytes;
  request.cancel = std::move(cancel);
  this->request<DictionaryEntry>("lookup", std::move(request), std::move(completion));
}

std::optional<std::string> LookupClient::audioProxyURL(const std::string& audioUrl) const {
  if (!isUsableBase(baseURL_)) return std::nullopt;
  return appendPath(baseURL_, "audio") + "?src=" + encodeQueryValue(audioUrl);
}

template <class T>
void LookupClient::request(std::string_view endpoint, platform::HttpRequest request,
                           Completion<T> completion) const {
  http_.send(std::move(request), mainExecutor_,
             [endpoint, completion = std::move(completion)](platform::HttpResult reply) {
               using platform::HttpErrorKind;
               if (!reply.ok() && reply.error->kind != HttpErrorKind::responseTooLarge) {
                 logFailure(endpoint, platform::toString(reply.error->kind), reply.status);
                 return completion(LookupError::backendUnreachable());
               }
               // An oversized reply did arrive; it just cannot be an envelope, so it decodes as nothing
               // below.
               std::optional<APIEnvelope<T>> envelope;
               if (reply.ok()) envelope = APIEnvelope<T>::decode(std::string_view(reply.body));
               if (!envelope) {
                 logFailure(endpoint, "unexpected response", reply.status);
                 return completion(LookupError::server("Server returned an unexpected response (HTTP " +
                                                       std::to_string(reply.status) + ")."));
               }
               if (envelope->success && envelope->data) return completion(std::move(*envelope->data));
               logFailure(endpoint, "refused by the backend", reply.status);
               completion(LookupError::server(envelope->error.value_or(kUnknownBackendError)));
             });
}

template void LookupClient::request<TranslationResult>(std::string_view, platform::HttpRequest,
                                                       Completion<TranslationResult>) const;
template void LookupClient::request<RefineResult>(std::string_view, platform::HttpRequest,
                                                  Completion<RefineResult>) const;
template void LookupClient::request<DictionaryEntry>(std::string_view, platform::HttpRequest,
                                                     Completion<DictionaryEntry>) const;

}  // namespace quorvelle
