// The recorder against another X client that holds a combination: on X11 the desktop's shortcuts are
// other programs' grabs, so "Use Anyway" can only store a shortcut whose grab the X server grants. And
// against the program's own other shortcut, whose grab is this process's own.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Recorder.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAlertPresenter.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/X11Connection.h"
#include "program/X11ShortcutServices.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"

namespace gs = GlobalShortcuts;
using gs::Key;
using gs::ModifierFlags;
using gs::Name;
using gs::Shortcut;
using platform::AlertPresenter;
using quorvelle::test::waitUntil;

namespace {

constexpr std::uint8_t kBadAccess = 10;

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Another program that holds a combination, the way key-binding daemons do: its grab makes the
// combination its own (nobody else may grab it), yet it hands each press on to the focused window, so
// that the user can still type the combination into the recorder.
class HoldingClient {
 public:
  HoldingClient() {
    poll_.setInterval(5);
    QObject::connect(&poll_, &QTimer::timeout, [this] { handOn(); });
    poll_.start();
  }
  ~HoldingClient() { xcb_disconnect(conn_); }

  // The X error of the grab, 0 when granted.
  int grab(xcb_keycode_t key, std::uint16_t mask, bool handOnPresses) {
    auto* error = xcb_request_check(
        conn_, xcb_grab_key_checked(conn_, 0, root_, mask, key, XCB_GRAB_MODE_ASYNC,
                                    handOnPresses ? XCB_GRAB_MODE_SYNC : XCB_GRAB_MODE_ASYNC));
    const int code = error ? error->error_code : 0;
    std::free(error);
    return code;
  }
  void ungrabAll() { xcb_ungrab_key(conn_, XCB_GRAB_ANY, root_, XCB_MOD_MASK_ANY); }
  int pressesSeen() const { return presses_; }

 private:
  void handOn() {
    while (auto* event = xcb_poll_for_event(conn_)) {
      if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
        ++presses_;
        // The keyboard froze when the grab fired; replayed, the press goes where it would have gone.
        xcb_allow_events(conn_, XCB_ALLOW_REPLAY_KEYBOARD,
                         reinterpret_cast<xcb_key_press_event_t*>(event)->time);
        xcb_flush(conn_);
      }
      std::free(event);
    }
  }

  xcb_connection_t* conn_ = xcb_connect(nullptr, nullptr);
  xcb_window_t root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
  QTimer poll_;
  int presses_ = 0;
};

class RecorderConflictX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    x11 = platform::X11Connection::open();
    ASSERT_TRUE(x11);
    services = std::make_unique<quorvelle::X11ShortcutServices>(*x11, executor, defaults, nullptr,
                                                                std::function<gs::Menu()>{}, &alerts);
  }
  // The recorder needs the services' environment for its whole life.
  void TearDown() override {
    window_.reset();
    services.reset();
  }

  xcb_keycode_t keycode(const char* name) { return *x11->keycodeForName(name); }

  // Shows the recorder of `name` beside a line edit in an active window and clicks it: it records.
  void startRecording(const Name& name) {
    auto* recorder = new gs::Recorder(name);
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    layout->addWidget(recorder);
    layout->addWidget(new QLineEdit);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(quorvelle::test::waitUntilActive(window_.get()));
    field_ = &recorder->field();
    ASSERT_TRUE(
        waitUntil([&] { return field_->focusPolicy() == Qt::StrongFocus; }, "the focus guard lapsing"));
    QTest::mouseClick(field_, Qt::LeftButton);
    ASSERT_TRUE(field_->isRecording());
  }

  platform::QtMainExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::ScriptedAlertPresenter alerts;
  std::unique_ptr<platform::X11Connection> x11;
  std::unique_ptr<quorvelle::X11ShortcutServices> services;
  std::unique_ptr<QWidget> window_;
  gs::RecorderCocoa* field_ = nullptr;
};

