#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/AppSettings.h"
#include "app/LookupClient.h"
#include "app/PopupController.h"
#include "app/PopupView.h"
#include "app/SelectionCapture.h"
#include "platform/NotificationCenter.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/RecordingAudioPlayer.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/fake/ScriptedHttpClient.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/QtPopupPanel.h"
#include "platform/linux/desktop/QtScreens.h"
#include "platform/linux/desktop/X11Connection.h"
#include "program/DesktopEventMonitors.h"
#include "program/DesktopPopup.h"
#include "tests/support/Eventually.h"
#include "tests/support/http/LoopbackHttpServer.h"
#include "tests/support/qt/DesktopTools.h"

namespace {

using quorvelle::test::waitUntil;

using quorvelle::PopupMode;

// A window of another X client: a second connection with a plain window of its own.
class ForeignWindow {
 public:
  explicit ForeignWindow(QRect where) : x11_(platform::X11Connection::open()) {
    auto* conn = x11_->connection();
    window_ = xcb_generate_id(conn);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
    const std::uint32_t values[] = {screen->white_pixel};
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, window_, x11_->root(), static_cast<std::int16_t>(where.x()),
                      static_cast<std::int16_t>(where.y()), static_cast<std::uint16_t>(where.width()),
                      static_cast<std::uint16_t>(where.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL, values);
    xcb_map_window(conn, window_);
    x11_->flush();
  }

  bool isViewable() const {
    auto* conn = x11_->connection();
    auto* attributes =
        xcb_get_window_attributes_reply(conn, xcb_get_window_attributes(conn, window_), nullptr);
    const bool viewable = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    return viewable;
  }

 private:
  std::unique_ptr<platform::X11Connection> x11_;
  xcb_window_t window_ = 0;
};

// Pointer moves and clicks as a person would make them, through the XTest device.
void xdotool(const QStringList& args) {
  ASSERT_EQ(QProcess::execute("xdotool", args), 0) << args.join(' ').toStdString();
}

class PopupPanelX11Test : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A window manager decides focus the way a desktop does: the panel must not take it even then.
    ASSERT_FALSE(QStandardPaths::findExecutable("openbox").isEmpty())
        << "openbox is needed (scripts/setup.sh installs it)";
    wm = std::make_unique<std::unique_ptr<QProcess>>();
    ASSERT_NO_FATAL_FAILURE(quorvelle::test::startWindowManager(*wm));
  }
  static void TearDownTestSuite() {
    if (wm) quorvelle::test::stopChild(*wm);
    wm.reset();
  }

  void SetUp() override { ASSERT_NE(x11, nullptr); }
  void TearDown() override { popup.controller().dismiss(); }

  void pointerTo(QPoint p) {
    xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    ASSERT_TRUE(waitUntil([&] { return QCursor::pos() == p; }, "QCursor::pos() == p"));
  }
  void showAt(QPoint pointer) {
    pointerTo(pointer);
    popup.show("Good morning", PopupMode::translate);
    ASSERT_TRUE(waitUntil([&] { return panel.isVisible(); }, "the panel shows"));
    // Mapped by the window manager where it was put.
    const QString window = QString::number(panel.window()->winId());
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto frame = quorvelle::test::windowGeometry(window);
          return frame && frame->topLeft() == panel.window()->geometry().topLeft();
        },
        "the panel is on the screen at its place"));
  }

  // Clicks at `p` and waits until every X event of the click has been handled: the panel's own window
  // receives the release (when it is under the pointer), and the raw events of the monitors'
  // connection, queued before the reply of a round trip made after it, have been dispatched.
  void clickInsideThePanel(QPoint p) {
    int releases = 0;
    quorvelle::test::EventCounter counter(panel.window()->windowHandle(), QEvent::MouseButtonRelease,
                                          releases);
    pointerTo(p);
    xdotool({"click", "1"});
    ASSERT_TRUE(waitUntil([&] { return releases > 0; }, "the panel received the click"));
    std::free(xcb_get_input_focus_reply(x11->connection(), xcb_get_input_focus(x11->connection()), nullptr));
    x11->dispatchPending();
    QCoreApplication::processEvents();
  }

  static inline std::unique_ptr<std::unique_ptr<QProcess>> wm;

  std::unique_ptr<platform::X11Connection> x11 = platform::X11Connection::open();
  platform::QtMainExecutor executor;
  platform::NotificationCenter notifications;
  platform::fake::ScriptedHttpClient http;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  quorvelle::Keychain keychain{secrets, keyringWorker, executor};
  quorvelle::GeminiKeyManager geminiKey{keychain};
  quorvelle::LookupClient lookup{http, executor, geminiKey, "https://backend.invalid", "Refine."};
  platform::QtPopupPanel panel;
  platform::QtScreens screens;
  quorvelle::DesktopEventMonitors monitors{x11.get(), nullptr};
  platform::fake::RecordingAudioPlayer audio;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system{{"fr-FR"}};
  quorvelle::AppSettings settings{defaults, system};
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::RecordingKeystrokeSender keystrokes;
  quorvelle::SelectionCapture selection{accessibility, pasteboard, keystrokes, executor};
  // The same assembly as the program's.
  quorvelle::DesktopPopup popup{
      panel,
      {executor, notifications, lookup, panel, screens, monitors, audio, settings, pasteboard, selection}};
};

