#pragma once

#include <cstdint>
#include <vector>

#include "DiziZoz/core/DiziZozExceptionProcessing.h"

namespace dizizoz {

// Turns a handled failure into the entries of "$exception_list", outermost first, and adds the
// "$debug_images" their frames point into. Stateless; any thread (the capturing thread).
//
// Every entry has "type", "value" (when known), "thread_id" (the kernel's id of the calling thread),
// "mechanism" {"type", "handled", "synthetic": true} and "stacktrace" {"frames", "type": "raw"} holding
// the call site's trace (left out when no frame could be placed). Frames run from the outermost caller
// to the innermost, which is the code that called the client's capture (`callSite`), or the caller of
// buildExceptionList when no call site is given.
//   - an exception: one entry per member of its std::nested_exception chain (a member seen twice ends
//     it); "type" is the thrown object's demangled dynamic type, "value" its what() when that is
//     non-empty UTF-8. C++ exceptions carry no return addresses of their own, hence "synthetic".
//   - an error code: one entry; "type" is its category's name, "module" the part of that name before
//     its last "." (when there is one and it is not empty), "value" its message ("Error" when empty or
//     not UTF-8) followed by " (Code: <value>)".
class DiziZozExceptionProcessor final : public DiziZozExceptionProcessing {
 public:
  std::vector<Properties> buildExceptionList(const std::exception_ptr& exception, bool handled,
                                             const std::string& mechanismType,
                                             const DiziZozErrorTrackingConfig& config,
                                             const void* callSite) override;
  std::vector<Properties> buildExceptionList(const std::error_code& error, bool handled,
                                             const std::string& mechanismType,
                                             const DiziZozErrorTrackingConfig& config,
                                             const void* callSite) override;
  // An empty list changes nothing; otherwise sets "$exception_list", and "$debug_images" when the
  // frames name any loaded image.
  void attachExceptionsAndDebugImages(const std::vector<Properties>& exceptionList,
                                      Properties& properties) override;
};

}  // namespace dizizoz
