#include "platform/linux/CurlHttpClient.h"

#include <curl/curl.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/Log.h"
#include "platform/ThreadCaptureSignal.h"
#include "platform/ThreadSignalStack.h"
#include "platform/linux/Libcurl.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// While transfers run, the worker wakes at least this often to notice cancelled tokens.
constexpr int kCancelPollMs = 20;
constexpr int kIdlePollMs = 10'000;
// The transport's thread, as `ps -L` and the crash reports name it (at most 15 bytes).
constexpr const char* kWorkerName = "quorvelle-http";

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// `osErrno` is the system error behind the failure, 0 when there was none.
HttpErrorKind kindOf(CURLcode code, long osErrno) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return HttpErrorKind::timedOut;
    case CURLE_COULDNT_CONNECT:
      return HttpErrorKind::cannotConnect;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpErrorKind::hostNotFound;
    case CURLE_RECV_ERROR:
      // libcurl also names a chunked framing it cannot decode a receive error; only a failed read of the
      // socket carries a system error.
      return osErrno != 0 ? HttpErrorKind::connectionLost : HttpErrorKind::badResponse;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return HttpErrorKind::connectionLost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
      return HttpErrorKind::tls;
    case CURLE_URL_MALFORMAT:
      return HttpErrorKind::badURL;
    // Every URL is checked to be http or https before it is used, so an unsupported protocol is the reply's:
    // an HTTP version or status code libcurl does not know, or no status line at all.
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return HttpErrorKind::badResponse;
    default:
      return HttpErrorKind::other;
  }
}

std::optional<std::string> urlPart(const std::string& url, CURLUPart which) {
  CURLU* handle = curl_url();
  if (handle == nullptr) return std::nullopt;
  std::optional<std::string> value;
  char* part = nullptr;
  if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(handle, which, &part, 0) == CURLUE_OK) {
    value = part;
    curl_free(part);
  }
  curl_url_cleanup(handle);
  return value;
}

std::optional<std::string> hostOf(const std::string& url) {
  return urlPart(url, CURLUPART_HOST);
}

// libcurl names the scheme in lower case.
bool isHttpURL(const std::string& url) {
  const auto scheme = urlPart(url, CURLUPART_SCHEME);
  return scheme == "http" || scheme == "https";
}

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

struct Transfer {
  HttpRequest request;
  Executor* executor = nullptr;
  HttpCompletion completion;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  HttpResult result;
  std::string originalURL;
  Clock::time_point deadline;
  int redirects = 0;
  bool tooLarge = false;
  int attempts = 0;  // of the current hop
  bool refusedResend = false;
  std::array<char, CURL_ERROR_SIZE> errorBuffer{};

  ~Transfer() {
    if (headerList != nullptr) curl_slist_free_all(headerList);
    if (easy != nullptr) curl_easy_cleanup(easy);
  }
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (transfer->result.body.size() + bytes > transfer->request.maxResponseBytes) {
    transfer->tooLarge = true;
    return 0;  // makes libcurl abort with CURLE_WRITE_ERROR
  }
  transfer->result.body.append(data, bytes);
  return bytes;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  const std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    // A new reply begins (after an interim 1xx reply, for example): only the last one's headers count.
    transfer->result.headers = HttpHeaders();
    const auto space = line.find(' ');
    if (space != std::string_view::npos)
      transfer->result.status = std::atoi(std::string(line.substr(space + 1, 3)).c_str());
    return bytes;
  }
  const auto colon = line.find(':');
  if (colon != std::string_view::npos && colon > 0) {
    transfer->result.headers.add(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
  }
  return bytes;
}

// GET and HEAD change nothing on the server; any other request may have (a POST may be a billed call).
bool mayBeSentAgain(const std::string& method) {
  return method == "GET" || method == "HEAD";
}

// Called before each attempt to send the request. libcurl makes another attempt by itself when a
// connection it took from its pool closes before any reply; but the server may have received the
// request and acted on it before it hung up. A request that must not be repeated fails instead.
int onAttempt(void* user, char*, char*, int, int) {
  auto* transfer = static_cast<Transfer*>(user);
  if (++transfer->attempts > 1 && !mayBeSentAgain(transfer->request.method)) {
    transfer->refusedResend = true;
    return CURL_PREREQFUNC_ABORT;
  }
  return CURL_PREREQFUNC_OK;
}

