#pragma once

#include <map>
#include <optional>
#include <string>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// Group type -> group key ("company" -> "acme").
using DiziZozGroups = std::map<std::string, std::string>;

// The optional arguments of one capture; what is left out is absent. Written with designated
// initialisers:
//
//   client->capture("onboarding_completed", {.properties = props, .userProperties = person});
struct DiziZozCaptureArguments {
  // Event properties.
  std::optional<Properties> properties{};
  // Person properties to set ("$set") and to set once ("$set_once").
  std::optional<Properties> userProperties{};
  std::optional<Properties> userPropertiesSetOnce{};
  // The groups this event belongs to, besides the registered ones (which win on a shared group type).
  std::optional<DiziZozGroups> groups{};
  // Overrides the stored distinct id for this event.
  std::optional<std::string> distinctId{};
  // When the event happened; now when absent.
  std::optional<Date> timestamp{};
};

}  // namespace dizizoz
