#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// The properties of a "Deep Link Opened" event. Pure functions; any thread.
class DiziZozDeepLinkHelper {
 public:
  DiziZozDeepLinkHelper() = delete;

  static constexpr std::string_view deepLinkOpenedEvent = "Deep Link Opened";

  // {"url": the opened address's absolute text}; with a referrer also "$referrer" (the text as given)
  // and, when the referrer reads as an address with a host, "$referring_domain" (that host). The
  // referrer is read strictly: text without a scheme ("plain words", "/relative/path") has no host.
  static Properties buildDeepLinkProperties(const std::string& url,
                                            const std::optional<std::string>& referrer);
};

}  // namespace dizizoz