bool isRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool keepsMethodAndBody(int status) {
  return status == 307 || status == 308;
}

}  // namespace

struct CurlHttpClient::Impl {
  // Made by the worker once libcurl is open; fixed from the moment `ready` is set.
  CURLM* multi = nullptr;
  std::mutex mutex;
  std::vector<std::unique_ptr<Transfer>> incoming;  // guarded by mutex
  bool stopping = false;                            // guarded by mutex
  bool ready = false;                               // guarded by mutex: `multi` exists
  std::string unavailable;                          // guarded by mutex: why libcurl cannot be used
  std::vector<std::unique_ptr<Transfer>> active;    // worker thread only
  std::thread worker;
  const Options options;

  // The worker opens libcurl itself, so that the caller of the first request does not wait for it.
  explicit Impl(Options options) : options(options) {
    worker = std::thread([this] {
      // Named for what it is: a new thread would otherwise carry the name of the one that made it, often
      // an analytics queue's.
      pthread_setname_np(pthread_self(), kWorkerName);
      run();
    });
  }

  ~Impl() {
    bool wake = false;
    {
      std::lock_guard lock(mutex);
      stopping = true;
      wake = ready;
    }
    if (wake) curl_multi_wakeup(multi);
    worker.join();
    if (multi != nullptr) curl_multi_cleanup(multi);
  }

  // Opens libcurl and makes the multi handle; otherwise refuses what has come and what will come.
  bool openLibcurl() {
    std::string error;
    CURLM* made = nullptr;
    if (libcurl::open(error)) {
      initCurlOnce();
      made = curl_multi_init();
      if (made == nullptr) error = "no multi handle";
    }
    std::vector<std::unique_ptr<Transfer>> refused;
    {
      std::lock_guard lock(mutex);
      if (made != nullptr) {
        multi = made;
        ready = true;
        return true;
      }
      unavailable = "libcurl cannot be used: " + error;
      refused.swap(incoming);
    }
    log(LogLevel::error, "HttpClient: " + unavailable);
    for (auto& t : refused) fail(std::move(t), HttpErrorKind::other, unavailable);
    return false;
  }

  static void deliver(std::unique_ptr<Transfer> transfer) {
    Executor* executor = transfer->executor;
    executor->post([completion = std::move(transfer->completion),
                    result = std::move(transfer->result)]() mutable { completion(std::move(result)); });
  }

  // libcurl sends header lines as given: a CR, LF or NUL inside a name or value would start another header
  // (or cut the line) on the wire.
  static bool headersAreSafe(const HttpHeaders& headers) {
    const auto unsafe = [](const std::string& text) {
      return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
    };
    for (const auto& [name, value] : headers.fields()) {
      if (name.empty() || unsafe(name) || unsafe(value) || name.find(':') != std::string::npos) return false;
    }
    return true;
  }

  static void fail(std::unique_ptr<Transfer> transfer, HttpErrorKind kind, std::string message) {
    transfer->result.error = HttpError{kind, std::move(message)};
    deliver(std::move(transfer));
  }

