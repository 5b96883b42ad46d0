#include "app/Keychain.h"

#include <utility>

namespace quorvelle {

void Keychain::read(std::string_view service, std::string_view account, ReadCompletion completion) const {
  worker_.async([&store = store_, &completions = completions_, service = std::string(service),
                 account = std::string(account), completion = std::move(completion)]() mutable {
    completions.post([result = store.read(service, account), completion = std::move(completion)]() mutable {
      completion(std::move(result));
    });
  });
}

void Keychain::save(std::string_view value, std::string_view service, std::string_view account) const {
  worker_.async([&store = store_, value = std::string(value), service = std::string(service),
                 account = std::string(account)] { store.write(service, account, value); });
}

void Keychain::remove(std::string_view service, std::string_view account) const {
  worker_.async([&store = store_, service = std::string(service), account = std::string(account)] {
    store.remove(service, account);
  });
}

}  // namespace quorvelle
