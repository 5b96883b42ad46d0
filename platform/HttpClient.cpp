#include "platform/HttpClient.h"

#include <algorithm>
#include <cctype>

namespace platform {

HttpHeaders::HttpHeaders(std::initializer_list<std::pair<std::string, std::string>> fields) {
  for (const auto& [name, value] : fields) set(name, value);
}

bool HttpHeaders::sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

void HttpHeaders::set(std::string name, std::string value) {
  remove(name);
  fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::add(std::string name, std::string value) {
  fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::remove(std::string_view name) {
  std::erase_if(fields_, [&](const auto& field) { return sameName(field.first, name); });
}

std::optional<std::string> HttpHeaders::get(std::string_view name) const {
  for (const auto& [key, value] : fields_) {
    if (sameName(key, name)) return value;
  }
  return std::nullopt;
}

const char* toString(HttpErrorKind kind) {
  switch (kind) {
    case HttpErrorKind::timedOut:
      return "timed out";
    case HttpErrorKind::cannotConnect:
      return "cannot connect";
    case HttpErrorKind::hostNotFound:
      return "host not found";
    case HttpErrorKind::connectionLost:
      return "connection lost";
    case HttpErrorKind::tls:
      return "TLS failure";
    case HttpErrorKind::cancelled:
      return "cancelled";
    case HttpErrorKind::responseTooLarge:
      return "response too large";
    case HttpErrorKind::tooManyRedirects:
      return "too many redirects";
    case HttpErrorKind::badURL:
      return "bad URL";
    case HttpErrorKind::badResponse:
      return "bad response";
    case HttpErrorKind::other:
      return "other";
  }
  return "other";
}

}  // namespace platform
