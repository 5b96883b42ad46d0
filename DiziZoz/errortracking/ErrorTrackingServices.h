#pragma once

namespace dizizoz {

struct DiziZozServices;

// Gives a services record error tracking's handled-exception support: the DiziZozExceptionProcessor
// (exception lists with call-site traces and debug images) and the DiziZozExceptionStepsBuffer. The
// program applies it to the record it installs before the first DiziZozSDK::shared().
void addErrorTrackingServices(DiziZozServices& services);

}  // namespace dizizoz
