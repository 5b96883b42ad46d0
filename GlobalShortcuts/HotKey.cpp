#include "GlobalShortcuts/HotKey.h"

#include "GlobalShortcuts/HotKeyCenter.h"
#include "platform/MainExecutor.h"

namespace GlobalShortcuts {

HotKey::HotKey(std::int64_t carbonKeyCode, std::int64_t carbonModifiers, Closure onKeyDown, Closure onKeyUp)
    : carbonKeyCode_(carbonKeyCode),
      carbonModifiers_(carbonModifiers),
      onKeyDown_(std::move(onKeyDown)),
      onKeyUp_(std::move(onKeyUp)),
      id_(HotKeyCenter::shared().nextHotKeyId()),
      center_(HotKeyCenter::shared().weak_from_this()),
      executor_(&HotKeyCenter::shared().executor()) {}

HotKey::~HotKey() {
  if (center_.expired()) return;
  if (executor_->isMainThread()) {
    if (auto center = center_.lock()) center->remove(id_);
    return;
  }
  // The center lives on the main thread: a strong reference taken here could end it on this one.
  executor_->post([center = center_, id = id_] {
    if (auto strong = center.lock()) strong->remove(id);
  });
}

void HotKey::deliverKeyDown() const {
  if (onKeyDown_) onKeyDown_();
}

void HotKey::deliverKeyUp() const {
  if (onKeyUp_) onKeyUp_();
}

}  // namespace GlobalShortcuts
