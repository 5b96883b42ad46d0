#include "platform/fake/InjectableEventMonitors.h"

#include <vector>

namespace platform::fake {

std::optional<EventMonitors::Token> InjectableEventMonitors::addGlobalMonitor(MonitoredEventMask mask,
                                                                              GlobalHandler handler) {
  if (refuseGlobal_) return std::nullopt;
  const Token token = next_++;
  global_.emplace(token, Entry<GlobalHandler>{mask, std::move(handler)});
  return token;
}

std::optional<EventMonitors::Token> InjectableEventMonitors::addLocalMonitor(MonitoredEventMask mask,
                                                                             LocalHandler handler) {
  if (refuseLocal_) return std::nullopt;
  const Token token = next_++;
  local_.emplace(token, Entry<LocalHandler>{mask, std::move(handler)});
  return token;
}

void InjectableEventMonitors::removeMonitor(Token token) {
  if (global_.erase(token) + local_.erase(token) == 0) ++unknownRemovals_;
}

void InjectableEventMonitors::sendToOtherApplication(const MonitoredEvent& event) {
  // Over a copy: a handler may remove monitors (the popup closes and removes its own).
  std::vector<GlobalHandler> handlers;
  for (const auto& [token, entry] : global_) {
    if (entry.mask.contains(event.type)) handlers.push_back(entry.handler);
  }
  for (const auto& handler : handlers) handler(event);
}

bool InjectableEventMonitors::sendToThisApplication(const MonitoredEvent& event) {
  std::vector<LocalHandler> handlers;
  for (const auto& [token, entry] : local_) {
    if (entry.mask.contains(event.type)) handlers.push_back(entry.handler);
  }
  for (const auto& handler : handlers) {
    if (!handler(event)) return false;
  }
  return true;
}

}  // namespace platform::fake
