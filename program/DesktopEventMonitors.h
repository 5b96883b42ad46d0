#pragma once

#include <QObject>
#include <map>
#include <memory>

#include "platform/EventMonitors.h"

namespace platform {
class KeyboardLayout;
class X11Connection;
class X11RawInputMonitor;
}  // namespace platform

namespace quorvelle {

// Event monitors of the desktop session.
//   - Local monitors watch this application's own input events before its widgets see them, through the
//     shortcuts package's application event filter (LocalEventMonitor). An event's window is the
//     top-level widget under the pointer (mouse) or the active one (keys), by platform::windowIdOf(); a
//     key's code is its physical position, read through `layout` when given, else Escape and Tab (the
//     keys the popup acts on) from Qt's key.
//   - Global monitors see left and right presses, wheel turns and key presses that go to other
//     applications, through XInput 2 raw events on `x11`, which leave the events with the application
//     they go to. A key's code is its physical position (the XKB name of its keycode). Without an X
//     connection (or without XInput 2.2) they are refused.
//
// `x11` and `layout` may be null and must otherwise outlive this object. Needs a QApplication. Main
// thread only.
class DesktopEventMonitors final : public platform::EventMonitors {
 public:
  DesktopEventMonitors(platform::X11Connection* x11, const platform::KeyboardLayout* layout);
  ~DesktopEventMonitors() override;

  std::optional<Token> addGlobalMonitor(platform::MonitoredEventMask mask, GlobalHandler handler) override;
  std::optional<Token> addLocalMonitor(platform::MonitoredEventMask mask, LocalHandler handler) override;
  void removeMonitor(Token token) override;

 private:
  struct Local;
  struct Global {
    platform::MonitoredEventMask mask;
    GlobalHandler handler;
  };
  void deliverGlobal(platform::MonitoredEventType type, int keyCode = 0);

  platform::X11Connection* x11_;
  const platform::KeyboardLayout* layout_;
  Token next_ = 1;
  std::map<Token, std::unique_ptr<Local>> local_;
  std::map<Token, std::shared_ptr<Global>> global_;
  // Created with the first global monitor, released with the last.
  std::unique_ptr<platform::X11RawInputMonitor> raw_;
  // Context of deferred work: destroyed first, so nothing deferred runs after this object is gone.
  QObject lifetime_;
};

}  // namespace quorvelle