  // Sets every option of the transfer's current hop. Returns false when the easy handle cannot be made.
  bool configure(Transfer& t) {
    if (t.easy == nullptr) {
      t.easy = curl_easy_init();
      if (t.easy == nullptr) return false;
    } else {
      curl_easy_reset(t.easy);
    }
    if (t.headerList != nullptr) {
      curl_slist_free_all(t.headerList);
      t.headerList = nullptr;
    }
    CURL* e = t.easy;
    const HttpRequest& r = t.request;
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(t.deadline - Clock::now());

    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);  // the path goes out exactly as the caller formed it
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(1, remaining.count())));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorBuffer.data());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    t.attempts = 0;
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &onAttempt);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &t);
    if (!mayBeSentAgain(r.method)) {
      curl_easy_setopt(e, CURLOPT_MAXAGE_CONN, static_cast<long>(options.unrepeatableReuseMaxIdle.count()));
    }

    // Bodies arrive decoded. A caller's own Accept-Encoding names what is offered; libcurl then decodes it.
    const auto acceptEncoding = r.headers.get("Accept-Encoding");
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, acceptEncoding ? acceptEncoding->c_str() : "");

    if (r.method == "GET" && r.body.empty()) {
      curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (r.method == "HEAD") {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
      curl_easy_setopt(e, CURLOPT_POST, 1L);
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
      if (r.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    }

    bool hasExpect = false;
    for (const auto& [name, value] : r.headers.fields()) {
      if (HttpHeaders::sameName(name, "Accept-Encoding")) continue;
      if (HttpHeaders::sameName(name, "Expect")) hasExpect = true;
      // "Name;" is libcurl's way to send a header with an empty value.
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      t.headerList = curl_slist_append(t.headerList, line.c_str());
    }
    // Without this libcurl waits up to a second for "100 Continue" before sending larger bodies.
    if (!hasExpect) t.headerList = curl_slist_append(t.headerList, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headerList);
    return true;
  }

  void start(std::unique_ptr<Transfer> t) {
    if (t->request.cancel.isCancelled()) return fail(std::move(t), HttpErrorKind::cancelled, "cancelled");
    t->deadline = Clock::now() + t->request.timeout;
    t->originalURL = t->request.url;
    if (!headersAreSafe(t->request.headers)) {
      return fail(std::move(t), HttpErrorKind::other, "a header name or value holds a line break");
    }
    if (!isHttpURL(t->request.url)) {
      return fail(std::move(t), HttpErrorKind::badURL, "not an http or https URL: " + t->request.url);
    }
    if (!configure(*t)) return fail(std::move(t), HttpErrorKind::other, "cannot create a transfer");
    if (curl_multi_add_handle(multi, t->easy) != CURLM_OK) {
      return fail(std::move(t), HttpErrorKind::other, "cannot start a transfer");
    }
    active.push_back(std::move(t));
  }

  std::unique_ptr<Transfer> take(Transfer* raw) {
    auto it = std::find_if(active.begin(), active.end(), [&](const auto& p) { return p.get() == raw; });
    std::unique_ptr<Transfer> owned = std::move(*it);
    active.erase(it);
    curl_multi_remove_handle(multi, owned->easy);
    return owned;
  }

  enum class Hop { final, following, timedOut, tooManyRedirects, badURL, failed };

  // Starts the next hop when the reply is a redirect to follow.
  Hop followRedirect(Transfer& t) {
    if (!isRedirect(t.result.status) || t.request.maxRedirects <= 0) return Hop::final;
    // A redirect never turns a request into another one: a POST re-sent as a body-less GET would be
    // answered 200 while what it carried never arrived. 307 and 308 say that the same request may go to
    // the new place; 301, 302 and 303 do not, so only requests that change nothing follow them.
    if (!keepsMethodAndBody(t.result.status) && !mayBeSentAgain(t.request.method)) return Hop::final;
    char* location = nullptr;
    curl_easy_getinfo(t.easy, CURLINFO_REDIRECT_URL, &location);
    if (location == nullptr) return Hop::final;
    const std::string next = location;
    // Handing back the redirect as if it were the answer would pass a loop off as a success.
    if (t.redirects >= t.request.maxRedirects) return Hop::tooManyRedirects;
    if (!isHttpURL(next)) return Hop::badURL;
    if (Clock::now() >= t.deadline) return Hop::timedOut;

    ++t.redirects;
    HttpRequest& r = t.request;
    if (redirectLeavesHost(t.originalURL, next)) {
      for (const auto& name : r.stripOnCrossHostRedirect) r.headers.remove(name);
    }
    r.url = next;
    t.result = HttpResult();
    const bool started = configure(t) && curl_multi_add_handle(multi, t.easy) == CURLM_OK;
    return started ? Hop::following : Hop::failed;
  }

  void finish(Transfer* raw, CURLcode code) {
    std::unique_ptr<Transfer> t = take(raw);
    char* effective = nullptr;
    curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &effective);
    t->result.finalURL = effective != nullptr ? effective : t->request.url;
    if (code == CURLE_OK) {
      switch (followRedirect(*t)) {
        case Hop::final:
          return deliver(std::move(t));
        case Hop::following:
          active.push_back(std::move(t));
          return;
        case Hop::timedOut:
          return fail(std::move(t), HttpErrorKind::timedOut, "timed out before a redirect");
        case Hop::tooManyRedirects:
          return fail(std::move(t), HttpErrorKind::tooManyRedirects,
                      "more than " + std::to_string(t->request.maxRedirects) + " redirects");
        case Hop::badURL:
          return fail(std::move(t), HttpErrorKind::badURL,
                      "a redirect leads to a URL that is not http or https");
        case Hop::failed:
          return fail(std::move(t), HttpErrorKind::other, "cannot follow a redirect");
      }
    }
    if (code == CURLE_WRITE_ERROR && t->tooLarge) {
      return fail(std::move(t), HttpErrorKind::responseTooLarge,
                  "the reply body is larger than the " + std::to_string(t->request.maxResponseBytes) +
                      " bytes this request allows");
    }
    if (code == CURLE_ABORTED_BY_CALLBACK && t->refusedResend) {
      return fail(std::move(t), HttpErrorKind::connectionLost,
                  "the connection closed before a reply; the " + t->request.method + " is not sent again");
    }
    std::string message = t->errorBuffer[0] != '\0' ? t->errorBuffer.data() : curl_easy_strerror(code);
    long osErrno = 0;
    curl_easy_getinfo(t->easy, CURLINFO_OS_ERRNO, &osErrno);
    fail(std::move(t), kindOf(code, osErrno), std::move(message));
  }

  void run() {
    // Asynchronous signals belong to other threads; this one only moves bytes.
    sigset_t mask;
    sigfillset(&mask);
    for (int sync : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) sigdelset(&mask, sync);
    // Crash reports record this thread's stack through the capture signal.
    sigdelset(&mask, threadCaptureSignal());
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    if (!openLibcurl()) return;

    ThreadSignalStack signalStack;
    for (;;) {
      // A stack overflow here reaches the crash reporter, once it wants that.
      signalStack.ensure();
      std::vector<std::unique_ptr<Transfer>> fresh;
      bool stop = false;
      {
        std::lock_guard lock(mutex);
        fresh.swap(incoming);
        stop = stopping;
      }
      if (stop) {
        for (auto& t : fresh) fail(std::move(t), HttpErrorKind::cancelled, "the HTTP client was shut down");
        while (!active.empty()) {
          fail(take(active.back().get()), HttpErrorKind::cancelled, "the HTTP client was shut down");
        }
        return;
      }
      for (auto& t : fresh) start(std::move(t));

      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
        finish(t, msg->data.result);
      }
      // A transfer whose reply is complete has been delivered above; the rest end as cancelled.
      for (size_t i = 0; i < active.size();) {
        if (active[i]->request.cancel.isCancelled()) {
          fail(take(active[i].get()), HttpErrorKind::cancelled, "cancelled");
        } else {
          ++i;
        }
      }
      curl_multi_poll(multi, nullptr, 0, active.empty() ? kIdlePollMs : kCancelPollMs, nullptr);
    }
  }
};

