#include "GlobalShortcuts/Name.h"

#include <atomic>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "platform/MainExecutor.h"

namespace GlobalShortcuts {
namespace {

bool initialized = false;
// Counts installations, so that a set-up job queued before an environment change does nothing after it.
std::atomic<std::uint64_t> generation{0};

}  // namespace

Name::Name(std::string name, std::optional<Shortcut> initial)
    : rawValue_(std::move(name)), initialShortcut_(std::move(initial)) {
  if (initialShortcut_) setInitialShortcutIfNeeded(*initialShortcut_, rawValue_);
  environment().mainExecutor->post([expected = generation.load()] {
    if (generation.load() != expected || initialized) return;
    HotKeyCenter::shared();
    initialized = true;
  });
}

Name Name::fromRawValue(std::string rawValue) {
  return Name(Raw{}, std::move(rawValue));
}

std::optional<Shortcut> Name::shortcut() const {
  return getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut>& shortcut) const {
  GlobalShortcuts::setShortcut(shortcut, *this);
}

bool isInitialized() {
  return initialized;
}

void resetInitialization() {
  initialized = false;
  ++generation;
}

}  // namespace GlobalShortcuts
