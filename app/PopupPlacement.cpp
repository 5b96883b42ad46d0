#include "app/PopupPlacement.h"

#include <algorithm>

namespace quorvelle {

using platform::Point;
using platform::Rect;

void PopupPlacement::fit(platform::PopupPanel& panel) {
  if (const auto size = panel.fittingContentSize()) panel.setContentSize(*size);
}

void PopupPlacement::positionNearMouse(platform::PopupPanel& panel, const platform::Screens& screens) {
  const Point m = screens.mouseLocation();
  const Rect frame = panel.frame();
  const double w = frame.size.width;
  const double h = frame.size.height;
  double x = m.x - kPointerLeftOffset;
  double y = m.y - h - kPointerGap;
  for (const platform::Screen& screen : screens.screens()) {
    if (!screen.frame.containsPointer(m)) continue;
    const Rect& v = screen.visibleFrame;
    if (x <= v.minX() + kScreenMargin) x = v.minX() + kScreenMargin;
    // Applied last: a panel wider than the visible frame keeps the right margin and sticks out left.
    x = std::min(x, v.maxX() - w - kScreenMargin);
    if (v.minY() + kScreenMargin > y) y = m.y + kPointerGap;
    break;
  }
  panel.setFrameOrigin({x, y});
}

void PopupPlacement::clampToVisibleFrame(platform::PopupPanel& panel, const platform::Screens& screens) {
  if (!panel.isVisible()) return;
  auto screen = panel.screen();
  if (!screen) screen = screens.mainScreen();
  if (!screen) return;
  const Rect& v = screen->visibleFrame;
  const Rect frame = panel.frame();
  Point o = frame.origin;
  o.x = std::max(o.x, v.minX() + kScreenMargin);
  o.y = std::max(o.y, v.minY() + kScreenMargin);
  // After the lower bounds, so that for a panel larger than the frame the right and top margins win.
  o.x = std::min(o.x, v.maxX() - frame.size.width - kScreenMargin);
  o.y = std::min(o.y, v.maxY() - frame.size.height - kScreenMargin);
  if (o.x != frame.origin.x || o.y != frame.origin.y) panel.setFrameOrigin(o);
}

void PopupPlacement::refitKeepingTopLeft(platform::PopupPanel& panel, const platform::Screens& screens) {
  if (!panel.isVisible()) return;
  const Rect before = panel.frame();
  Rect after = before;
  if (const auto size = panel.fittingContentSize()) after.size = *size;
  after.origin = {before.minX(), before.maxY() - after.size.height};
  // One step: resized first and moved after, the panel would show for a moment with its bottom-left
  // corner kept instead.
  if (!(after == before)) panel.setFrame(after);
  clampToVisibleFrame(panel, screens);
}

}  // namespace quorvelle
