#pragma once

#include <functional>
#include <memory>

namespace GlobalShortcuts {

struct KeyEvent;

// Watches the application's own key-down and key-up events without changing them: the way the hot-key
// center sees the keys pressed while a menu holds the keyboard. Created stopped; start() and stop() are
// idempotent. Main thread.
class KeyEventMonitor {
 public:
  // `runLoop`: while a menu is being tracked (RunLoopLocalEventMonitor); `local`: at every other time
  // (LocalEventMonitor).
  enum class Kind { runLoop, local };
  using Callback = std::function<void(const KeyEvent&)>;

  virtual ~KeyEventMonitor() = default;
  virtual void start() = 0;
  virtual void stop() = 0;
  virtual bool isRunning() const = 0;

  // The Qt monitors: key events of the application's windows, turned into KeyEvents with the environment's
  // keyboard layout; events whose key has no Carbon key code are not reported.
  static std::unique_ptr<KeyEventMonitor> makeQtMonitor(Kind kind, Callback callback);
};

using KeyEventMonitorFactory =
    std::function<std::unique_ptr<KeyEventMonitor>(KeyEventMonitor::Kind, KeyEventMonitor::Callback)>;

}  // namespace GlobalShortcuts
