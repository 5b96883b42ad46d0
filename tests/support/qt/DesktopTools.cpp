#include "tests/support/qt/DesktopTools.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QTest>
#include <QWindow>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "tests/support/Eventually.h"

namespace quorvelle::test {

std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& args,
                                     const QProcessEnvironment& env) {
  auto process = std::make_unique<QProcess>();
  process->setProcessEnvironment(env);
  process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process->start(program, args);
  return process;
}

void stopChild(std::unique_ptr<QProcess>& process) {
  if (!process || process->state() == QProcess::NotRunning) return;
  process->terminate();
  if (!process->waitForFinished(5000)) {
    process->kill();
    process->waitForFinished(5000);
  }
}

std::optional<QString> runTool(const QString& program, const QStringList& args) {
  QProcess process;
  process.start(program, args);
  if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, program.toStdString() + " ended")) {
    process.kill();
    process.waitForFinished();
    return std::nullopt;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
  return QString::fromUtf8(process.readAllStandardOutput());
}

bool busNameHasOwner(const QString& name) {
  const auto reply =
      runTool("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name});
  return reply && reply->contains("boolean true");
}

void xdotool(const QStringList& args) {
  ASSERT_TRUE(runTool("xdotool", args)) << "xdotool " << args.join(' ').toStdString();
}

std::optional<QRect> windowGeometry(const QString& window) {
  const auto out = runTool("xdotool", {"getwindowgeometry", "--shell", window});
  if (!out) return std::nullopt;
  QRect rect;
  for (const QString& line : out->split('\n')) {
    const QString value = line.section('=', 1);
    if (line.startsWith("X=")) rect.moveLeft(value.toInt());
    if (line.startsWith("Y=")) rect.moveTop(value.toInt());
    if (line.startsWith("WIDTH=")) rect.setWidth(value.toInt());
    if (line.startsWith("HEIGHT=")) rect.setHeight(value.toInt());
  }
  return rect;
}

testing::AssertionResult waitUntilExposed(const QWidget* widget) {
  return waitUntil(
      [&] {
        const QWindow* window = widget->window()->windowHandle();
        return window != nullptr && window->isExposed();
      },
      "the window is exposed");
}

testing::AssertionResult waitUntilActive(const QWidget* widget) {
  // The offscreen platform activates nothing: there a window that shows is as far as it goes.
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return waitUntilExposed(widget);
  return waitUntil([&] { return widget->isActiveWindow(); }, "the window is active");
}

bool selectionHasOwner(const char* name) {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr) return false;
  xcb_connection_t* conn = x11->connection();
  auto* atom = xcb_intern_atom_reply(
      conn, xcb_intern_atom(conn, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  if (atom == nullptr) return false;
  auto* owner = xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, atom->atom), nullptr);
  const bool owned = owner != nullptr && owner->owner != XCB_NONE;
  std::free(owner);
  std::free(atom);
  return owned;
}

bool focusIsIn(const QString& window) {
  bool ok = false;
  const xcb_window_t target = window.trimmed().toUInt(&ok, 0);
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!ok || x11 == nullptr) return false;
  xcb_connection_t* conn = x11->connection();
  auto* focus = xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr);
  xcb_window_t current = focus != nullptr ? focus->focus : XCB_NONE;
  std::free(focus);
  // PointerRoot (1) and None stand for no window.
  while (current > 1) {
    if (current == target) return true;
    auto* tree = xcb_query_tree_reply(conn, xcb_query_tree(conn, current), nullptr);
    if (tree == nullptr) return false;
    current = tree->parent == tree->root ? XCB_NONE : tree->parent;
    std::free(tree);
  }
  return false;
}

