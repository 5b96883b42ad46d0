#include "platform/linux/desktop/X11Accessibility.h"

#include <QtGui/qguiapplication_platform.h>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11Reply.h"

namespace platform {

namespace {

struct TerminalWindowClass {
  std::string_view name;  // WM_CLASS instance or class name, in lower case
  CopyPasteKeys keys;
};

// Terminal emulators, by the WM_CLASS of their windows. In a terminal Ctrl+C interrupts the command that
// runs there and Ctrl+V is no paste; most take Ctrl+Shift+C and Ctrl+Shift+V instead. The xterm and rxvt
// families have no key that copies or pastes the clipboard unless the user binds one, and there even
// Ctrl+Shift+C is an interrupt: no keystroke goes to them (what is selected there is PRIMARY anyway).
constexpr TerminalWindowClass kTerminalWindowClasses[] = {
    {"gnome-terminal", CopyPasteKeys::withShift},
    {"gnome-terminal-server", CopyPasteKeys::withShift},
    {"kgx", CopyPasteKeys::withShift},
    {"org.gnome.console", CopyPasteKeys::withShift},
    {"ptyxis", CopyPasteKeys::withShift},
    {"org.gnome.ptyxis", CopyPasteKeys::withShift},
    {"konsole", CopyPasteKeys::withShift},
    {"yakuake", CopyPasteKeys::withShift},
    {"xfce4-terminal", CopyPasteKeys::withShift},
    {"mate-terminal", CopyPasteKeys::withShift},
    {"lxterminal", CopyPasteKeys::withShift},
    {"qterminal", CopyPasteKeys::withShift},
    {"deepin-terminal", CopyPasteKeys::withShift},
    {"terminator", CopyPasteKeys::withShift},
    {"tilix", CopyPasteKeys::withShift},
    {"guake", CopyPasteKeys::withShift},
    {"tilda", CopyPasteKeys::withShift},
    {"sakura", CopyPasteKeys::withShift},
    {"terminology", CopyPasteKeys::withShift},
    {"cool-retro-term", CopyPasteKeys::withShift},
    {"alacritty", CopyPasteKeys::withShift},
    {"kitty", CopyPasteKeys::withShift},
    {"org.wezfurlong.wezterm", CopyPasteKeys::withShift},
    {"foot", CopyPasteKeys::withShift},
    {"footclient", CopyPasteKeys::withShift},
    {"st", CopyPasteKeys::withShift},
    {"st-256color", CopyPasteKeys::withShift},
    {"xterm", CopyPasteKeys::none},
    {"uxterm", CopyPasteKeys::none},
    {"lxterm", CopyPasteKeys::none},
    {"rxvt", CopyPasteKeys::none},
    {"urxvt", CopyPasteKeys::none},
    {"rxvt-unicode", CopyPasteKeys::none},
    {"aterm", CopyPasteKeys::none},
    {"eterm", CopyPasteKeys::none},
};

std::string lowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<CopyPasteKeys> terminalKeys(const std::string& name) {
  const std::string lower = lowerAscii(name);
  for (const auto& terminal : kTerminalWindowClasses) {
    if (terminal.name == lower) return terminal.keys;
  }
  return std::nullopt;
}

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

std::optional<std::pair<std::string, std::string>> X11Accessibility::windowClass(xcb_window_t window) const {
  xcb_connection_t* c = x11_->connection();
  for (int depth = 0; depth < 16 && window != XCB_NONE && window != x11_->root(); ++depth) {
    XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
    if (property && property->format == 8 && xcb_get_property_value_length(property.get()) > 0) {
      const auto* bytes = static_cast<const char*>(xcb_get_property_value(property.get()));
      const std::string value(bytes, static_cast<std::size_t>(xcb_get_property_value_length(property.get())));
      // Two NUL-terminated strings: the instance name, then the class name.
      const std::string instance = value.substr(0, value.find('\0'));
      const std::size_t rest = std::min(value.size(), instance.size() + 1);
      const std::string className = value.substr(rest, value.find('\0', rest) - rest);
      return std::pair{instance, className};
    }
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!tree) break;
    window = tree->parent;
  }
  return std::nullopt;
}

CopyPasteKeys X11Accessibility::focusedWindowCopyPasteKeys() {
  if (!x11_) return CopyPasteKeys::standard;
  const auto focus = focusedWindow();
  if (!focus || isOwnWindow(*focus)) return CopyPasteKeys::standard;
  const auto names = windowClass(*focus);
  if (!names) return CopyPasteKeys::standard;
  if (const auto keys = terminalKeys(names->first)) return *keys;
  return terminalKeys(names->second).value_or(CopyPasteKeys::standard);
}

bool X11Accessibility::focusedClientOwns(xcb_atom_t selection) const {
  const auto focus = focusedWindow();
  if (!focus || selection == XCB_NONE) return false;
  xcb_connection_t* c = x11_->connection();
  XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
  return owner && owner->owner != XCB_NONE && sameClient(owner->owner, *focus);
}

bool X11Accessibility::focusedWindowOwnsClipboard() {
  if (!x11_) return false;
  if (clipboard_ == XCB_NONE) clipboard_ = internAtom(x11_->connection(), "CLIPBOARD");
  return focusedClientOwns(clipboard_);
}

void X11Accessibility::readFocusedSelectedText(SelectedTextCompletion completion) {
  if (!x11_) return completion(std::nullopt);
  const auto focus = focusedWindow();
  if (!focus) return completion(std::nullopt);
  if (isOwnWindow(*focus)) return completion(focusedWidgetSelection());
  if (!focusedClientOwns(XCB_ATOM_PRIMARY)) return completion(std::nullopt);
  reader_->readText(XCB_ATOM_PRIMARY, std::move(completion));
}

}  // namespace platform