TEST_F(PopupPanelX11Test, OpensNextToThePointerWithoutTakingFocus) {
  QWidget other;
  auto* field = new QLineEdit(&other);
  (new QVBoxLayout(&other))->addWidget(field);
  other.setGeometry(100, 600, 300, 80);
  other.show();
  other.activateWindow();
  field->setFocus();
  ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }, "field->hasFocus()"));
  // The X server's focus follows the toolkit's once its request is through: read it only then.
  const auto xFocus = [&] {
    auto* reply =
        xcb_get_input_focus_reply(x11->connection(), xcb_get_input_focus(x11->connection()), nullptr);
    const xcb_window_t focus = reply ? reply->focus : 0;
    std::free(reply);
    return focus;
  };
  const auto focusBefore = static_cast<xcb_window_t>(other.winId());
  ASSERT_TRUE(waitUntil([&] { return xFocus() == focusBefore; }, "the X focus is on the other window"));

  showAt({400, 300});
  // Its top-left corner 20 left of and 24 below the pointer, sized to the translate layout.
  EXPECT_EQ(panel.window()->geometry().topLeft(), QPoint(380, 324));
  EXPECT_EQ(panel.window()->width(), 340);

  EXPECT_TRUE(field->hasFocus());
  EXPECT_EQ(QApplication::activeWindow(), &other);
  auto* reply = xcb_get_input_focus_reply(x11->connection(), xcb_get_input_focus(x11->connection()), nullptr);
  EXPECT_EQ(reply->focus, focusBefore);
  EXPECT_NE(reply->focus, panel.window()->winId());
  std::free(reply);
  // Typing still reaches the field.
  xdotool({"type", "ok"});
  EXPECT_TRUE(waitUntil([&] { return field->text() == "ok"; }, "field->text() == \"ok\""));
}

TEST_F(PopupPanelX11Test, ClickOrWheelInAnotherApplicationClosesAClickInsideDoesNot) {
  ForeignWindow foreign(QRect(800, 100, 300, 300));
  ASSERT_TRUE(waitUntil([&] { return foreign.isViewable(); }, "the other application's window shows"));

  showAt({400, 300});
  ASSERT_NO_FATAL_FAILURE(clickInsideThePanel(panel.window()->geometry().center()));
  EXPECT_TRUE(panel.isVisible()) << "a click inside the popup keeps it open";

  pointerTo({900, 200});
  xdotool({"click", "1"});
  EXPECT_TRUE(waitUntil([&] { return !panel.isVisible(); }, "!panel.isVisible()")) << "left click elsewhere";

  showAt({400, 300});
  pointerTo({900, 200});
  xdotool({"click", "3"});
  EXPECT_TRUE(waitUntil([&] { return !panel.isVisible(); }, "!panel.isVisible()")) << "right click elsewhere";

  showAt({400, 300});
  pointerTo({900, 200});
  xdotool({"click", "5"});
  EXPECT_TRUE(waitUntil([&] { return !panel.isVisible(); }, "!panel.isVisible()")) << "wheel turn elsewhere";
}

