#include "DiziZoz/delivery/ReachabilityError.h"

namespace dizizoz {

std::string describe(const ReachabilityError& error) {
  const char* name = "";
  switch (error.kind) {
    case ReachabilityError::Kind::failedToCreateWithAddress:
      name = "failedToCreateWithAddress";
      break;
    case ReachabilityError::Kind::failedToCreateWithHostname:
      name = "failedToCreateWithHostname";
      break;
    case ReachabilityError::Kind::unableToSetCallback:
      name = "unableToSetCallback";
      break;
    case ReachabilityError::Kind::unableToSetDispatchQueue:
      name = "unableToSetDispatchQueue";
      break;
    case ReachabilityError::Kind::unableToGetFlags:
      name = "unableToGetFlags";
      break;
  }
  std::string text = name;
  text += '(';
  if (!error.target.empty()) text += error.target + ", ";
  return text + std::to_string(error.code) + ')';
}

}  // namespace dizizoz
