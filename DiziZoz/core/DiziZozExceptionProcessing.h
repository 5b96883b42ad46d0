#pragma once

#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

class DiziZozErrorTrackingConfig;

// What the client needs of error tracking to report a handled failure: the "$exception_list" entries
// for an exception or an error code, and their debug images. The services provide one per client.
// Thread-safe; it runs on the capturing thread.
//
// `callSite` is the return address into the code that asked for the capture: a trace starts at that
// frame, so that none of the client's own frames show. Null: the caller of buildExceptionList.
class DiziZozExceptionProcessing {
 public:
  virtual ~DiziZozExceptionProcessing() = default;

  virtual std::vector<Properties> buildExceptionList(const std::exception_ptr& exception, bool handled,
                                                     const std::string& mechanismType,
                                                     const DiziZozErrorTrackingConfig& config,
                                                     const void* callSite) = 0;
  virtual std::vector<Properties> buildExceptionList(const std::error_code& error, bool handled,
                                                     const std::string& mechanismType,
                                                     const DiziZozErrorTrackingConfig& config,
                                                     const void* callSite) = 0;
  // Adds the exception list and the debug images it refers to into `properties`.
  virtual void attachExceptionsAndDebugImages(const std::vector<Properties>& exceptionList,
                                              Properties& properties) = 0;
};

}  // namespace dizizoz
