#include "platform/linux/desktop/QtApplicationNotifications.h"

#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QWindow>
#include <string>

#include "platform/AppNotifications.h"

namespace platform {

namespace names = notifications;

QtApplicationNotifications::QtApplicationNotifications(NotificationCenter& center)
    : center_(center), context_(std::make_unique<QObject>()) {
  active_ = QGuiApplication::applicationState() == Qt::ApplicationActive;
  QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged, context_.get(),
                   [this](Qt::ApplicationState state) {
                     const bool active = state == Qt::ApplicationActive;
                     if (active == active_) return;
                     active_ = active;
                     post(active ? names::applicationDidBecomeActive : names::applicationDidResignActive);
                   });
  QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, context_.get(), [this](QWindow* window) {
    // Only the focused window's moves count: the connection goes with the focus.
    focusContext_ = std::make_unique<QObject>();
    if (window == nullptr) return;
    QObject::connect(window, &QWindow::screenChanged, focusContext_.get(),
                     [this] { post(names::windowDidChangeScreen); });
    post(names::windowDidBecomeKey);
  });
}

QtApplicationNotifications::~QtApplicationNotifications() = default;

void QtApplicationNotifications::finishedLaunching() {
  if (launched_) return;
  launched_ = true;
  post(names::applicationDidFinishLaunching);
}

void QtApplicationNotifications::post(std::string_view name) {
  center_.post(std::string(name));
}

}  // namespace platform
