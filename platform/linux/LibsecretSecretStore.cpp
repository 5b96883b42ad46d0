#include "platform/linux/LibsecretSecretStore.h"

#include <libsecret/secret.h>

#include <functional>
#include <optional>

#include "platform/Log.h"
#include "platform/linux/SharedLibrary.h"

namespace platform {

// The functions of libsecret, and of the GIO and GObject it brings, that the store calls. GLib's own are
// called directly: the toolkit's event loop has it loaded anyway.
struct LibsecretSecretStore::Api {
  decltype(&::secret_service_search) service_search;
  decltype(&::secret_service_search_finish) service_search_finish;
  decltype(&::secret_item_get_locked) item_get_locked;
  decltype(&::secret_item_get_secret) item_get_secret;
  decltype(&::secret_value_new) value_new;
  decltype(&::secret_value_get) value_get;
  decltype(&::secret_value_unref) value_unref;
  decltype(&::secret_password_storev_binary) password_storev_binary;
  decltype(&::secret_password_store_finish) password_store_finish;
  decltype(&::secret_password_clearv) password_clearv;
  decltype(&::secret_password_clear_finish) password_clear_finish;
  decltype(&::g_cancellable_new) cancellable_new;
  decltype(&::g_cancellable_cancel) cancellable_cancel;
  decltype(&::g_object_unref) object_unref;
};

namespace {

using Api = LibsecretSecretStore::Api;

template <class F>
bool bind(const SharedLibrary& library, const char* name, F& function, std::string& error) {
  function = reinterpret_cast<F>(library.symbol(name, error));
  return function != nullptr;
}

// Opens `path` and finds every function; nothing, with `error` saying why, when that fails.
std::optional<Api> load(const std::string& path, std::string& error) {
  const auto library = SharedLibrary::open(path, error);
  if (!library) return std::nullopt;
  const SharedLibrary& l = *library;
  Api a{};
  const bool complete = bind(l, "secret_service_search", a.service_search, error) &&
                        bind(l, "secret_service_search_finish", a.service_search_finish, error) &&
                        bind(l, "secret_item_get_locked", a.item_get_locked, error) &&
                        bind(l, "secret_item_get_secret", a.item_get_secret, error) &&
                        bind(l, "secret_value_new", a.value_new, error) &&
                        bind(l, "secret_value_get", a.value_get, error) &&
                        bind(l, "secret_value_unref", a.value_unref, error) &&
                        bind(l, "secret_password_storev_binary", a.password_storev_binary, error) &&
                        bind(l, "secret_password_store_finish", a.password_store_finish, error) &&
                        bind(l, "secret_password_clearv", a.password_clearv, error) &&
                        bind(l, "secret_password_clear_finish", a.password_clear_finish, error) &&
                        bind(l, "g_cancellable_new", a.cancellable_new, error) &&
                        bind(l, "g_cancellable_cancel", a.cancellable_cancel, error) &&
                        bind(l, "g_object_unref", a.object_unref, error);
  if (!complete) return std::nullopt;
  return a;
}

// The item's attributes, as libsecret's builder makes them (strings owned by the table).
GHashTable* attributesOf(const std::string& service, const std::string& account) {
  GHashTable* attributes = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
  g_hash_table_insert(attributes, g_strdup("service"), g_strdup(service.c_str()));
  g_hash_table_insert(attributes, g_strdup("account"), g_strdup(account.c_str()));
  return attributes;
}

const SecretSchema* schema() {
  static const SecretSchema kSchema = {"com.quorvelle.GenericPassword",
                                       SECRET_SCHEMA_NONE,
                                       {
                                           {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       },
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};
  return &kSchema;
}

// After a time-out the cancelled call normally ends at once; a daemon that stopped answering may not even
// acknowledge the cancellation, so the wait ends for good this much later.
constexpr guint kCancelGraceMs = 1000;

// One asynchronous libsecret call. It lives on the heap because a call that never acknowledges its
// cancellation is abandoned, and its completion (if it ever comes) must still find it.
struct Call {
  const Api& api;
  bool done = false;
  bool abandoned = false;
  GError* error = nullptr;
  bool found = false;            // reads
  bool locked = false;           // reads
  SecretValue* value = nullptr;  // reads
  gboolean removed = FALSE;      // clears
  std::function<void(GAsyncResult*, Call&)> finish;

  explicit Call(const Api& a) : api(a) {}
  ~Call() {
    if (error) g_error_free(error);
    if (value) api.value_unref(value);
  }
};

void onFinished(GObject*, GAsyncResult* result, gpointer data) {
  auto* call = static_cast<Call*>(data);
  call->finish(result, *call);
  call->done = true;
  if (call->abandoned) delete call;
}

// UTF-8 validation that, like the decoders of other platforms, accepts U+0000 (GLib's stops at it).
bool isUtf8(const gchar* bytes, gsize length) {
  gsize start = 0;
  for (gsize i = 0; i <= length; ++i) {
    if (i == length || bytes[i] == '\0') {
      if (!g_utf8_validate(bytes + start, static_cast<gssize>(i - start), nullptr)) return false;
      start = i + 1;
    }
  }
  return true;
}

struct Deadline {
  const Api& api;
  GCancellable* cancellable;
  bool timedOut = false;
  bool givenUp = false;
};

// Starts the call on a private main context and runs that context until the call ends or the deadline
// passes. Returns the finished call (owned by the caller) or nullptr when it had to be abandoned.
Call* runCall(const Api& api, std::chrono::milliseconds timeout,
              std::function<void(GAsyncResult*, Call&)> finish,
              const std::function<void(GCancellable*, GAsyncReadyCallback, gpointer)>& start,
              bool& timedOut) {
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GCancellable* cancellable = api.cancellable_new();
  auto* call = new Call(api);
  call->finish = std::move(finish);
  Deadline deadline{api, cancellable};

  const auto ms = static_cast<guint>(timeout.count() < 0 ? 0 : timeout.count());
  GSource* cancelTimer = g_timeout_source_new(ms);
  g_source_set_callback(
      cancelTimer,
      [](gpointer data) -> gboolean {
        auto* d = static_cast<Deadline*>(data);
        d->timedOut = true;
        d->api.cancellable_cancel(d->cancellable);
        return G_SOURCE_REMOVE;
      },
      &deadline, nullptr);
  g_source_attach(cancelTimer, context);
  GSource* giveUpTimer = g_timeout_source_new(ms + kCancelGraceMs);
  g_source_set_callback(
      giveUpTimer,
      [](gpointer data) -> gboolean {
        static_cast<Deadline*>(data)->givenUp = true;
        return G_SOURCE_REMOVE;
      },
      &deadline, nullptr);
  g_source_attach(giveUpTimer, context);

  start(cancellable, onFinished, call);
  while (!call->done && !deadline.givenUp) g_main_context_iteration(context, TRUE);

  g_source_destroy(cancelTimer);
  g_source_unref(cancelTimer);
  g_source_destroy(giveUpTimer);
  g_source_unref(giveUpTimer);
  g_main_context_pop_thread_default(context);
  api.object_unref(cancellable);
  g_main_context_unref(context);

  timedOut = deadline.timedOut;
  if (!call->done) {
    call->abandoned = true;  // freed by its completion, if that ever runs
    return nullptr;
  }
  return call;
}

// Looks the item up with a search rather than the simple lookup or clear: those skip an item they could
// not unlock, which would tell the caller that no key is stored (or that there was nothing to delete).
Call* runSearch(const Api& api, std::chrono::milliseconds timeout, const std::string& service,
                const std::string& account, bool loadSecret, bool& timedOut) {
  GHashTable* attributes = attributesOf(service, account);
  const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                                    (loadSecret ? SECRET_SEARCH_LOAD_SECRETS : 0));
  Call* call = runCall(
      api, timeout,
      [loadSecret](GAsyncResult* result, Call& c) {
        GList* items = c.api.service_search_finish(nullptr, result, &c.error);
        for (GList* at = items; at != nullptr; at = at->next) {
          auto* item = static_cast<SecretItem*>(at->data);
          c.found = true;
          if (c.api.item_get_locked(item)) {
            c.locked = true;
          } else if (loadSecret && c.value == nullptr) {
            c.value = c.api.item_get_secret(item);
          }
        }
        g_list_free_full(items, c.api.object_unref);
      },
      [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        api.service_search(nullptr, schema(), attributes, flags, cancellable, callback, data);
      },
      timedOut);
  g_hash_table_unref(attributes);
  return call;
}

std::string describe(const Call* call, bool timedOut) {
  if (timedOut) return "no answer from the secret service in time";
  if (call == nullptr) return "the secret service did not answer";
  if (call->error != nullptr) return call->error->message;
  return "unknown error";
}

}  // namespace

LibsecretSecretStore::LibsecretSecretStore(std::chrono::milliseconds timeout, std::string library)
    : timeout_(timeout), library_(std::move(library)) {}

LibsecretSecretStore::~LibsecretSecretStore() = default;

const LibsecretSecretStore::Api* LibsecretSecretStore::api() {
  if (!opened_) {
    opened_ = true;
    std::string error;
    if (auto loaded = load(library_, error)) {
      api_ = std::make_unique<Api>(*loaded);
    } else {
      log(LogLevel::error, "secret store: the keyring cannot be used: " + error);
    }
  }
  return api_.get();
}

void LibsecretSecretStore::noteSuccess() {
  failing_ = false;
}

void LibsecretSecretStore::noteFailure(std::string_view operation, const std::string& reason) {
  if (failing_) return;
  failing_ = true;
  log(LogLevel::warning, "secret store: " + std::string(operation) + " failed: " + reason);
}

SecretReadResult LibsecretSecretStore::read(std::string_view service, std::string_view account) {
  std::lock_guard lock(callMutex_);
  const Api* const a = api();
  if (a == nullptr) return {SecretStatus::unavailable, {}};
  bool timedOut = false;
  Call* call = runSearch(*a, timeout_, std::string(service), std::string(account), true, timedOut);
  SecretReadResult result{SecretStatus::failed, {}};
  if (call == nullptr || call->error != nullptr) {
    noteFailure("read", describe(call, timedOut));
  } else if (!call->found) {
    noteSuccess();
    result.status = SecretStatus::notFound;
  } else if (call->locked) {
    noteFailure("read", "the keyring is locked");
  } else if (call->value == nullptr) {
    noteFailure("read", "the secret service gave no value");
  } else {
    gsize length = 0;
    const gchar* bytes = a->value_get(call->value, &length);
    if (isUtf8(bytes, length)) {
      noteSuccess();
      result = {SecretStatus::ok, std::string(bytes, length)};
    } else {
      noteFailure("read", "the stored value is not UTF-8 text");
    }
  }
  delete call;
  return result;
}

SecretStatus LibsecretSecretStore::write(std::string_view service, std::string_view account,
                                         std::string_view value) {
  std::lock_guard lock(callMutex_);
  const Api* const lib = api();
  if (lib == nullptr) return SecretStatus::unavailable;
  const std::string s(service), a(account);
  const std::string label = s + " (" + a + ")";
  SecretValue* secret = lib->value_new(value.data(), static_cast<gssize>(value.size()), "text/plain");
  GHashTable* attributes = attributesOf(s, a);
  bool timedOut = false;
  Call* call = runCall(
      *lib, timeout_, [](GAsyncResult* result, Call& c) { c.api.password_store_finish(result, &c.error); },
      [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        lib->password_storev_binary(schema(), attributes, SECRET_COLLECTION_DEFAULT, label.c_str(), secret,
                                    cancellable, callback, data);
      },
      timedOut);
  g_hash_table_unref(attributes);
  lib->value_unref(secret);
  SecretStatus status = SecretStatus::failed;
  if (call == nullptr || call->error != nullptr) {
    noteFailure("write", describe(call, timedOut));
  } else {
    noteSuccess();
    status = SecretStatus::ok;
  }
  delete call;
  return status;
}

SecretStatus LibsecretSecretStore::remove(std::string_view service, std::string_view account) {
  std::lock_guard lock(callMutex_);
  const Api* const lib = api();
  if (lib == nullptr) return SecretStatus::unavailable;
  const std::string s(service), a(account);
  bool timedOut = false;
  Call* found = runSearch(*lib, timeout_, s, a, false, timedOut);
  if (found == nullptr || found->error != nullptr || found->locked) {
    noteFailure("remove", found != nullptr && found->error == nullptr ? "the keyring is locked"
                                                                      : describe(found, timedOut));
    delete found;
    return SecretStatus::failed;
  }
  const bool exists = found->found;
  delete found;
  if (!exists) {
    noteSuccess();
    return SecretStatus::notFound;
  }
  GHashTable* attributes = attributesOf(s, a);
  Call* call = runCall(
      *lib, timeout_,
      [](GAsyncResult* result, Call& c) { c.removed = c.api.password_clear_finish(result, &c.error); },
      [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        lib->password_clearv(schema(), attributes, cancellable, callback, data);
      },
      timedOut);
  g_hash_table_unref(attributes);
  SecretStatus status = SecretStatus::failed;
  if (call == nullptr || call->error != nullptr) {
    noteFailure("remove", describe(call, timedOut));
  } else {
    noteSuccess();
    status = call->removed ? SecretStatus::ok : SecretStatus::notFound;
  }
  delete call;
  return status;
}

}  // namespace platform
