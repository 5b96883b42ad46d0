#pragma once

#include "platform/PopupPanel.h"
#include "platform/Screens.h"

namespace quorvelle {

// Where the popup panel goes and how big it is, in y-up screen coordinates (platform/Geometry.h). The
// popup controller runs these; they read and move the panel and nothing else. Main thread only.
class PopupPlacement {
 public:
  // The panel's left edge sits this far left of the pointer ...
  static constexpr double kPointerLeftOffset = 20;
  // ... and its top edge this far below it (or, flipped, its bottom edge this far above it).
  static constexpr double kPointerGap = 24;
  // The least distance kept from the edges of the screen's visible frame.
  static constexpr double kScreenMargin = 8;

  // Sizes the panel to its content's fitting size; nothing without content. The height never exceeds
  // the visible frame of the pointer's screen (or the main screen's) less the margin at top and bottom:
  // beyond that the content scrolls inside the panel.
  static void fit(platform::PopupPanel& panel, const platform::Screens& screens);
  // Puts the panel just below and left of the pointer, inside the visible frame of the pointer's screen
  // at left and right; flips it above the pointer when it would come too close to the bottom. With the
  // pointer on no screen, the plain offset position is used.
  static void positionNearMouse(platform::PopupPanel& panel, const platform::Screens& screens);
  // Moves a visible panel back inside its screen's visible frame (or the main screen's when it lies on
  // none), keeping the margin; when the panel is too big, the right and top margins win. Does not move
  // a panel that is already inside, nor a hidden one.
  static void clampToVisibleFrame(platform::PopupPanel& panel, const platform::Screens& screens);
  // Refits a visible panel to its content keeping its top-left corner, so it grows and shrinks
  // downward, then clamps it; the height is bounded as in fit(), by the panel's own screen. Does nothing
  // while the panel is hidden.
  static void refitKeepingTopLeft(platform::PopupPanel& panel, const platform::Screens& screens);
};

}  // namespace quorvelle
