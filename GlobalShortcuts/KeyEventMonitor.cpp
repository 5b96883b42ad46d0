#include "GlobalShortcuts/KeyEventMonitor.h"

#include <QKeyEvent>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/KeyEvent.h"
#include "GlobalShortcuts/LocalEventMonitor.h"
#include "GlobalShortcuts/RunLoopLocalEventMonitor.h"

namespace GlobalShortcuts {
namespace {

// Reports key events and always lets them through.
QEvent* report(const KeyEventMonitor::Callback& callback, QEvent* event) {
  const auto* layout = environment().keyboardLayout;
  if (layout == nullptr) return event;
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return event;
  if (const auto keyEvent = KeyEvent::fromQKeyEvent(*static_cast<QKeyEvent*>(event), *layout))
    callback(*keyEvent);
  return event;
}

template <class Monitor>
class QtKeyEventMonitor final : public KeyEventMonitor {
 public:
  explicit QtKeyEventMonitor(Callback callback)
      : monitor_(EventTypeMask::keyDown | EventTypeMask::keyUp,
                 [callback = std::move(callback)](QEvent* event) { return report(callback, event); }) {}

  void start() override { monitor_.start(); }
  void stop() override { monitor_.stop(); }
  bool isRunning() const override { return monitor_.isStarted(); }

 private:
  Monitor monitor_;
};

}  // namespace

std::unique_ptr<KeyEventMonitor> KeyEventMonitor::makeQtMonitor(Kind kind, Callback callback) {
  if (kind == Kind::runLoop)
    return std::make_unique<QtKeyEventMonitor<RunLoopLocalEventMonitor>>(std::move(callback));
  return std::make_unique<QtKeyEventMonitor<LocalEventMonitor>>(std::move(callback));
}

}  // namespace GlobalShortcuts
