#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/SecretStore.h"

namespace platform {

// SecretStore over the desktop's Secret Service (gnome-keyring, KWallet) through libsecret. Items carry
// the attributes "service" and "account" under the schema "com.quorvelle.GenericPassword" and are stored
// in the default collection.
//
// Every call runs libsecret's asynchronous API on a private main context with a cancellable and gives up
// after `timeout`: a locked keyring on a desktop would otherwise wait on a password prompt for as long as
// the user ignores it, and a synchronous call would hang the caller. No Secret Service (no session bus,
// no daemon), a locked collection, a refused prompt, a time-out and a stored value that is not UTF-8 text
// all answer `failed`; the first failure after a success is logged, repeats are not.
//
// An item that stays locked counts as a failure, never as a missing item: reads and removals search for
// it first rather than letting libsecret skip it silently.
//
// libsecret is not linked: the first call opens it (with GIO and libgcrypt, which it brings), so the
// program starts without them and loads them with its first keyring call. A library that cannot be
// opened, or lacks a function, makes every call answer `unavailable` (logged once, with the loader's
// reason); nothing else changes.
//
// Calls block the calling thread (a removal, two steps, at most about twice `timeout`) and are
// serialised; any thread may call.
class LibsecretSecretStore final : public SecretStore {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{5000};
  static constexpr const char* kLibrary = "libsecret-1.so.0";

  // `library` is what is opened with the first call (a bare file name is looked up as the dynamic loader
  // would).
  explicit LibsecretSecretStore(std::chrono::milliseconds timeout = kDefaultTimeout,
                                std::string library = kLibrary);
  ~LibsecretSecretStore() override;

  SecretReadResult read(std::string_view service, std::string_view account) override;
  SecretStatus write(std::string_view service, std::string_view account, std::string_view value) override;
  SecretStatus remove(std::string_view service, std::string_view account) override;

  // The functions of the opened library (defined where they are called).
  struct Api;

 private:
  // The library's functions, opened by the first call; null when it cannot be used (logged once).
  const Api* api();
  void noteSuccess();
  void noteFailure(std::string_view operation, const std::string& reason);

  std::chrono::milliseconds timeout_;
  const std::string library_;
  std::mutex callMutex_;      // one call at a time
  bool failing_ = false;      // guarded by callMutex_
  bool opened_ = false;       // guarded by callMutex_: the library was tried
  std::unique_ptr<Api> api_;  // guarded by callMutex_; null until opened, and when it cannot be
};

}  // namespace platform
