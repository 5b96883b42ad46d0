#pragma once

#include <QMetaObject>
#include <QTimer>
#include <memory>
#include <string>

#include "app/PopupController.h"
#include "app/SelectionPopup.h"

namespace platform {
class QtPopupPanel;
class X11CompositorWatch;
class X11Connection;
}  // namespace platform

namespace quorvelle {

// The popup as the program shows it: the one controller, with a PopupView of its model and callbacks
// hosted in a Qt panel. Hot-key requests go to the controller.
//
// The view is built in the loop's first turn after it has first waited for events (after the program's
// start-up, once the tray icon and the hot keys are up and flushed to the X server), or by the first
// request if that comes sooner. The same turn makes the panel's native window, unmapped, and lays out and
// draws a scratch view of a word's translation off screen, so that the first popup finds its window made
// and its fonts loaded. Nothing is shown.
//
// With an X connection, the card follows the desktop's compositing manager: rounded and translucent while
// one runs, square and opaque otherwise (X11CompositorWatch); without one it stays translucent.
//
// `services.panel` must be `panel`. The panel, the connection and every service must outlive this object;
// destroying it closes the popup and removes the view from the panel before the model it watches goes.
// Main thread only.
class DesktopPopup final : public SelectionPopup {
 public:
  DesktopPopup(platform::QtPopupPanel& panel, PopupController::Services services,
               platform::X11Connection* x11 = nullptr);
  ~DesktopPopup() override;
  DesktopPopup(const DesktopPopup&) = delete;
  DesktopPopup& operator=(const DesktopPopup&) = delete;

  void show(const std::string& text, PopupMode mode) override;
  void showQuickTranslate() override;
  void showError(const std::string& text, PopupMode mode, const std::string& message) override;

  PopupController& controller() { return *controller_; }
  // Builds the view unless it exists.
  void buildView();
  bool hasView() const { return viewBuilt_; }
  // True once the idle turn has made the native window and laid out the scratch view.
  bool isWarm() const { return warm_; }

 private:
  platform::QtPopupPanel& panel_;
  std::shared_ptr<PopupController> controller_;
  void warmUp();

  bool viewBuilt_ = false;
  bool warm_ = false;
  std::unique_ptr<platform::X11CompositorWatch> compositor_;
  QMetaObject::Connection whenIdle_;
  QTimer idleTurn_;  // the turn after the first wait
};

}  // namespace quorvelle
