#pragma once

#include <QPointer>
#include <memory>

#include "platform/PopupPanel.h"

class QWidget;

namespace platform {

// The id that events carry for a top-level widget of this application (EventMonitors.h): its address,
// which stays the same when Qt recreates the native window.
WindowId windowIdOf(const QWidget* topLevel);

// The popup panel as a frameless, override-redirect Qt tool window: no window manager manages it, so it
// shows where it is put, above full-screen windows too (each showing raises it), and, unless made key,
// never takes keyboard focus: it is shown without activation, so a text field of the application the
// user works in keeps its focus. Made key, it takes the X input focus itself (no window manager gives an
// unmanaged window the focus). Its background is clear; the hosted content paints the card. Geometry is
// converted to y-up coordinates at this edge.
//
// The content widget (setContent) fills the window; its sizeHint() is the fitting size. Needs a
// QApplication. Main thread only.
class QtPopupPanel final : public PopupPanel {
 public:
  QtPopupPanel();
  ~QtPopupPanel() override;

  // Takes `content` into the panel (the panel's window becomes its parent and owns it); the previous
  // content is deleted. Not from inside the content's own event handling.
  void setContent(QWidget* content);
  // The panel's window, for tests and tools.
  QWidget* window() const;

  Rect frame() const override;
  void setFrameOrigin(Point origin) override;
  void setContentSize(Size size) override;
  void setFrame(Rect frame) override;
  std::optional<Size> fittingContentSize() override;
  bool isVisible() const override;
  void orderFrontWithoutFocus() override;
  void makeKeyAndOrderFront() override;
  void orderOut() override;
  std::optional<Screen> screen() const override;
  WindowId windowId() const override;
  void setResizeHandler(std::function<void()> handler) override;

 private:
  class Window;
  void setTakesFocus(bool takesFocus);
  std::unique_ptr<Window> window_;
};

}  // namespace platform
