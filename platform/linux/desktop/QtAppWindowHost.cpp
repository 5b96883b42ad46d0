#include "platform/linux/desktop/QtAppWindowHost.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace platform {
namespace {

// Qt's y of the bottom edge of the primary screen: where the y-up coordinates have their origin.
double primaryBottom() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 0;
  const QRect g = screen->geometry();
  return g.y() + g.height();
}

class QtAppWindow final : public AppWindow {
 public:
  explicit QtAppWindow(QWidget* content) : window_(new QWidget(nullptr, Qt::Window)) {
    window_->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    if (content) layout->addWidget(content);
    content_ = content;
  }
  ~QtAppWindow() override {
    // Later, not now: the last call into the window may come from a signal of its own content (the
    // onboarding's finish button), which must be allowed to return first.
    if (window_) {
      window_->hide();
      window_->deleteLater();
    }
  }

  void setTitle(const std::string& title) override { window_->setWindowTitle(QString::fromStdString(title)); }
  void setStyle(const WindowStyle&) override {
    // X11 window managers draw their own title bars; there is nothing to make transparent.
  }
  Size contentFittingSize() const override {
    const QSize hint = content_ ? content_->sizeHint() : QSize();
    if (!hint.isValid()) return {};
    return {double(hint.width()), double(hint.height())};
  }
  void setContentSize(Size size) override { window_->resize(int(size.width), int(size.height)); }
  Rect frame() const override {
    const QRect f = window_->isVisible() ? window_->frameGeometry() : window_->geometry();
    return {{double(f.x()), primaryBottom() - f.y() - f.height()}, {double(f.width()), double(f.height())}};
  }
  void setFrameOrigin(Point origin) override {
    const double height = frame().size.height;
    window_->move(int(origin.x), int(primaryBottom() - origin.y - height));
  }
  void makeKeyAndOrderFront() override {
    window_->show();
    window_->raise();
    window_->activateWindow();
  }
  void close() override { window_->hide(); }
  bool isVisible() const override { return window_ && window_->isVisible(); }

 private:
  QPointer<QWidget> window_;
  QPointer<QWidget> content_;
};

}  // namespace

std::unique_ptr<AppWindow> QtAppWindowHost::makeWindow(QWidget* content) {
  return std::make_unique<QtAppWindow>(content);
}

}  // namespace platform
