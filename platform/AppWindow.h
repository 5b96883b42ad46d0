#pragma once

#include <memory>
#include <string>

#include "platform/Geometry.h"

// Window contents are Qt widgets; only a pointer crosses this interface, so the header needs no Qt.
class QWidget;

namespace platform {

// The look of a window: a title bar with a close button only, whose content reaches under a
// transparent, untitled title bar.
struct WindowStyle {
  bool titlebarAppearsTransparent = false;
  bool titleHidden = false;
  bool titlebarSeparatorHidden = false;
};

// One top-level window of the application around a content view. Geometry in the y-up screen
// coordinates of Geometry.h. Closing only orders the window out: it keeps its content and can be shown
// again. Main thread only.
class AppWindow {
 public:
  virtual ~AppWindow() = default;

  virtual void setTitle(const std::string& title) = 0;
  virtual void setStyle(const WindowStyle& style) = 0;
  // The size the content asks for; zero width when it has no preference.
  virtual Size contentFittingSize() const = 0;
  virtual void setContentSize(Size size) = 0;
  // The window with its decorations.
  virtual Rect frame() const = 0;
  // Moves the bottom-left corner of the frame.
  virtual void setFrameOrigin(Point origin) = 0;
  // Shows the window in front of the others and gives it the keyboard.
  virtual void makeKeyAndOrderFront() = 0;
  virtual void close() = 0;
  virtual bool isVisible() const = 0;
};

// Makes the application's windows.
class AppWindowHost {
 public:
  virtual ~AppWindowHost() = default;
  // A hidden window around `content`. The real window takes ownership of the content widget and
  // deletes it with itself; in-memory windows never touch it.
  virtual std::unique_ptr<AppWindow> makeWindow(QWidget* content) = 0;
};

}  // namespace platform
