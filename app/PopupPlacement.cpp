#include "app/PopupPlacement.h"

#include <algorithm>
#include <optional>

namespace quorvelle {

using platform::Point;
using platform::Rect;

namespace {

// The content's fitting size, no taller than `screen`'s visible frame less the margins.
std::optional<platform::Size> boundedFittingSize(platform::PopupPanel& panel,
                                                 const std::optional<platform::Screen>& screen) {
  auto size = panel.fittingContentSize();
  if (size && screen) {
    const double room = screen->visibleFrame.size.height - 2 * PopupPlacement::kScreenMargin;
    size->height = std::min(size->height, std::max(room, 0.0));
  }
  return size;
}

}  // namespace

void PopupPlacement::fit(platform::PopupPanel& panel, const platform::Screens& screens) {
  std::optional<platform::Screen> screen;
  const Point m = screens.mouseLocation();
  for (const platform::Screen& candidate : screens.screens()) {
    if (candidate.frame.containsPointer(m)) {
      screen = candidate;
      break;
    }
  }
  if (!screen) screen = screens.mainScreen();
  if (const auto size = boundedFittingSize(panel, screen)) panel.setContentSize(*size);
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
  auto screen = panel.screen();
  if (!screen) screen = screens.mainScreen();
  if (const auto size = boundedFittingSize(panel, screen)) after.size = *size;
  after.origin = {before.minX(), before.maxY() - after.size.height};
  // One step: resized first and moved after, the panel would show for a moment with its bottom-left
  // corner kept instead.
  if (!(after == before)) panel.setFrame(after);
  clampToVisibleFrame(panel, screens);
}

}  // namespace quorvelle
