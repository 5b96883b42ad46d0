#include "DiziZoz/errortracking/ErrorTrackingServices.h"

#include <memory>
#include <utility>

#include "DiziZoz/core/DiziZozServices.h"
#include "DiziZoz/errortracking/DiziZozExceptionProcessor.h"
#include "DiziZoz/errortracking/DiziZozExceptionStepsBuffer.h"

namespace dizizoz {

void addErrorTrackingServices(DiziZozServices& services) {
  services.exceptionProcessor = std::make_shared<DiziZozExceptionProcessor>();
  services.makeExceptionStepsBuffer = [](int maxBytes,
                                         DiziZozExceptionStepsBuffering::OnStepsChanged onChanged) {
    return std::make_shared<DiziZozExceptionStepsBuffer>(maxBytes, std::move(onChanged));
  };
}

}  // namespace dizizoz
