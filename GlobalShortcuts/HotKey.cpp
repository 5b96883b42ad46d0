#include "GlobalShortcuts/HotKey.h"

#include "GlobalShortcuts/HotKeyCenter.h"
#include "platform/MainExecutor.h"

namespace GlobalShortcuts {

HotKey::HotKey(std::int64_t carbonKeyCode, std::int64_t carbonModifiers, Closure onKeyDown, Closure onKeyUp)
    : carbonKeyCode_(carbonKeyCode),
      carbonModifiers_(carbonModifiers),
      onKeyDown_(std::move(onKeyDown)),
      onKeyUp_(std::move(onKeyUp)),
      id_(++HotKeyCenter::shared().lastHotKeyId_),
      center_(HotKeyCenter::shared().weak_from_this()),
      executor_(&HotKeyCenter::shared().executor_) {}

HotKey::~HotKey() {
  if (center_.expired()) return;
  if (executor_->isMainThread()) {
    if (auto center = center_.lock()) center->remove(id_, eventHotKeyRef_);
    return;
  }
  executor_->post([center = center_, id = id_, ref = eventHotKeyRef_] {
    if (auto strong = center.lock()) strong->remove(id, ref);
  });
}

}  // namespace GlobalShortcuts
