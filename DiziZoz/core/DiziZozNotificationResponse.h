#pragma once

#include <string>
#include <string_view>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// The user's answer to a shown notification, as the push notification publisher delivers it: the shown
// texts, the notification's payload and what the user did. A plain value; any thread.
struct DiziZozNotificationResponse {
  // The action of opening the notification itself (the desktop notification protocol's reserved
  // "default" action).
  static constexpr std::string_view defaultActionIdentifier = "default";
  // The notification was dismissed without being opened.
  static constexpr std::string_view dismissActionIdentifier = "dismiss";

  std::string title{};
  std::string subtitle{};
  std::string body{};
  // The notification's data; an object (a payload of the analytics service carries it under "dizizoz").
  Properties payload = Properties::object();
  // One of the two identifiers above, or the identifier of an action the application defined.
  std::string actionIdentifier{defaultActionIdentifier};
  // True when a remote push delivered the notification; false for one the program scheduled itself.
  bool triggeredByRemotePush = false;
};

}  // namespace dizizoz
