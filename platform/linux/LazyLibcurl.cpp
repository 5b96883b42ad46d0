// The libcurl functions this tree calls, each forwarding to libcurl once it is opened (Libcurl.h).
// A function of libcurl called elsewhere and missing here fails to link: add it below.
#define CURL_DISABLE_TYPECHECK  // the checks are macros over the very names defined here
#include <curl/curl.h>

#include <cstdarg>
#include <mutex>
#include <optional>

#include "platform/linux/Libcurl.h"
#include "platform/linux/SharedLibrary.h"

namespace platform::libcurl {
namespace {

constexpr const char* kLibrary = "libcurl.so.4";

struct Api {
  decltype(&::curl_global_init) global_init;
  decltype(&::curl_free) free;
  decltype(&::curl_slist_append) slist_append;
  decltype(&::curl_slist_free_all) slist_free_all;
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_reset) easy_reset;
  decltype(&::curl_easy_cleanup) easy_cleanup;
  decltype(&::curl_easy_setopt) easy_setopt;
  decltype(&::curl_easy_getinfo) easy_getinfo;
  decltype(&::curl_easy_strerror) easy_strerror;
  decltype(&::curl_multi_init) multi_init;
  decltype(&::curl_multi_cleanup) multi_cleanup;
  decltype(&::curl_multi_add_handle) multi_add_handle;
  decltype(&::curl_multi_remove_handle) multi_remove_handle;
  decltype(&::curl_multi_perform) multi_perform;
  decltype(&::curl_multi_poll) multi_poll;
  decltype(&::curl_multi_wakeup) multi_wakeup;
  decltype(&::curl_multi_info_read) multi_info_read;
  decltype(&::curl_url) url;
  decltype(&::curl_url_cleanup) url_cleanup;
  decltype(&::curl_url_get) url_get;
  decltype(&::curl_url_set) url_set;
};

struct Loaded {
  std::optional<Api> api;
  std::string error;
};

template <class F>
bool bind(const SharedLibrary& library, const char* name, F& function, std::string& error) {
  function = reinterpret_cast<F>(library.symbol(name, error));
  return function != nullptr;
}

Loaded load() {
  Loaded loaded;
  const auto library = SharedLibrary::open(kLibrary, loaded.error);
  if (!library) return loaded;
  Api a{};
  std::string& e = loaded.error;
  const bool complete =
      bind(*library, "curl_global_init", a.global_init, e) && bind(*library, "curl_free", a.free, e) &&
      bind(*library, "curl_slist_append", a.slist_append, e) &&
      bind(*library, "curl_slist_free_all", a.slist_free_all, e) &&
      bind(*library, "curl_easy_init", a.easy_init, e) &&
      bind(*library, "curl_easy_reset", a.easy_reset, e) &&
      bind(*library, "curl_easy_cleanup", a.easy_cleanup, e) &&
      bind(*library, "curl_easy_setopt", a.easy_setopt, e) &&
      bind(*library, "curl_easy_getinfo", a.easy_getinfo, e) &&
      bind(*library, "curl_easy_strerror", a.easy_strerror, e) &&
      bind(*library, "curl_multi_init", a.multi_init, e) &&
      bind(*library, "curl_multi_cleanup", a.multi_cleanup, e) &&
      bind(*library, "curl_multi_add_handle", a.multi_add_handle, e) &&
      bind(*library, "curl_multi_remove_handle", a.multi_remove_handle, e) &&
      bind(*library, "curl_multi_perform", a.multi_perform, e) &&
      bind(*library, "curl_multi_poll", a.multi_poll, e) &&
      bind(*library, "curl_multi_wakeup", a.multi_wakeup, e) &&
      bind(*library, "curl_multi_info_read", a.multi_info_read, e) && bind(*library, "curl_url", a.url, e) &&
      bind(*library, "curl_url_cleanup", a.url_cleanup, e) && bind(*library, "curl_url_get", a.url_get, e) &&
      bind(*library, "curl_url_set", a.url_set, e);
  if (complete) loaded.api = a;
  return loaded;
}

const Loaded& loaded() {
  static const Loaded instance = load();
  return instance;
}

const Api* api() {
  const auto& l = loaded();
  return l.api ? &*l.api : nullptr;
}

}  // namespace

bool open(std::string& error) {
  if (api() != nullptr) return true;
  error = loaded().error;
  return false;
}

}  // namespace platform::libcurl

using platform::libcurl::api;

CURLcode curl_global_init(long flags) {
  return api() ? api()->global_init(flags) : CURLE_FAILED_INIT;
}

void curl_free(void* p) {
  if (api()) api()->free(p);
}

curl_slist* curl_slist_append(curl_slist* list, const char* data) {
  return api() ? api()->slist_append(list, data) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
  if (api()) api()->slist_free_all(list);
}

CURL* curl_easy_init() {
  return api() ? api()->easy_init() : nullptr;
}

void curl_easy_reset(CURL* handle) {
  if (api()) api()->easy_reset(handle);
}

void curl_easy_cleanup(CURL* handle) {
  if (api()) api()->easy_cleanup(handle);
}

// The one argument after the option has the type that the option's number range names.
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  if (!api()) return CURLE_FAILED_INIT;
  const auto setopt = api()->easy_setopt;
  va_list args;
  va_start(args, option);
  CURLcode result;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    result = setopt(handle, option, va_arg(args, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    result = setopt(handle, option, va_arg(args, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    result = setopt(handle, option, va_arg(args, void (*)()));
  } else if (option < CURLOPTTYPE_BLOB) {
    result = setopt(handle, option, va_arg(args, curl_off_t));
  } else {
    result = setopt(handle, option, va_arg(args, void*));
  }
  va_end(args);
  return result;
}

// Every piece of information is written through a pointer.
CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
  if (!api()) return CURLE_FAILED_INIT;
  va_list args;
  va_start(args, info);
  const CURLcode result = api()->easy_getinfo(handle, info, va_arg(args, void*));
  va_end(args);
  return result;
}

const char* curl_easy_strerror(CURLcode code) {
  return api() ? api()->easy_strerror(code) : "libcurl is not available";
}

CURLM* curl_multi_init() {
  return api() ? api()->multi_init() : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
  return api() ? api()->multi_cleanup(multi) : CURLM_INTERNAL_ERROR;
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* handle) {
  return api() ? api()->multi_add_handle(multi, handle) : CURLM_INTERNAL_ERROR;
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* handle) {
  return api() ? api()->multi_remove_handle(multi, handle) : CURLM_INTERNAL_ERROR;
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
  return api() ? api()->multi_perform(multi, running) : CURLM_INTERNAL_ERROR;
}

CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd extra[], unsigned int count, int timeoutMs, int* ready) {
  return api() ? api()->multi_poll(multi, extra, count, timeoutMs, ready) : CURLM_INTERNAL_ERROR;
}

CURLMcode curl_multi_wakeup(CURLM* multi) {
  return api() ? api()->multi_wakeup(multi) : CURLM_INTERNAL_ERROR;
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* left) {
  return api() ? api()->multi_info_read(multi, left) : nullptr;
}

CURLU* curl_url() {
  return api() ? api()->url() : nullptr;
}

void curl_url_cleanup(CURLU* url) {
  if (api()) api()->url_cleanup(url);
}

CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** out, unsigned int flags) {
  return api() ? api()->url_get(url, part, out, flags) : CURLUE_OUT_OF_MEMORY;
}

CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* content, unsigned int flags) {
  return api() ? api()->url_set(url, part, content, flags) : CURLUE_OUT_OF_MEMORY;
}
