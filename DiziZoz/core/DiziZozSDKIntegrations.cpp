// The integrations of DiziZozSDK: the install loop that set-up runs, the uninstall that ends the client,
// and the single additions and removals of error tracking's remote switch.

#include <algorithm>
#include <utility>

#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz {

void DiziZozSDK::installIntegrations() {
  std::lock_guard setupLock(setupLock_);
  if (!installedIntegrations_.empty()) {
    hedgeLog("[DiziZoz] Integrations already installed. Call uninstallIntegrations() first.");
    return;
  }
  const auto config = this->config();
  std::vector<std::shared_ptr<DiziZozIntegration>> installed;
  for (auto& integration : config->getIntegrations()) {
    const std::string name = integrationTypeName(*integration);
    if (integration->requiresSwizzling() && !config->enableSwizzling) {
      hedgeLog("Integration " + name +
               " skipped. Integration requires swizzling but enableSwizzling is disabled in config");
      continue;
    }
    const auto result = integration->install(*this);
    if (result.isInstalled()) {
      installed.push_back(std::move(integration));
      hedgeLog("Integration " + name + " installed");
    } else {
      hedgeLog("Integration " + name + " skipped: " + std::string(description(*result.skipReason())));
    }
  }
  installedIntegrations_ = std::move(installed);
}

void DiziZozSDK::uninstallIntegrations() {
  std::lock_guard setupLock(setupLock_);
  // An uninstall may remove or add integrations itself (the set-up lock is recursive): walk a copy.
  const auto integrations = std::exchange(installedIntegrations_, {});
  for (const auto& integration : integrations) {
    integration->uninstall(*this);
    hedgeLog("Integration " + integrationTypeName(*integration) + " uninstalled");
  }
}

std::vector<std::shared_ptr<DiziZozIntegration>> DiziZozSDK::installedIntegrations() const {
  std::lock_guard setupLock(setupLock_);
  return installedIntegrations_;
}

void DiziZozSDK::addIntegration(std::shared_ptr<DiziZozIntegration> integration) {
  if (!integration) return;
  std::lock_guard setupLock(setupLock_);
  if (std::find(installedIntegrations_.begin(), installedIntegrations_.end(), integration) !=
      installedIntegrations_.end()) {
    return;
  }
  if (!integration->install(*this).isInstalled()) return;
  hedgeLog("Integration " + integrationTypeName(*integration) + " added");
  installedIntegrations_.push_back(std::move(integration));
}

void DiziZozSDK::removeIntegration(const std::shared_ptr<DiziZozIntegration>& integration) {
  if (!integration) return;
  std::lock_guard setupLock(setupLock_);
  integration->uninstall(*this);
  std::erase(installedIntegrations_, integration);
  hedgeLog("Integration " + integrationTypeName(*integration) + " removed");
}

}  // namespace dizizoz
