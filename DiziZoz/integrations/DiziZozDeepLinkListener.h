#pragma once

#include <memory>
#include <string>

#include "DiziZoz/core/DiziZozUserActivity.h"

namespace dizizoz {

class DiziZozSDK;

// Reports how a host's window was opened: with an address ("Deep Link Opened" with "url" only) or by
// continuing a web-browsing activity ("Deep Link Opened" with the page and its referrer). A UI toolkit
// adapter forwards its open-address and continue-activity requests; the application itself uses none.
struct DiziZozDeepLinkListener {
  // The client to report to; null ignores everything.
  std::shared_ptr<DiziZozSDK> dizizoz;

  // Refused with the client's not-set-up line before its set-up has completed.
  void onOpenURL(const std::string& url) const;
  // Only web-browsing activities reach the client: the listener takes no other activity type.
  void continueUserActivity(const DiziZozUserActivity& activity) const;
};

// A listener reporting to `diziZoz`, or to DiziZozSDK::shared() when none is given.
DiziZozDeepLinkListener diziZozDeepLinkListener(std::shared_ptr<DiziZozSDK> diziZoz = nullptr);

}  // namespace dizizoz
