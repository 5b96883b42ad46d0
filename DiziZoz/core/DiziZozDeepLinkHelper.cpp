#include "DiziZoz/core/DiziZozDeepLinkHelper.h"

#include <curl/curl.h>

#include <memory>

namespace dizizoz {
namespace {

// The host of `text` read as an absolute address of any scheme; nothing when it does not parse or names
// no host. libcurl is asked not to guess a scheme, so that words are never taken for a host name.
std::optional<std::string> hostOf(const std::string& text) {
  // libcurl reads a C string: text cut short by a NUL is not the address the caller gave.
  if (text.find('\0') != std::string::npos) return std::nullopt;
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
  if (!handle ||
      curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  char* part = nullptr;
  if (curl_url_get(handle.get(), CURLUPART_HOST, &part, 0) != CURLUE_OK || part == nullptr)
    return std::nullopt;
  std::string host(part);
  curl_free(part);
  // An IPv6 literal is named without its brackets.
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return std::nullopt;
  return host;
}

}  // namespace

Properties DiziZozDeepLinkHelper::buildDeepLinkProperties(const std::string& url,
                                                          const std::optional<std::string>& referrer) {
  Properties properties{{"url", url}};
  if (!referrer) return properties;
  properties["$referrer"] = *referrer;
  if (auto host = hostOf(*referrer)) properties["$referring_domain"] = std::move(*host);
  return properties;
}

}  // namespace dizizoz
