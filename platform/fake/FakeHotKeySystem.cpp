#include "platform/fake/FakeHotKeySystem.h"

namespace platform::fake {

std::optional<HotKeySystem::HotKeyRef> FakeHotKeySystem::registerHotKey(std::uint32_t keyCode,
                                                                        std::uint32_t modifiers,
                                                                        HotKeyId id) {
  std::lock_guard lock(mutex_);
  if (refused_.contains({keyCode, modifiers})) return std::nullopt;
  const HotKeyRef ref = ++lastRef_;
  registrations_[ref] = Registration{ref, keyCode, modifiers, id};
  ++registerCount_;
  return ref;
}

void FakeHotKeySystem::unregisterHotKey(HotKeyRef ref) {
  std::lock_guard lock(mutex_);
  registrations_.erase(ref);
}

std::optional<HotKeySystem::HandlerRef> FakeHotKeySystem::installEventHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  if (handlerInstallationFails_) return std::nullopt;
  const HandlerRef ref = ++lastRef_;
  handlers_[ref] = InstalledHandler{std::move(handler), {}};
  return ref;
}

void FakeHotKeySystem::addEventTypesToHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) {
  std::lock_guard lock(mutex_);
  auto it = handlers_.find(handler);
  if (it == handlers_.end()) return;
  for (const auto& type : types) it->second.types.insert({type.eventClass, type.eventKind});
}

void FakeHotKeySystem::removeEventTypesFromHandler(HandlerRef handler,
                                                   const std::vector<EventTypeFilter>& types) {
  std::lock_guard lock(mutex_);
  auto it = handlers_.find(handler);
  if (it == handlers_.end()) return;
  for (const auto& type : types) it->second.types.erase({type.eventClass, type.eventKind});
}

void FakeHotKeySystem::refuse(std::uint32_t keyCode, std::uint32_t modifiers) {
  std::lock_guard lock(mutex_);
  refused_.insert({keyCode, modifiers});
}

void FakeHotKeySystem::allow(std::uint32_t keyCode, std::uint32_t modifiers) {
  std::lock_guard lock(mutex_);
  refused_.erase({keyCode, modifiers});
}

void FakeHotKeySystem::setHandlerInstallationFails(bool fails) {
  std::lock_guard lock(mutex_);
  handlerInstallationFails_ = fails;
}

std::optional<HotKeySystem::Status> FakeHotKeySystem::press(std::uint32_t keyCode, std::uint32_t modifiers) {
  return deliver(kEventHotKeyPressed, keyCode, modifiers);
}

std::optional<HotKeySystem::Status> FakeHotKeySystem::release(std::uint32_t keyCode,
                                                              std::uint32_t modifiers) {
  return deliver(kEventHotKeyReleased, keyCode, modifiers);
}

std::optional<HotKeySystem::Status> FakeHotKeySystem::deliver(std::uint32_t kind, std::uint32_t keyCode,
                                                              std::uint32_t modifiers) {
  std::vector<Handler> receivers;
  HotKeyEvent event;
  {
    std::lock_guard lock(mutex_);
    const Registration* match = nullptr;
    for (const auto& [ref, registration] : registrations_) {
      if (registration.keyCode == keyCode && registration.modifiers == modifiers) match = &registration;
    }
    if (match == nullptr) return std::nullopt;
    event = HotKeyEvent{kEventClassKeyboard, kind, match->id};
    for (const auto& [ref, installed] : handlers_) {
      if (installed.types.contains({kEventClassKeyboard, kind})) receivers.push_back(installed.handler);
    }
  }
  std::optional<Status> status;
  for (const auto& receiver : receivers) status = receiver(event);
  return status;
}

std::optional<HotKeySystem::Status> FakeHotKeySystem::send(const HotKeyEvent& event) {
  std::vector<Handler> receivers;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [ref, installed] : handlers_) receivers.push_back(installed.handler);
  }
  std::optional<Status> status;
  for (const auto& receiver : receivers) status = receiver(event);
  return status;
}

std::vector<FakeHotKeySystem::Registration> FakeHotKeySystem::registrations() const {
  std::lock_guard lock(mutex_);
  std::vector<Registration> result;
  for (const auto& [ref, registration] : registrations_) result.push_back(registration);
  return result;
}

bool FakeHotKeySystem::isRegistered(std::uint32_t keyCode, std::uint32_t modifiers) const {
  std::lock_guard lock(mutex_);
  for (const auto& [ref, registration] : registrations_) {
    if (registration.keyCode == keyCode && registration.modifiers == modifiers) return true;
  }
  return false;
}

std::size_t FakeHotKeySystem::registerCount() const {
  std::lock_guard lock(mutex_);
  return registerCount_;
}

std::size_t FakeHotKeySystem::handlerCount() const {
  std::lock_guard lock(mutex_);
  return handlers_.size();
}

std::set<std::pair<std::uint32_t, std::uint32_t>> FakeHotKeySystem::eventTypes(HandlerRef handler) const {
  std::lock_guard lock(mutex_);
  auto it = handlers_.find(handler);
  return it == handlers_.end() ? std::set<std::pair<std::uint32_t, std::uint32_t>>{} : it->second.types;
}

}  // namespace platform::fake