bool redirectLeavesHost(const std::string& from, const std::string& to) {
  const auto host = hostOf(from);
  return !host || host != hostOf(to) || urlPart(from, CURLUPART_SCHEME) != urlPart(to, CURLUPART_SCHEME);
}

CurlHttpClient::CurlHttpClient(Options options) : options_(options) {}

CurlHttpClient::~CurlHttpClient() = default;

CurlHttpClient::Impl* CurlHttpClient::started() {
  std::call_once(start_, [this] { impl_ = std::make_unique<Impl>(options_); });
  return impl_.get();
}

void CurlHttpClient::send(HttpRequest request, Executor& executor, HttpCompletion completion) {
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->executor = &executor;
  transfer->completion = std::move(completion);
  Impl* impl = started();
  bool wake = false;
  std::string refusal;
  {
    std::lock_guard lock(impl->mutex);
    refusal = impl->unavailable;
    if (refusal.empty()) {
      impl->incoming.push_back(std::move(transfer));
      // Before then the worker takes what has come as soon as libcurl is open.
      wake = impl->ready;
    }
  }
  if (!refusal.empty()) return Impl::fail(std::move(transfer), HttpErrorKind::other, std::move(refusal));
  if (wake) curl_multi_wakeup(impl->multi);
}

}  // namespace platform
