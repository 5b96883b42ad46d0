#pragma once

#include "DiziZoz/core/DiziZozExceptionProcessing.h"

namespace dizizoz {

// The exception processor of the default services, for programs without error tracking: one
// "$exception_list" entry per failure with its "type", its "value" (the message) and its "mechanism"
// ({"type", "handled"}), no stack trace and no debug images.
//   - an exception: "type" is the thrown object's C++ type ("std::runtime_error"), "value" what() for a
//     std::exception (left out when it is not UTF-8, so that the list stays sendable);
//   - an error code: "type" is its category's name ("generic", "system"), "value" its message.
// A null exception_ptr gives an empty list. Stateless; any thread.
class DiziZozBasicExceptionProcessor final : public DiziZozExceptionProcessing {
 public:
  std::vector<Properties> buildExceptionList(const std::exception_ptr& exception, bool handled,
                                             const std::string& mechanismType,
                                             const DiziZozErrorTrackingConfig& config,
                                             const void* callSite) override;
  std::vector<Properties> buildExceptionList(const std::error_code& error, bool handled,
                                             const std::string& mechanismType,
                                             const DiziZozErrorTrackingConfig& config,
                                             const void* callSite) override;
  // Sets "$exception_list" to a list that is not empty; an empty one changes nothing.
  void attachExceptionsAndDebugImages(const std::vector<Properties>& exceptionList,
                                      Properties& properties) override;
};

}  // namespace dizizoz
