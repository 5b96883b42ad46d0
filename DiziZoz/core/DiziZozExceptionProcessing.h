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
class DiziZozExceptionProcessing {
 public:
  virtual ~DiziZozExceptionProcessing() = default;

  virtual std::vector<Properties> buildExceptionList(const std::exception_ptr& exception, bool handled,
                                                     const std::string& mechanismType,
                                                     const DiziZozErrorTrackingConfig& config) = 0;
  virtual std::vector<Properties> buildExceptionList(const std::error_code& error, bool handled,
                                                     const std::string& mechanismType,
                                                     const DiziZozErrorTrackingConfig& config) = 0;
  // Adds the exception list and the debug images it refers to into `properties`.
  virtual void attachExceptionsAndDebugImages(const std::vector<Properties>& exceptionList,
                                              Properties& properties) = 0;
};

}  // namespace dizizoz
