#include "platform/linux/desktop/QtPopupPanel.h"

#include <QApplication>
#include <QResizeEvent>
#include <QWidget>
#include <cmath>
#include <optional>

#include "platform/linux/desktop/QtScreenCoordinates.h"
#include "platform/linux/desktop/QtScreens.h"

namespace platform {
namespace {

QSize pixelSize(Size size) {
  return {static_cast<int>(std::lround(size.width)), static_cast<int>(std::lround(size.height))};
}

}  // namespace

WindowId windowIdOf(const QWidget* topLevel) {
  return reinterpret_cast<std::uintptr_t>(topLevel);
}

class QtPopupPanel::Window final : public QWidget {
 public:
  Window() : QWidget(nullptr, flagsFor(false)) {
    setObjectName("popupPanel");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_X11NetWmWindowTypeUtility);
    // Qt shows tooltips in active windows only, and the panel is active only while it takes the
    // keyboard (quick translate).
    setAttribute(Qt::WA_AlwaysShowToolTips);
  }

  // Override-redirect (the window manager never manages it): a managed window, even one kept above
  // the others, stays below a full-screen window, which window managers stack in a layer of its own.
  // Unmanaged, the panel is wherever it was last raised, so every showing raises it.
  static Qt::WindowFlags flagsFor(bool takesFocus) {
    Qt::WindowFlags flags =
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint;
    if (!takesFocus) flags |= Qt::WindowDoesNotAcceptFocus;
    return flags;
  }

  QPointer<QWidget> content;
  std::function<void()> resizeHandler;
  QSize lastSize;
  // Where the panel was last put (Qt's top-left), the one authority on its position. A window manager
  // reparents a freshly mapped window into a frame of its own, and until it has placed that frame Qt
  // may read the window's position relative to the frame, (0, 0): a refit starting from that corner
  // would throw the popup into the screen's corner. Nobody else moves a frameless panel.
  std::optional<QPoint> placed;

  QRect placedGeometry() const { return QRect(placed.value_or(pos()), size()); }

  // Calls the handler once per change of size, whoever made it.
  void noteSize() {
    if (size() == lastSize) return;
    lastSize = size();
    if (content) content->setGeometry(rect());
    if (resizeHandler) resizeHandler();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    noteSize();
  }
};

namespace {

// Qt gives a tooltip that still shows to the next widget that wants one, where it is, without raising
// it: once the panel has come to the front over it, the popup's next tooltip would stay out of sight
// below the panel.
void raiseShowingTooltips() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->windowType() == Qt::ToolTip && window->isVisible()) window->raise();
  }
}

}  // namespace

QtPopupPanel::QtPopupPanel() : window_(std::make_unique<Window>()) {}

QtPopupPanel::~QtPopupPanel() = default;

void QtPopupPanel::setContent(QWidget* content) {
  delete window_->content.data();
  window_->content = content;
  if (content == nullptr) return;
  content->setParent(window_.get());
  content->setGeometry(window_->rect());
  content->show();
}

QWidget* QtPopupPanel::window() const {
  return window_.get();
}

Rect QtPopupPanel::frame() const {
  return qt_coordinates::fromQt(QRectF(window_->placedGeometry()));
}

void QtPopupPanel::setFrameOrigin(Point origin) {
  window_->placed = qt_coordinates::topLeftInQt(origin, window_->height());
  window_->move(*window_->placed);
}

void QtPopupPanel::setContentSize(Size size) {
  if (pixelSize(size) == window_->size()) return;
  // The origin is the bottom-left corner: keep it, so a taller panel grows upward here and the
  // placement code decides where it goes.
  setFrame({frame().origin, size});
}

void QtPopupPanel::setFrame(Rect frame) {
  const QSize size = pixelSize(frame.size);
  window_->placed = qt_coordinates::topLeftInQt(frame.origin, size.height());
  window_->setGeometry(QRect(*window_->placed, size));
  window_->noteSize();
}

std::optional<Size> QtPopupPanel::fittingContentSize() {
  if (!window_->content) return std::nullopt;
  const QSize hint = window_->content->sizeHint();
  return Size{static_cast<double>(hint.width()), static_cast<double>(hint.height())};
}

bool QtPopupPanel::isVisible() const {
  return window_->isVisible();
}

void QtPopupPanel::setTakesFocus(bool takesFocus) {
  const Qt::WindowFlags wanted = Window::flagsFor(takesFocus);
  if (window_->windowFlags() == wanted) return;
  // Changing the flags recreates the native window hidden, somewhere else: keep where it was.
  const QRect geometry = window_->placedGeometry();
  window_->setWindowFlags(wanted);
  window_->setGeometry(geometry);
}

void QtPopupPanel::orderFrontWithoutFocus() {
  setTakesFocus(false);
  window_->show();
  window_->raise();
  raiseShowingTooltips();
}

void QtPopupPanel::makeKeyAndOrderFront() {
  setTakesFocus(true);
  window_->show();
  window_->raise();
  raiseShowingTooltips();
  window_->activateWindow();
}

void QtPopupPanel::orderOut() {
  window_->hide();
}

std::optional<Screen> QtPopupPanel::screen() const {
  const Rect f = frame();
  std::optional<Screen> best;
  double bestArea = 0;
  for (const Screen& s : QtScreens().screens()) {
    const double area = s.frame.intersectionArea(f);
    if (area > bestArea) {
      bestArea = area;
      best = s;
    }
  }
  return best;
}

WindowId QtPopupPanel::windowId() const {
  return windowIdOf(window_.get());
}

void QtPopupPanel::setResizeHandler(std::function<void()> handler) {
  window_->resizeHandler = std::move(handler);
}

}  // namespace platform