TEST_F(RecorderConflictX11Test, UseAnywayOnACombinationAnotherClientHoldsKeepsTheOldShortcut) {
  const Shortcut optionT(Key::t, ModifierFlags::option);
  const Name translate("translate", optionT);
  int translations = 0;
  gs::onKeyDown(translate, [&] { ++translations; });
  ASSERT_TRUE(gs::isEnabled(translate));

  HoldingClient other;
  // Ctrl+Alt+K: Control and Mod1 (Alt) on the key right of J.
  ASSERT_EQ(other.grab(keycode("AC08"), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, /*handOnPresses=*/true), 0);

  ASSERT_NO_FATAL_FAILURE(startRecording(translate));
  auto& field = *field_;

  // The user insists: the second button of the desktop-shortcut alert.
  alerts.enqueueResponse(AlertPresenter::kSecondButtonReturn);
  run("xdotool key ctrl+alt+k");
  ASSERT_TRUE(waitUntil([&] { return alerts.shown().size() == 2 || gs::getShortcut(translate) != optionT; },
                        "a second alert or a stored shortcut"))
      << "the holding client saw " << other.pressesSeen() << " press(es)";
  ASSERT_EQ(alerts.shown().size(), 2u)
      << "stored: " << gs::getShortcut(translate).value_or(optionT).presentableDescription();
  const auto& system = alerts.shown()[0].alert;
  EXPECT_EQ(system.messageText,
            "This keyboard shortcut cannot be used because it is already a system-wide keyboard shortcut.");
  EXPECT_EQ(system.buttonTitles, (std::vector<std::string>{"OK", "Use Anyway"}));
  const auto& held = alerts.shown()[1].alert;
  EXPECT_EQ(held.messageText, "Another program holds Ctrl+Alt+K, so it cannot be used here.");
  EXPECT_TRUE(held.buttonTitles.empty());

  // The old shortcut stays, shown and stored, and keeps working once recording ends.
  EXPECT_EQ(gs::getShortcut(translate), optionT);
  EXPECT_EQ(field.text(), QStringLiteral("Alt+T"));
  ASSERT_TRUE(waitUntil([&] { return field.isRecording(); }, "recording again after the alert"));
  field.clearFocus();
  ASSERT_TRUE(waitUntil([&] { return !field.isRecording() && gs::isEnabled(translate); }, "Alt+T back"));
  run("xdotool key alt+t");
  ASSERT_TRUE(waitUntil([&] { return translations == 1; }, "Alt+T firing"));
  // Still the other program's; and Alt+T still ours.
  HoldingClient probe;
  EXPECT_EQ(probe.grab(keycode("AC08"), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, false), kBadAccess);
  EXPECT_EQ(probe.grab(keycode("AD05"), XCB_MOD_MASK_1, false), kBadAccess);
  other.ungrabAll();
}

TEST_F(RecorderConflictX11Test, TheCombinationOfTheOtherShortcutIsRefusedAndBothKeepFiring) {
  const Shortcut altT(Key::t, ModifierFlags::option);
  const Shortcut altR(Key::r, ModifierFlags::option);
  const Name translate("translate", altT);
  const Name refine("refine", altR);
  int translations = 0;
  int refines = 0;
  gs::onKeyDown(translate, [&] { ++translations; });
  gs::onKeyDown(refine, [&] { ++refines; });
  ASSERT_TRUE(gs::isEnabled(translate) && gs::isEnabled(refine));

  ASSERT_NO_FATAL_FAILURE(startRecording(refine));
  auto& field = *field_;

  // Translate's combination, typed into refine's recorder.
  run("xdotool key alt+t");
  ASSERT_TRUE(waitUntil([&] { return !alerts.shown().empty() || gs::getShortcut(refine) != altR; },
                        "an alert or a stored shortcut"));
  ASSERT_EQ(alerts.shown().size(), 1u)
      << "stored for refine: " << gs::getShortcut(refine).value_or(altR).presentableDescription();
  const auto& alert = alerts.shown()[0].alert;
  EXPECT_EQ(alert.messageText,
            "Another shortcut of this application already uses Alt+T, so it cannot be used here.");
  EXPECT_EQ(alert.informativeText,
            "Record a different combination, or give the other shortcut a new one first.");
  EXPECT_TRUE(alert.buttonTitles.empty());
  EXPECT_EQ(gs::getShortcut(refine), altR);
  EXPECT_EQ(gs::getShortcut(translate), altT);
  EXPECT_EQ(field.text(), QStringLiteral("Alt+R"));

  // Once recording ends, each combination runs its own action alone.
  ASSERT_TRUE(waitUntil([&] { return field.isRecording(); }, "recording again after the alert"));
  field.clearFocus();
  ASSERT_TRUE(
      waitUntil([&] { return !field.isRecording() && gs::isEnabled(translate) && gs::isEnabled(refine); },
                "both hot keys back"));
  run("xdotool key alt+t");
  ASSERT_TRUE(waitUntil([&] { return translations == 1; }, "Alt+T translating"));
  run("xdotool key alt+r");
  ASSERT_TRUE(waitUntil([&] { return refines > 0; }, "Alt+R refining"));
  EXPECT_EQ(refines, 1);
  EXPECT_EQ(translations, 1);
}

}  // namespace
