#include "platform/linux/desktop/X11Accessibility.h"

#include <QClipboard>
#include <QGuiApplication>
#include <cstdlib>
#include <string>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Connection.h"

namespace platform {

namespace {

bool isWaylandSession() {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  if (type && std::string(type) == "wayland") return true;
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (wayland && *wayland) || QGuiApplication::platformName() != "xcb";
}

}  // namespace

X11Accessibility::X11Accessibility(const X11Connection* x11) : x11_(x11) {}

bool X11Accessibility::isTrusted() {
  return x11_ && x11_->hasXTest() && !isWaylandSession();
}

bool X11Accessibility::openURL(std::string_view url) {
  log(LogLevel::info, "X11Accessibility: no settings page to open for " + std::string(url));
  return false;
}

std::optional<std::string> X11Accessibility::focusedSelectedText() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard || !clipboard->supportsSelection()) return std::nullopt;
  return clipboard->text(QClipboard::Selection).toStdString();
}

}  // namespace platform
