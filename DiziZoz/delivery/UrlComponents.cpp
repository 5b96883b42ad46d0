#include "DiziZoz/delivery/UrlComponents.h"

#include <cctype>

namespace dizizoz {
namespace {

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// RFC 3986 pchar without the percent sign (sub-delims, ":" and "@"), plus the segment separator.
bool isPathCharacter(unsigned char c) {
  static constexpr std::string_view others = "!$&'()*+,;=:@/";
  return isUnreserved(c) || others.find(static_cast<char>(c)) != std::string_view::npos;
}

void appendEscaped(std::string& out, unsigned char c) {
  static constexpr char hex[] = "0123456789ABCDEF";
  out += '%';
  out += hex[c >> 4];
  out += hex[c & 0x0F];
}

std::string encodedQueryPart(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c)) {
      out += ch;
    } else {
      appendEscaped(out, c);
    }
  }
  return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::optional<UrlComponents> UrlComponents::parse(std::string_view text) {
  const auto schemeEnd = text.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  UrlComponents parts;
  parts.scheme = std::string(text.substr(0, schemeEnd));
  if (!equalsIgnoringCase(parts.scheme, "http") && !equalsIgnoringCase(parts.scheme, "https")) {
    return std::nullopt;
  }
  std::string_view rest = text.substr(schemeEnd + 3);
  const auto authorityEnd = rest.find_first_of("/?#");
  const std::string_view authority = rest.substr(0, authorityEnd);
  rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

  std::string_view host = authority;
  if (const auto at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
  if (host.starts_with('[')) {
    const auto close = host.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = host.substr(1, close - 1);
  } else if (const auto colon = host.find(':'); colon != std::string_view::npos) {
    host = host.substr(0, colon);
  }
  if (host.empty()) return std::nullopt;
  parts.authority = std::string(authority);
  parts.host = std::string(host);

  if (const auto hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
  const auto question = rest.find('?');
  parts.path = std::string(rest.substr(0, question));
  if (question != std::string_view::npos) parts.query = std::string(rest.substr(question + 1));
  return parts;
}

std::string UrlComponents::string() const {
  std::string out = scheme + "://" + authority + path;
  if (query) out += "?" + *query;
  return out;
}

std::optional<std::string> hostOf(std::string_view url) {
  auto parts = UrlComponents::parse(url);
  if (!parts) return std::nullopt;
  return std::move(parts->host);
}

std::string percentEncodedPath(std::string_view path, bool keepSlashes) {
  std::string out;
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (isPathCharacter(c) && (keepSlashes || c != '/')) {
      out += ch;
    } else {
      appendEscaped(out, c);
    }
  }
  return out;
}

std::string encodedQuery(const std::vector<std::pair<std::string, std::string>>& items) {
  std::string out;
  for (const auto& [name, value] : items) {
    if (!out.empty()) out += '&';
    out += encodedQueryPart(name) + "=" + encodedQueryPart(value);
  }
  return out;
}

}  // namespace dizizoz
