#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/PopupPanel.h"

namespace platform::fake {

// A panel that only stores its geometry and state. Its content's fitting size is whatever the test sets
// (nothing: no content). The screen it lies on is taken from `screens` (the one it overlaps most), if
// given. Records how it was last shown and how often it moved.
class StoredPopupPanel final : public PopupPanel {
 public:
  explicit StoredPopupPanel(const Screens* screens = nullptr, WindowId id = 7) : screens_(screens), id_(id) {}

  std::optional<Size> contentFittingSize;
  bool hasFocus = false;
  int moveCount = 0;
  int showCount = 0;
  // Every frame the panel was given, in order (set-up by place() aside).
  std::vector<Rect> frames;

  Rect frame() const override { return frame_; }
  void setFrameOrigin(Point origin) override {
    frame_.origin = origin;
    frames.push_back(frame_);
    ++moveCount;
  }
  void setContentSize(Size size) override {
    const bool changed = !(size == frame_.size);
    frame_.size = size;
    frames.push_back(frame_);
    if (changed && resizeHandler_) resizeHandler_();
  }
  void setFrame(Rect frame) override {
    const bool resized = !(frame.size == frame_.size);
    frame_ = frame;
    frames.push_back(frame_);
    ++moveCount;
    if (resized && resizeHandler_) resizeHandler_();
  }
  std::optional<Size> fittingContentSize() override { return contentFittingSize; }

  bool isVisible() const override { return visible_; }
  void orderFrontWithoutFocus() override {
    visible_ = true;
    ++showCount;
  }
  void makeKeyAndOrderFront() override {
    visible_ = true;
    hasFocus = true;
    ++showCount;
  }
  void orderOut() override {
    visible_ = false;
    hasFocus = false;
  }

  std::optional<Screen> screen() const override {
    if (!screens_) return std::nullopt;
    std::optional<Screen> best;
    double bestArea = 0;
    for (const Screen& s : screens_->screens()) {
      const double area = s.frame.intersectionArea(frame_);
      if (area > bestArea) {
        bestArea = area;
        best = s;
      }
    }
    return best;
  }
  WindowId windowId() const override { return id_; }
  void setResizeHandler(std::function<void()> handler) override { resizeHandler_ = std::move(handler); }

  // Test set-up: place and show without counting a move or a show.
  void place(Rect frame, bool visible) {
    frame_ = frame;
    visible_ = visible;
  }

 private:
  const Screens* screens_;
  WindowId id_;
  Rect frame_;
  bool visible_ = false;
  std::function<void()> resizeHandler_;
};

}  // namespace platform::fake
