#pragma once

#include <memory>

#include "platform/NotificationCenter.h"

class QObject;

namespace platform {

// Posts the application and window notifications of platform/AppNotifications.h on `center` as Qt
// reports the matching changes:
// - applicationDidBecomeActive when the application becomes the active one (one of its windows takes the
//   focus), applicationDidResignActive when it stops being the active one;
// - windowDidBecomeKey when one of its windows takes the focus, windowDidChangeScreen when the focused
//   window moves to another screen;
// - applicationDidFinishLaunching once, from finishedLaunching(), which the program calls when its
//   start-up has run.
//
// Construct after the QGuiApplication; main thread only. Nothing is posted once it is destroyed.
class QtApplicationNotifications {
 public:
  explicit QtApplicationNotifications(NotificationCenter& center);
  ~QtApplicationNotifications();
  QtApplicationNotifications(const QtApplicationNotifications&) = delete;
  QtApplicationNotifications& operator=(const QtApplicationNotifications&) = delete;

  void finishedLaunching();

 private:
  void post(std::string_view name);

  NotificationCenter& center_;
  bool launched_ = false;
  bool active_ = false;
  std::unique_ptr<QObject> context_;       // the application's connections die with it
  std::unique_ptr<QObject> focusContext_;  // the focused window's connection
};

}  // namespace platform
