#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dizizoz {

// An activity the application was asked to continue, as far as deep links need it: its type and, for a
// web-browsing activity, the page address and the address that referred to it (absolute texts).
struct DiziZozUserActivity {
  // The type of an activity that continues browsing a web page.
  static constexpr std::string_view browsingWebType = "NSUserActivityTypeBrowsingWeb";

  std::string activityType{};
  std::optional<std::string> webpageURL{};
  std::optional<std::string> referrerURL{};
};

}  // namespace dizizoz
