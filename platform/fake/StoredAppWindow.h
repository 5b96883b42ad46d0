#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/AppWindow.h"

namespace platform::fake {

// A window that only stores what it is told. The content's fitting size is set by the test; the frame
// is the content size (no decorations). Never touches the content widget.
class StoredAppWindow final : public AppWindow {
 public:
  explicit StoredAppWindow(QWidget* c) : content(c) {}

  QWidget* content;
  std::string title;
  WindowStyle style;
  Size fittingSize;
  Rect storedFrame;
  bool visible = false;
  int fronted = 0;
  int closes = 0;
  int contentSizeChanges = 0;

  void setTitle(const std::string& t) override { title = t; }
  void setStyle(const WindowStyle& s) override { style = s; }
  Size contentFittingSize() const override { return fittingSize; }
  void setContentSize(Size size) override {
    // A window grows and shrinks from its top-left corner.
    storedFrame.origin.y += storedFrame.size.height - size.height;
    storedFrame.size = size;
    ++contentSizeChanges;
  }
  Rect frame() const override { return storedFrame; }
  void setFrameOrigin(Point origin) override { storedFrame.origin = origin; }
  void makeKeyAndOrderFront() override {
    visible = true;
    ++fronted;
  }
  void close() override {
    visible = false;
    ++closes;
  }
  bool isVisible() const override { return visible; }
};

// Makes StoredAppWindows and keeps a pointer to each (the caller owns them).
class StoredAppWindowHost final : public AppWindowHost {
 public:
  // Applied to every window made from now on.
  Size nextFittingSize;
  Rect nextFrame;
  std::vector<StoredAppWindow*> windows;

  std::unique_ptr<AppWindow> makeWindow(QWidget* content) override {
    auto window = std::make_unique<StoredAppWindow>(content);
    window->fittingSize = nextFittingSize;
    window->storedFrame = nextFrame;
    windows.push_back(window.get());
    return window;
  }
};

}  // namespace platform::fake