namespace {

// Hears, on a connection of its own, when a client takes the keyboard and the pointer, as a menu does when it
// opens: the window that has the focus (the root window while the focus follows the pointer) receives a
// FocusOut of mode Grab as the keyboard grab begins, and the window under the pointer a LeaveNotify of
// mode Grab as the pointer grab does. Watching takes nothing from anyone, where trying a grab of our own
// could make theirs fail.
class GrabWatch {
 public:
  GrabWatch() : conn_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(conn_)) return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
    auto* focus = xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr);
    // None and PointerRoot (0 and 1) stand for no window.
    const xcb_window_t focused = focus != nullptr && focus->focus > 1 ? focus->focus : root;
    std::free(focus);
    const std::uint32_t focusMask = XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(conn_, focused, XCB_CW_EVENT_MASK, &focusMask);
    // The innermost window under the pointer.
    xcb_window_t under = root;
    for (int depth = 0; depth < 32; ++depth) {
      auto* pointer = xcb_query_pointer_reply(conn_, xcb_query_pointer(conn_, under), nullptr);
      const xcb_window_t child = pointer != nullptr ? pointer->child : XCB_NONE;
      std::free(pointer);
      if (child == XCB_NONE) break;
      under = child;
    }
    const std::uint32_t crossingMask = XCB_EVENT_MASK_LEAVE_WINDOW | (under == focused ? focusMask : 0);
    xcb_change_window_attributes(conn_, under, XCB_CW_EVENT_MASK, &crossingMask);
    std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
  }
  ~GrabWatch() { xcb_disconnect(conn_); }
  GrabWatch(const GrabWatch&) = delete;
  GrabWatch& operator=(const GrabWatch&) = delete;

  bool keyboardAndPointerGrabbed() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
      const auto type = event->response_type & 0x7f;
      if (type == XCB_FOCUS_OUT &&
          reinterpret_cast<xcb_focus_out_event_t*>(event)->mode == XCB_NOTIFY_MODE_GRAB)
        keyboard_ = true;
      if (type == XCB_LEAVE_NOTIFY &&
          reinterpret_cast<xcb_leave_notify_event_t*>(event)->mode == XCB_NOTIFY_MODE_GRAB)
        pointer_ = true;
      std::free(event);
    }
    return keyboard_ && pointer_;
  }

 private:
  xcb_connection_t* conn_;
  bool keyboard_ = false;
  bool pointer_ = false;
};

}  // namespace

void openTrayMenu(const QString& icon, const std::function<QStringList()>& windows) {
  const auto frame = windowGeometry(icon);
  ASSERT_TRUE(frame) << "the tray icon is gone";
  const qsizetype before = windows().size();
  // The pointer comes to the icon as a person's does, from elsewhere on the screen.
  ASSERT_NO_FATAL_FAILURE(xdotool({"mousemove", QString::number(frame->center().x()),
                                   QString::number(frame->bottom() + frame->height())}));
  ASSERT_NO_FATAL_FAILURE(
      xdotool({"mousemove", QString::number(frame->center().x()), QString::number(frame->center().y())}));
  GrabWatch watch;
  ASSERT_NO_FATAL_FAILURE(xdotool({"click", "3"}));
  ASSERT_TRUE(waitUntil([&] { return windows().size() > before; }, "the tray menu showed"))
      << "windows before the click: " << before << "; now: " << windows().join(' ').toStdString();
  // A key that ends the menu before it has taken the keyboard and the pointer leaves a grab behind that eats
  // the next click.
  ASSERT_TRUE(waitUntil([&] { return watch.keyboardAndPointerGrabbed(); },
                        "the tray menu took the keyboard and the pointer"));
}

void startWindowManager(std::unique_ptr<QProcess>& windowManager) {
  windowManager =
      startChild("openbox", {"--sm-disable", "--config-file",
                             QStringLiteral(QUORVELLE_SOURCE_DIR "/tests/support/qt/openbox.xml")});
  ASSERT_TRUE(waitUntil([] { return selectionHasOwner("WM_S0"); }, "openbox took the screen"));
  // Openbox takes the screen before it reads its first events, and a map request that comes in between
  // can be lost: it is up once it has mapped a window of ours. (The request is repeated meanwhile.)
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  ASSERT_NE(x11, nullptr);
  xcb_connection_t* conn = x11->connection();
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
  const xcb_window_t probe = xcb_generate_id(conn);
  xcb_create_window(conn, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  int looks = 0;
  EXPECT_TRUE(waitUntil(
      [&] {
        if (looks++ % 50 == 0) xcb_map_window(conn, probe);
        auto* attributes =
            xcb_get_window_attributes_reply(conn, xcb_get_window_attributes(conn, probe), nullptr);
        const bool mapped = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        return mapped;
      },
      "openbox mapped a window"));
  xcb_destroy_window(conn, probe);
  xcb_flush(conn);
}

void startTray(std::unique_ptr<QProcess>& tray) {
  tray = startChild("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                               "24", "--transparent", "false"});
  ASSERT_TRUE(waitUntil([] { return selectionHasOwner("_NET_SYSTEM_TRAY_S0"); }, "trayer takes icons"));
}

}  // namespace quorvelle::test
