#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/Geometry.h"
#include "platform/Screens.h"

namespace platform {

// Identifies a top-level window of this application in events; 0 means no window.
using WindowId = std::uint64_t;

// The popup's floating panel: borderless, above other windows on every workspace, never activating the
// application when it shows. It hosts the popup's content and is shown and hidden for every popup, never
// destroyed while the program runs. Geometry is in y-up screen coordinates (Geometry.h); the panel's size
// is its content size (it has no frame decoration). Main thread only.
class PopupPanel {
 public:
  virtual ~PopupPanel() = default;

  virtual Rect frame() const = 0;
  // Moves the panel; its size stays.
  virtual void setFrameOrigin(Point origin) = 0;
  // Resizes the panel keeping its origin (the bottom-left corner). A change of size calls the resize
  // handler.
  virtual void setContentSize(Size size) = 0;
  // Moves and resizes the panel in one step, so that a window manager never shows it at a place between
  // the old frame and the new one. A change of size calls the resize handler.
  virtual void setFrame(Rect frame) = 0;
  // The size the hosted content wants after laying itself out; nothing while there is no content.
  virtual std::optional<Size> fittingContentSize() = 0;

  virtual bool isVisible() const = 0;
  // Shows the panel above other windows without taking keyboard focus, so keystrokes keep going to the
  // application the user works in (the paste of a replacement must reach it).
  virtual void orderFrontWithoutFocus() = 0;
  // Shows the panel and gives it keyboard focus (for typing into it), still without raising the rest of
  // this application.
  virtual void makeKeyAndOrderFront() = 0;
  // Hides the panel.
  virtual void orderOut() = 0;

  // The screen the panel lies on (the one holding most of it); nothing when it lies on none.
  virtual std::optional<Screen> screen() const = 0;
  // The id that events inside this panel carry (EventMonitors.h).
  virtual WindowId windowId() const = 0;

  // Called after every change of the panel's size, on the main thread. One handler; a new one replaces it.
  virtual void setResizeHandler(std::function<void()> handler) = 0;
};

}  // namespace platform
