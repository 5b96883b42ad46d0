// Opt-out of DiziZozSDK: the persisted switch and what turning it over starts and stops.

#include "DiziZoz/core/DiziZozPushSubscriptionHandling.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozStorage.h"
#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz {

bool DiziZozSDK::isOptOut() {
  if (!checkSetup()) return true;
  return config()->optOut;
}

void DiziZozSDK::optOut() {
  if (!checkSetup()) return;
  if (isOptOut()) return;
  {
    std::lock_guard lock(optOutLock_);
    config()->optOut = true;
    if (auto storage = this->storage()) storage->setJson(DiziZozStorage::StorageKey::optOut, true);
  }
  if (auto push = pushSubscriptionHandler()) push->optOut();
  uninstallIntegrations();
}

void DiziZozSDK::optIn() {
  if (!checkSetup()) return;
  if (!isOptOut()) return;
  {
    std::lock_guard lock(optOutLock_);
    config()->optOut = false;
    if (auto storage = this->storage()) storage->setJson(DiziZozStorage::StorageKey::optOut, false);
  }
  std::lock_guard setupLock(setupLock_);
  installIntegrations();
  createExceptionStepsBufferIfNeeded();
  notifyContextDidChange();
  publishExceptionSteps();
}

}  // namespace dizizoz
