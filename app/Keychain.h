#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/Executor.h"
#include "platform/SecretStore.h"
#include "platform/SerialQueue.h"

namespace quorvelle {

// Generic passwords of the user's keyring, addressed by service and account. Nothing is cached, so every
// read sees the latest save or delete.
//
// The keyring answers over D-Bus and may take seconds (a hung Secret Service, an unlock prompt) until
// the store gives up: every call therefore runs on `worker`, one at a time and in order, and the caller
// never waits. A read tells a missing item from a keyring that failed or did not answer, so that nobody
// is sent to enter a key that is stored. A save or delete tells its outcome to the caller that asks
// (`completion`): a window must not show a key as stored that the keyring refused.
//
// Call from any thread; read and write completions run on `completions`. The store, the worker and the
// executor must outlive the object and every call still under way (destroy the worker first).
class Keychain {
 public:
  // `result.status`: ok (with the stored text, possibly empty), notFound, or failed.
  using ReadCompletion = std::function<void(platform::SecretReadResult result)>;
  // The outcome of a save or delete: ok, notFound (delete of a missing item), or failed.
  using WriteCompletion = std::function<void(platform::SecretStatus status)>;

  Keychain(platform::SecretStore& store, platform::SerialQueue& worker, platform::Executor& completions)
      : store_(store), worker_(worker), completions_(completions) {}

  void read(std::string_view service, std::string_view account, ReadCompletion completion) const;
  // Adds the item or replaces the value of the existing one.
  void save(std::string_view value, std::string_view service, std::string_view account,
            WriteCompletion completion = {}) const;
  // Removing a missing item does nothing (notFound).
  void remove(std::string_view service, std::string_view account, WriteCompletion completion = {}) const;

 private:
  platform::SecretStore& store_;
  platform::SerialQueue& worker_;
  platform::Executor& completions_;
};

}  // namespace quorvelle