// The real transport against a backend that hangs up on the refine after a translation went well over
// the same connection: the refine arrives once and the popup says the backend cannot be reached.
TEST_F(PopupPanelX11Test, ABackendThatHangsUpIsAskedOnceAndThePopupShowsTheError) {
  quorvelle::test::LoopbackHttpServer server;
  platform::CurlHttpClient curl;
  quorvelle::LookupClient backend{curl, executor, geminiKey, server.baseURL(), "Refine."};
  platform::QtPopupPanel ownPanel;
  quorvelle::DesktopPopup realPopup{ownPanel,
                                    {executor, notifications, backend, ownPanel, screens, monitors, audio,
                                     settings, pasteboard, selection}};
  const auto& model = realPopup.controller().model();

  server.enqueue(quorvelle::test::ScriptedReply::json(R"({"success":true,"data":{"translated":"Bonjour"}})"));
  realPopup.show("Good morning", PopupMode::translate);
  ASSERT_TRUE(waitUntil([&] { return model.translation().has_value(); }, "model.translation().has_value()"));

  quorvelle::test::ScriptedReply hangUp;
  hangUp.action = quorvelle::test::ScriptedReply::Action::drop;
  for (int i = 0; i < 3; ++i) server.enqueue(hangUp);
  realPopup.show("me and him goes", PopupMode::refine);
  ASSERT_TRUE(
      waitUntil([&] { return model.errorMessage().has_value(); }, "model.errorMessage().has_value()"));
  EXPECT_EQ(*model.errorMessage(), quorvelle::LookupError::backendUnreachable().errorDescription());
  EXPECT_TRUE(ownPanel.isVisible());
  // A second attempt would have come before the popup gave up.
  EXPECT_EQ(server.requests().size(), 2u)
      << "the refine was sent " << server.requests().size() - 1 << " times";
  realPopup.controller().dismiss();
}

TEST_F(PopupPanelX11Test, TheViewIsBuiltAndThePanelWarmedAfterTheEventLoopFirstWaitsAndNothingShows) {
  // No event loop has waited since the popup was made. (The other tests show it before one does: there
  // the request builds the view, which their sizes depend on.)
  EXPECT_FALSE(popup.hasView());
  EXPECT_EQ(panel.window()->findChild<quorvelle::PopupView*>(), nullptr);
  EXPECT_FALSE(panel.window()->testAttribute(Qt::WA_WState_Created));
  // The first wait comes before the work: start-up up to it pays nothing for the popup.
  std::optional<bool> builtAtFirstWait;
  QObject::connect(
      QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, panel.window(),
      [&] { builtAtFirstWait = popup.hasView(); }, Qt::SingleShotConnection);
  QEventLoop loop;
  QTimer::singleShot(0, &loop, &QEventLoop::quit);
  loop.exec();
  ASSERT_TRUE(waitUntil([&] { return popup.isWarm(); }, "popup.isWarm()"));
  EXPECT_EQ(builtAtFirstWait, std::optional<bool>(false));
  EXPECT_TRUE(popup.hasView());
  EXPECT_NE(panel.window()->findChild<quorvelle::PopupView*>(), nullptr);
  // The native window exists, unmapped: no flash of a window.
  ASSERT_TRUE(panel.window()->testAttribute(Qt::WA_WState_Created));
  EXPECT_FALSE(panel.isVisible());
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  auto* attributes = xcb_get_window_attributes_reply(
      connection, xcb_get_window_attributes(connection, static_cast<xcb_window_t>(panel.window()->winId())),
      nullptr);
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(attributes->map_state, XCB_MAP_STATE_UNMAPPED);
  EXPECT_TRUE(attributes->override_redirect);
  std::free(attributes);
  xcb_disconnect(connection);
  for (QWidget* top : QApplication::topLevelWidgets()) {
    EXPECT_EQ(dynamic_cast<quorvelle::PopupView*>(top), nullptr) << "the scratch view is gone";
    EXPECT_FALSE(top->isVisible()) << top->metaObject()->className() << " is shown";
  }
}

}  // namespace
