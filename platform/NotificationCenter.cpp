#include "platform/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace platform {

struct NotificationCenter::Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<Token::Entry>> entries;  // registration order
};

struct NotificationCenter::Token::Entry {
  std::string name;
  Observer observer;
  std::atomic<bool> active{true};
  std::weak_ptr<Registry> registry;
};

void NotificationCenter::Token::cancel() {
  if (!entry_) return;
  entry_->active.store(false);
  if (auto registry = entry_->registry.lock()) {
    std::lock_guard lock(registry->mutex);
    auto& entries = registry->entries;
    entries.erase(std::remove(entries.begin(), entries.end(), entry_), entries.end());
  }
  entry_.reset();
}

bool NotificationCenter::Token::isActive() const {
  return entry_ && entry_->active.load();
}

NotificationCenter::NotificationCenter() : registry_(std::make_shared<Registry>()) {}

NotificationCenter::~NotificationCenter() {
  std::lock_guard lock(registry_->mutex);
  for (auto& entry : registry_->entries) entry->active.store(false);
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer observer) {
  auto entry = std::make_shared<Token::Entry>();
  entry->name = std::move(name);
  entry->observer = std::move(observer);
  entry->registry = registry_;
  std::lock_guard lock(registry_->mutex);
  registry_->entries.push_back(entry);
  return Token(entry);
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<Token::Entry>> snapshot;
  {
    std::lock_guard lock(registry_->mutex);
    for (const auto& entry : registry_->entries) {
      if (entry->name == notification.name) snapshot.push_back(entry);
    }
  }
  for (const auto& entry : snapshot) {
    if (entry->active.load()) entry->observer(notification);
  }
}

void NotificationCenter::post(std::string name, std::optional<UserInfo> userInfo) {
  post(Notification{std::move(name), std::move(userInfo)});
}

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter();  // outlives every static token
  return *center;
}

}  // namespace platform
