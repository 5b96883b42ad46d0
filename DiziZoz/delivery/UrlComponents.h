#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dizizoz {

// An absolute http(s) address taken apart, the way the service client builds its request addresses from
// the configured host. Parts keep the text as written (already percent-encoded); nothing is lower-cased.
// A plain value; any thread.
struct UrlComponents {
  std::string scheme;                // "https"
  std::string authority;             // "user@host:port", as written
  std::string host;                  // the host alone: no user, no port, no brackets around an IPv6 literal
  std::string path;                  // "" or "/..."
  std::optional<std::string> query;  // without the "?"

  // Nothing for text that is not an absolute http or https address with a host.
  static std::optional<UrlComponents> parse(std::string_view text);

  // The address again; the fragment of the parsed text is never kept.
  std::string string() const;
};

// The host part of an address, or nothing when it has none.
std::optional<std::string> hostOf(std::string_view url);

// Percent-encodes every byte that may not stand in a path as it is, "%" included: the text is a plain
// path, not an encoded one. Slashes are kept, or encoded too when the text is one path segment.
std::string percentEncodedPath(std::string_view path, bool keepSlashes = true);

// "name=value&..." with everything but unreserved characters percent-encoded; "" for no items.
std::string encodedQuery(const std::vector<std::pair<std::string, std::string>>& items);

}  // namespace dizizoz
