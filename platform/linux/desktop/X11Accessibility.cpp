#include "platform/linux/desktop/X11Accessibility.h"

#include <QtGui/qguiapplication_platform.h>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>
#include <cstdlib>
#include <string>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11Reply.h"

namespace platform {

namespace {

bool isWaylandSession() {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  if (type && std::string(type) == "wayland") return true;
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (wayland && *wayland) || QGuiApplication::platformName() != "xcb";
}

// A text cursor's selection separates paragraphs with U+2029 and lines with U+2028; anywhere else they
// are line breaks.
std::string plainSelection(QString text) {
  text.replace(QChar(0x2029), u'\n');
  text.replace(QChar(0x2028), u'\n');
  return text.toStdString();
}

// The selection of the widget that has the keyboard focus in this program; nothing when it has no
// selection to offer.
std::optional<std::string> focusedWidgetSelection() {
  QWidget* widget = QApplication::focusWidget();
  if (auto* line = qobject_cast<QLineEdit*>(widget)) return line->selectedText().toStdString();
  if (auto* text = qobject_cast<QTextEdit*>(widget)) return plainSelection(text->textCursor().selectedText());
  if (auto* plain = qobject_cast<QPlainTextEdit*>(widget))
    return plainSelection(plain->textCursor().selectedText());
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->selectedText().toStdString();
  return std::nullopt;
}

}  // namespace

X11Accessibility::X11Accessibility(X11Connection* x11, MainExecutor& executor,
                                   std::chrono::milliseconds selectionDeadline)
    : x11_(x11) {
  if (x11_) reader_ = std::make_unique<X11SelectionReader>(*x11_, executor, selectionDeadline);
}

X11Accessibility::~X11Accessibility() = default;

bool X11Accessibility::isTrusted() {
  return x11_ && x11_->hasXTest() && !isWaylandSession();
}

bool X11Accessibility::openURL(std::string_view url) {
  log(LogLevel::info, "X11Accessibility: no settings page to open for " + std::string(url));
  return false;
}

std::optional<xcb_window_t> X11Accessibility::focusedWindow() const {
  xcb_connection_t* c = x11_->connection();
  XcbReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!focus || focus->focus == XCB_NONE) return std::nullopt;
  if (focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT && focus->focus != x11_->root()) return focus->focus;
  // Keys go to the window under the pointer: the deepest one there.
  xcb_window_t window = x11_->root();
  for (int depth = 0; depth < 64; ++depth) {
    XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, window), nullptr));
    if (!pointer || pointer->child == XCB_NONE) break;
    window = pointer->child;
  }
  if (window == x11_->root()) return std::nullopt;
  return window;
}

bool X11Accessibility::sameClient(xcb_window_t a, xcb_window_t b) const {
  const std::uint32_t mask = xcb_get_setup(x11_->connection())->resource_id_mask;
  return (a & ~mask) == (b & ~mask);
}

bool X11Accessibility::isOwnWindow(xcb_window_t window) const {
  auto* native = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!native || !native->connection()) return false;
  const std::uint32_t base = xcb_get_setup(native->connection())->resource_id_base;
  return sameClient(window, base);
}

void X11Accessibility::readFocusedSelectedText(SelectedTextCompletion completion) {
  if (!x11_) return completion(std::nullopt);
  const auto focus = focusedWindow();
  if (!focus) return completion(std::nullopt);
  if (isOwnWindow(*focus)) return completion(focusedWidgetSelection());

  xcb_connection_t* c = x11_->connection();
  XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, XCB_ATOM_PRIMARY), nullptr));
  if (!owner || owner->owner == XCB_NONE || !sameClient(owner->owner, *focus))
    return completion(std::nullopt);
  reader_->readText(XCB_ATOM_PRIMARY, std::move(completion));
}

}  // namespace platform
