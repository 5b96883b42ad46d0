#include "DiziZoz/core/DiziZozIntegration.h"

#include <typeinfo>
#include <vector>

#include "DiziZoz/core/DiziZozIntegrationInstallState.h"
#include "DiziZoz/core/TypeNames.h"

namespace dizizoz {

std::string_view description(DiziZozIntegrationInstallSkipReason reason) {
  switch (reason) {
    case DiziZozIntegrationInstallSkipReason::alreadyInstalled:
      return "Already installed to another DiziZozSDK instance";
    case DiziZozIntegrationInstallSkipReason::disabledInRemoteConfig:
      return "Disabled in remote config";
    case DiziZozIntegrationInstallSkipReason::notAvailableOnPlatform:
      return "Not available on this platform";
  }
  return {};
}

std::string integrationTypeName(const DiziZozIntegration& integration) {
  std::string name = demangledTypeName(typeid(integration));
  // Drop the namespaces, but not those inside template arguments.
  const auto templateStart = name.find('<');
  const auto lastScope = name.rfind("::", templateStart);
  if (lastScope != std::string::npos) name.erase(0, lastScope + 2);
  return name;
}

namespace {

struct StateRegistry {
  std::mutex lock;
  std::vector<DiziZozIntegrationInstallState*> states;
};

StateRegistry& stateRegistry() {
  static auto* registry = new StateRegistry;
  return *registry;
}

}  // namespace

DiziZozIntegrationInstallState* DiziZozIntegrationInstallState::registered(
    DiziZozIntegrationInstallState* state) {
  auto& registry = stateRegistry();
  std::lock_guard lock(registry.lock);
  registry.states.push_back(state);
  return state;
}

void DiziZozIntegrationInstallState::resetAllForTesting() {
  auto& registry = stateRegistry();
  std::lock_guard lock(registry.lock);
  for (auto* state : registry.states) {
    std::lock_guard stateLock(state->lock);
    state->installed = false;
  }
}

}  // namespace dizizoz
