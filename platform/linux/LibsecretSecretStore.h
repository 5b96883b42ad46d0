#pragma once

#include <chrono>
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
// Calls block the calling thread (a removal, two steps, at most about twice `timeout`) and are
// serialised; any thread may call.
class LibsecretSecretStore final : public SecretStore {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

  explicit LibsecretSecretStore(std::chrono::milliseconds timeout = kDefaultTimeout);

  SecretReadResult read(std::string_view service, std::string_view account) override;
  SecretStatus write(std::string_view service, std::string_view account, std::string_view value) override;
  SecretStatus remove(std::string_view service, std::string_view account) override;

 private:
  void noteSuccess();
  void noteFailure(std::string_view operation, const std::string& reason);

  std::chrono::milliseconds timeout_;
  std::mutex callMutex_;  // one call at a time
  bool failing_ = false;  // guarded by callMutex_
};

}  // namespace platform
