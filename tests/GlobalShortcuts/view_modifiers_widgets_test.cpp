#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <memory>
#include <string>
#include <vector>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/NotificationUserInfo.h"
#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "GlobalShortcuts/ViewModifiers.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"

namespace gs = GlobalShortcuts;
using gs::EventType;
using gs::Key;
using gs::ModifierFlags;
using gs::Name;
using gs::Shortcut;

namespace {

const Shortcut optionT(Key::t, ModifierFlags::option);
const Shortcut optionR(Key::r, ModifierFlags::option);

class ViewModifiersTest : public ::testing::Test {
 protected:
  void recording(bool active) {
    env.notifications.post(gs::kRecorderActiveStatusDidChange, platform::UserInfo{{"isActive", active}});
  }
  void tap(const Shortcut& s) {
    env.press(s);
    env.release(s);
    env.executor.runUntilIdle();
  }
  bool systemHas(const Shortcut& s) { return env.isRegistered(s); }
  static std::string keys(const QKeySequence& sequence) {
    return sequence.toString(QKeySequence::PortableText).toStdString();
  }

  quorvelle::test::ShortcutsTestEnvironment env;
};

TEST_F(ViewModifiersTest, AControlHasNoShortcutWhileARecorderRecordsAndThenGetsTheStoredOne) {
  const Name translate("translate", optionT);
  QPushButton button;
  gs::globalKeyboardShortcut(button, translate);
  EXPECT_EQ(keys(button.shortcut()), "Alt+T");

  recording(true);
  EXPECT_EQ(keys(button.shortcut()), "");
  gs::setShortcut(optionR, translate);  // what the recorder stores
  EXPECT_EQ(keys(button.shortcut()), "");
  recording(false);
  EXPECT_EQ(keys(button.shortcut()), "Alt+R");

  // A recorder notification without the flag counts as not recording.
  recording(true);
  env.notifications.post(gs::kRecorderActiveStatusDidChange);
  EXPECT_EQ(keys(button.shortcut()), "Alt+R");
}

// The whole road: a real recorder field in the button's window records a new shortcut for the name.
TEST_F(ViewModifiersTest, AButtonLetsARecorderInItsWindowHaveTheKeysAndThenAnswersToTheRecordedOnes) {
  const Name translate("translate", optionT);
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* recorder = new gs::Recorder(translate);
  auto* button = new QPushButton("Translate");
  layout->addWidget(recorder);
  layout->addWidget(button);
  gs::globalKeyboardShortcut(*button, translate);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(quorvelle::test::waitUntilActive(&window));
  EXPECT_EQ(keys(button->shortcut()), "Alt+T");

  env.executor.runUntilIdle();  // the window's focus guard lapses
  QTest::mouseClick(&recorder->field(), Qt::LeftButton);
  env.executor.runUntilIdle();
  ASSERT_TRUE(recorder->field().isRecording());
  EXPECT_EQ(keys(button->shortcut()), "");

  // Ctrl+Alt+K, as the window system hands it to the window (keycode of K on the US layout).
  QKeyEvent down(QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 45, 0, 0);
  QCoreApplication::sendEvent(window.windowHandle(), &down);
  env.executor.runUntilIdle();
  EXPECT_FALSE(recorder->field().isRecording());
  EXPECT_EQ(keys(button->shortcut()), "Ctrl+Alt+K");
}

TEST_F(ViewModifiersTest, AControlFollowsItsNameOnly) {
  const Name translate("translate", optionT);
  const Name refine("refine", optionR);
  const Name blank("blank");
  QAction action;
  QPushButton button;
  gs::globalKeyboardShortcut(action, translate);
  gs::globalKeyboardShortcut(button, blank);
  EXPECT_EQ(keys(button.shortcut()), "") << "nothing stored";

  gs::setShortcut(Shortcut(Key::y, ModifierFlags::option), refine);
  EXPECT_EQ(keys(action.shortcut()), "Alt+T");
  gs::setShortcut(Shortcut(Key::u, ModifierFlags::command), translate);
  EXPECT_EQ(keys(action.shortcut()), "Ctrl+U");
  gs::setShortcut(std::nullopt, translate);
  EXPECT_EQ(keys(action.shortcut()), "");

  // Applied again with another name, the control follows that one alone.
  gs::globalKeyboardShortcut(action, refine);
  EXPECT_EQ(keys(action.shortcut()), "Alt+Y");
  gs::setShortcut(optionT, translate);
  EXPECT_EQ(keys(action.shortcut()), "Alt+Y");
}

TEST_F(ViewModifiersTest, AWidgetHearsItsShortcutWhileShownAndLetsGoOfItWhenHidden) {
  const Name translate("translate", optionT);
  QWidget window;
  auto* child = new QWidget(&window);
  std::vector<EventType> seen;
  gs::onGlobalKeyboardShortcut(child, translate, [&](EventType type) { seen.push_back(type); });
  EXPECT_FALSE(systemHas(optionT)) << "not shown yet";

  window.show();
  EXPECT_TRUE(systemHas(optionT));
  tap(optionT);
  EXPECT_EQ(seen, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));

  window.hide();
  EXPECT_TRUE(systemHas(optionT)) << "until the clean-up turn";
  env.executor.runUntilIdle();
  EXPECT_FALSE(systemHas(optionT));

  window.show();
  tap(optionT);
  EXPECT_EQ(seen.size(), 4u);
  delete child;
  env.executor.runUntilIdle();
  EXPECT_FALSE(systemHas(optionT));
}

TEST_F(ViewModifiersTest, AnOwnerThatIsNotAWidgetHearsOneTypeForItsWholeLife) {
  const Name translate("translate", optionT);
  auto owner = std::make_unique<QObject>();
  int releases = 0;
  gs::onKeyboardShortcut(owner.get(), translate, EventType::keyUp, [&] { ++releases; });
  tap(optionT);
  tap(optionT);
  EXPECT_EQ(releases, 2);
  owner.reset();
  env.executor.runUntilIdle();
  EXPECT_FALSE(systemHas(optionT));
  EXPECT_THROW(gs::onGlobalKeyboardShortcut(nullptr, translate, [](EventType) {}), std::invalid_argument);
}

}  // namespace
