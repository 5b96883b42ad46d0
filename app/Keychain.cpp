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

void Keychain::save(std::string_view value, std::string_view service, std::string_view account,
                    WriteCompletion completion) const {
  worker_.async([&store = store_, &completions = completions_, value = std::string(value),
                 service = std::string(service), account = std::string(account),
                 completion = std::move(completion)]() mutable {
    const auto status = store.write(service, account, value);
    if (completion) completions.post([status, completion = std::move(completion)] { completion(status); });
  });
}

void Keychain::remove(std::string_view service, std::string_view account, WriteCompletion completion) const {
  worker_.async([&store = store_, &completions = completions_, service = std::string(service),
                 account = std::string(account), completion = std::move(completion)]() mutable {
    const auto status = store.remove(service, account);
    if (completion) completions.post([status, completion = std::move(completion)] { completion(status); });
  });
}

}  // namespace quorvelle
