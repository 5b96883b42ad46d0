#include "platform/linux/LibsecretSecretStore.h"

#include <libsecret/secret.h>

#include <functional>

#include "platform/Log.h"

namespace platform {
namespace {

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
  bool done = false;
  bool abandoned = false;
  GError* error = nullptr;
  bool found = false;            // reads
  bool locked = false;           // reads
  SecretValue* value = nullptr;  // reads
  gboolean removed = FALSE;      // clears
  std::function<void(GAsyncResult*, Call&)> finish;

  ~Call() {
    if (error) g_error_free(error);
    if (value) secret_value_unref(value);
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
  GCancellable* cancellable;
  bool timedOut = false;
  bool givenUp = false;
};

// Starts the call on a private main context and runs that context until the call ends or the deadline
// passes. Returns the finished call (owned by the caller) or nullptr when it had to be abandoned.
Call* runCall(std::chrono::milliseconds timeout, std::function<void(GAsyncResult*, Call&)> finish,
              const std::function<void(GCancellable*, GAsyncReadyCallback, gpointer)>& start,
              bool& timedOut) {
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GCancellable* cancellable = g_cancellable_new();
  auto* call = new Call;
  call->finish = std::move(finish);
  Deadline deadline{cancellable};

  const auto ms = static_cast<guint>(timeout.count() < 0 ? 0 : timeout.count());
  GSource* cancelTimer = g_timeout_source_new(ms);
  g_source_set_callback(
      cancelTimer,
      [](gpointer data) -> gboolean {
        auto* d = static_cast<Deadline*>(data);
        d->timedOut = true;
        g_cancellable_cancel(d->cancellable);
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
  g_object_unref(cancellable);
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
Call* runSearch(std::chrono::milliseconds timeout, const std::string& service, const std::string& account,
                bool loadSecret, bool& timedOut) {
  GHashTable* attributes =
      secret_attributes_build(schema(), "service", service.c_str(), "account", account.c_str(), nullptr);
  const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                                    (loadSecret ? SECRET_SEARCH_LOAD_SECRETS : 0));
  Call* call = runCall(
      timeout,
      [loadSecret](GAsyncResult* result, Call& c) {
        GList* items = secret_service_search_finish(nullptr, result, &c.error);
        for (GList* at = items; at != nullptr; at = at->next) {
          auto* item = static_cast<SecretItem*>(at->data);
          c.found = true;
          if (secret_item_get_locked(item)) {
            c.locked = true;
          } else if (loadSecret && c.value == nullptr) {
            c.value = secret_item_get_secret(item);
          }
        }
        g_list_free_full(items, g_object_unref);
      },
      [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        secret_service_search(nullptr, schema(), attributes, flags, cancellable, callback, data);
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

LibsecretSecretStore::LibsecretSecretStore(std::chrono::milliseconds timeout) : timeout_(timeout) {}

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
  bool timedOut = false;
  Call* call = runSearch(timeout_, std::string(service), std::string(account), true, timedOut);
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
    const gchar* bytes = secret_value_get(call->value, &length);
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
  const std::string s(service), a(account);
  const std::string label = s + " (" + a + ")";
  SecretValue* secret = secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain");
  bool timedOut = false;
  Call* call = runCall(
      timeout_, [](GAsyncResult* result, Call& c) { secret_password_store_finish(result, &c.error); },
      [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        secret_password_store_binary(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), secret, cancellable,
                                     callback, data, "service", s.c_str(), "account", a.c_str(), nullptr);
      },
      timedOut);
  secret_value_unref(secret);
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
  const std::string s(service), a(account);
  bool timedOut = false;
  Call* found = runSearch(timeout_, s, a, false, timedOut);
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
  Call* call = runCall(
      timeout_,
      [](GAsyncResult* result, Call& c) { c.removed = secret_password_clear_finish(result, &c.error); },
      [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        secret_password_clear(schema(), cancellable, callback, data, "service", s.c_str(), "account",
                              a.c_str(), nullptr);
      },
      timedOut);
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
