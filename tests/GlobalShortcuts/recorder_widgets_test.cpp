// The shortcut recorder in real widgets: key presses typed into a shown window as the window system
// delivers them (the window's shortcuts first, then the window), with keycodes of the fake US layout.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "GlobalShortcuts/ConflictPolicy.h"
#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/LocalEventMonitor.h"
#include "GlobalShortcuts/NotificationUserInfo.h"
#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/GlobalShortcuts/WindowKeys.h"
#include "tests/support/CaseName.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"

namespace gs = GlobalShortcuts;
using gs::ConflictBehavior;
using gs::ConflictPolicy;
using gs::Key;
using gs::ModifierFlags;
using gs::Name;
using gs::Recorder;
using gs::RecorderCocoa;
using gs::Shortcut;
using platform::AlertPresenter;

namespace {

// Keycodes of the fake US layout (evdev code + 8).
constexpr quint32 kEscape = 9, kTab = 23, kBackspace = 22, kDelete = 119, kReturn = 36, kQ = 24, kK = 45,
                  kX = 53, kY = 29, kF5 = 71, kF12 = 96;

const Shortcut optionT(Key::t, ModifierFlags::option);
const Shortcut optionR(Key::r, ModifierFlags::option);
const Shortcut commandOptionK(Key::k, ModifierFlags::command | ModifierFlags::option);
const Shortcut commandQ(Key::q, ModifierFlags::command);

using quorvelle::test::KeyPress;
using quorvelle::test::type;

// A shown, active window with recorders and, last, a plain line edit.
struct Window {
  QWidget top;
  std::vector<Recorder*> recorders;
  QLineEdit* other = new QLineEdit;

  explicit Window(std::vector<Recorder*> made) : recorders(std::move(made)) {
    auto* layout = new QVBoxLayout(&top);
    for (auto* recorder : recorders) layout->addWidget(recorder);
    layout->addWidget(other);
    top.resize(400, 200);
    top.show();
    top.activateWindow();
    EXPECT_TRUE(quorvelle::test::waitUntilActive(&top));
  }

  RecorderCocoa& field(std::size_t i = 0) { return recorders.at(i)->field(); }
};

class RecorderTest : public ::testing::Test {
 protected:
  RecorderTest() { install(false); }
  ~RecorderTest() override {
    window.reset();
    env.reset();
  }

  void install(bool optionShortcutsDisallowed) {
    window.reset();
    env.reset();
    env = std::make_unique<quorvelle::test::ShortcutsTestEnvironment>(
        nullptr, [this] { return menu; }, optionShortcutsDisallowed);
    activity = env->notifications.addObserver(
        gs::kRecorderActiveStatusDidChange,
        [this](const platform::Notification& n) { activeStatus.push_back(gs::recorderIsActive(n)); });
  }

  Recorder* recorderFor(const Name& name) {
    return new Recorder(name, [this](const std::optional<Shortcut>& s) { changes.push_back(s); });
  }
  Window& show(std::vector<Recorder*> recorders) {
    window = std::make_unique<Window>(std::move(recorders));
    return *window;
  }
  // A click on the field, once the window's focus guard has lapsed.
  void startRecording(std::size_t i = 0) {
    env->executor.runUntilIdle();
    QTest::mouseClick(&window->field(i), Qt::LeftButton);
    env->executor.runUntilIdle();
    ASSERT_TRUE(window->field(i).isRecording());
  }
  void press(const KeyPress& key) {
    type(window->top, key);
    env->executor.runUntilIdle();
  }
  bool registered(const Shortcut& s) const {
    return env->hotKeys.isRegistered(static_cast<std::uint32_t>(s.carbonKeyCode()),
                                     static_cast<std::uint32_t>(s.carbonModifiers()));
  }
  const std::vector<platform::fake::ScriptedAlertPresenter::Shown>& alerts() const {
    return env->alerts.shown();
  }

  gs::Menu menu;
  std::unique_ptr<quorvelle::test::ShortcutsTestEnvironment> env;
  std::unique_ptr<Window> window;
  platform::NotificationCenter::Token activity;
  std::vector<bool> activeStatus;
  std::vector<std::optional<Shortcut>> changes;
};

// --- Keys while recording -------------------------------------------------------------------------

struct KeyCase {
  const char* name;
  KeyPress key;
  std::optional<Shortcut> stored;  // the name's shortcut afterwards; it was Option+T
  bool recording;                  // afterwards
  int beeps = 0;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.name;
}

const KeyCase kKeyCases[] = {
    {"Escape ends recording", {kEscape, Qt::Key_Escape}, optionT, false},
    {"Tab moves the focus on", {kTab, Qt::Key_Tab}, optionT, false},
    {"Backspace clears", {kBackspace, Qt::Key_Backspace}, std::nullopt, true},
    {"Delete clears", {kDelete, Qt::Key_Delete}, std::nullopt, true},
    {"Shift+Tab beeps", {kTab, Qt::Key_Backtab, Qt::ShiftModifier}, optionT, true, 1},
    {"a letter beeps", {kK, Qt::Key_K}, optionT, true, 1},
    {"Shift and a letter beep", {kK, Qt::Key_K, Qt::ShiftModifier}, optionT, true, 1},
    {"Shift+Delete is no command", {kDelete, Qt::Key_Delete, Qt::ShiftModifier}, optionT, true, 1},
    {"Shift+Backspace is no command", {kBackspace, Qt::Key_Backspace, Qt::ShiftModifier}, optionT, true, 1},
    {"Shift+Escape is no command", {kEscape, Qt::Key_Escape, Qt::ShiftModifier}, optionT, true, 1},
    {"F5 alone is recorded", {kF5, Qt::Key_F5}, Shortcut(Key::f5, {}), false},
    {"Shift+F5 is recorded",
     {kF5, Qt::Key_F5, Qt::ShiftModifier},
     Shortcut(Key::f5, ModifierFlags::shift),
     false},
    {"Command+Delete is recorded",
     {kBackspace, Qt::Key_Backspace, Qt::ControlModifier},
     Shortcut(Key::delete_, ModifierFlags::command),
     false},
    {"Command+forward delete is recorded",
     {kDelete, Qt::Key_Delete, Qt::ControlModifier},
     Shortcut(Key::deleteForward, ModifierFlags::command),
     false},
    {"Control+Option+K is recorded",
     {kK, Qt::Key_K, Qt::MetaModifier | Qt::AltModifier},
     Shortcut(Key::k, ModifierFlags::control | ModifierFlags::option),
     false},
    {"a key the layout does not know beeps", {250, Qt::Key_K, Qt::ControlModifier}, optionT, true, 1},
    // X11 reports a modifier going down with the modifier already in the event's state.
    {"Ctrl going down is no key press", {37, Qt::Key_Control, Qt::ControlModifier}, optionT, true},
    {"Alt going down with Ctrl held is no key press",
     {64, Qt::Key_Alt, Qt::ControlModifier | Qt::AltModifier},
     optionT,
     true},
};

class RecorderKeys : public RecorderTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(RecorderKeys, WhileRecording) {
  const KeyCase& c = GetParam();
  const Name translate("translate", optionT);
  auto& w = show({recorderFor(translate)});
  startRecording();

  press(c.key);
  EXPECT_EQ(gs::getShortcut(translate), c.stored);
  EXPECT_EQ(w.field().isRecording(), c.recording);
  EXPECT_EQ(env->beep.beeps, c.beeps);
  EXPECT_TRUE(alerts().empty());
  if (c.stored != optionT) {
    EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{c.stored});
    EXPECT_EQ(w.field().text().toStdString(), c.stored ? c.stored->presentableDescription() : "");
  } else {
    EXPECT_TRUE(changes.empty());
  }
  if (c.key.key == Qt::Key_Tab) {
    EXPECT_TRUE(w.other->hasFocus());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RecorderKeys, ::testing::ValuesIn(kKeyCases), quorvelle::test::NamedCase());

// --- Conflicts -------------------------------------------------------------------------------------

struct PolicyCase {
  const char* name;
  ConflictPolicy policy;
};

void PrintTo(const PolicyCase& c, std::ostream* os) {
  *os << c.name;
}

class RecorderConflicts : public RecorderTest, public ::testing::WithParamInterface<PolicyCase> {
 protected:
  bool allowsAll() const { return GetParam().policy == ConflictPolicy::allowAll(); }
  // The window's policy, set above the recorders as an application would.
  Window& showWithPolicy(std::vector<Recorder*> recorders) {
    auto& w = show(std::move(recorders));
    gs::setGlobalShortcutsConflictPolicy(w.top, GetParam().policy);
    return w;
  }
};

TEST_P(RecorderConflicts, AMenuItemsShortcutIsRefusedWithItsTitle) {
  menu.items.push_back({"Settings…", ",", ModifierFlags::command, nullptr});
  auto file = std::make_shared<gs::Menu>();
  file->items.push_back({"Quit Quorvelle", "q", ModifierFlags::command, nullptr});
  menu.items.push_back({"File", "", {}, file});
  const Name translate("translate", optionT);
  auto& w = showWithPolicy({recorderFor(translate)});
  startRecording();
  // The alert's event loop runs with the recording stopped and the hot keys live.
  std::vector<bool> recordingDuringAlert;
  env->alerts.whileShown = [&](const platform::Alert&) {
    recordingDuringAlert.push_back(w.field().isRecording() || gs::isPaused() ||
                                   RecorderCocoa::activeRecorder() != nullptr);
  };

  press({kQ, Qt::Key_Q, Qt::ControlModifier});
  if (allowsAll()) {
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(gs::getShortcut(translate), commandQ);
    EXPECT_FALSE(w.field().isRecording());
    return;
  }
  ASSERT_EQ(alerts().size(), 1u);
  EXPECT_EQ(alerts()[0].alert.messageText,
            "This keyboard shortcut cannot be used because the menu item “Quit Quorvelle” already uses it.");
  EXPECT_EQ(alerts()[0].alert.informativeText, "");
  EXPECT_TRUE(alerts()[0].alert.buttonTitles.empty());
  EXPECT_EQ(alerts()[0].parentWindow, &w.top);
  EXPECT_EQ(recordingDuringAlert, std::vector<bool>{false});
  EXPECT_EQ(gs::getShortcut(translate), optionT);
  EXPECT_TRUE(changes.empty());
  EXPECT_TRUE(w.field().isRecording());
  EXPECT_TRUE(gs::isPaused());
}

TEST_P(RecorderConflicts, ASystemShortcutIsStoredOnlyWhenTheUserInsists) {
  env->symbolicHotKeys.add(commandOptionK.carbonKeyCode(), commandOptionK.carbonModifiers());
  const Name translate("translate", optionT);
  auto& w = showWithPolicy({recorderFor(translate)});
  startRecording();
  const KeyPress ctrlAltK{kK, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier};

  if (!allowsAll()) {
    env->alerts.enqueueResponse(AlertPresenter::kFirstButtonReturn);
    press(ctrlAltK);
    ASSERT_EQ(alerts().size(), 1u);
    const auto& alert = alerts()[0].alert;
    EXPECT_EQ(alert.messageText,
              "This keyboard shortcut cannot be used because it is already a system-wide keyboard shortcut.");
    EXPECT_EQ(alert.informativeText,
              "Most system-wide keyboard shortcuts can be changed in the keyboard settings of your desktop.");
    EXPECT_EQ(alert.buttonTitles, (std::vector<std::string>{"OK", "Use Anyway"}));
    EXPECT_EQ(gs::getShortcut(translate), optionT);
    EXPECT_TRUE(w.field().isRecording());
    env->alerts.enqueueResponse(AlertPresenter::kSecondButtonReturn);
  }
  press(ctrlAltK);
  EXPECT_EQ(alerts().size(), allowsAll() ? 0u : 2u);
  EXPECT_EQ(gs::getShortcut(translate), commandOptionK);
  EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{commandOptionK});
  EXPECT_FALSE(w.field().isRecording());
}

// As on X11, where the desktop's shortcuts are other programs' grabs: insisting cannot make a held
// combination work, so the old shortcut stays and the alert says why.
TEST_P(RecorderConflicts, ASystemShortcutThatAnotherProgramHoldsIsNotStoredEvenWhenTheUserInsists) {
  env->symbolicHotKeys.add(commandOptionK.carbonKeyCode(), commandOptionK.carbonModifiers());
  env->hotKeys.refuse(static_cast<std::uint32_t>(commandOptionK.carbonKeyCode()),
                      static_cast<std::uint32_t>(commandOptionK.carbonModifiers()));
  const Name translate("translate", optionT);
  gs::onKeyDown(translate, [] {});
  auto& w = showWithPolicy({recorderFor(translate)});
  startRecording();

  if (!allowsAll()) env->alerts.enqueueResponse(AlertPresenter::kSecondButtonReturn);
  press({kK, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier});
  ASSERT_EQ(alerts().size(), allowsAll() ? 1u : 2u);
  const auto& held = alerts().back().alert;
  EXPECT_EQ(held.messageText, "Another program holds Ctrl+Alt+K, so it cannot be used here.");
  EXPECT_EQ(held.informativeText,
            "Your previous shortcut is kept. Close the other program or change its shortcut, then record "
            "this one again.");
  EXPECT_TRUE(held.buttonTitles.empty());
  EXPECT_EQ(gs::getShortcut(translate), optionT);
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(w.field().text(), "Alt+T");
  EXPECT_TRUE(w.field().isRecording());

  // Once the other program lets go, the same answer stores it.
  env->hotKeys.allow(static_cast<std::uint32_t>(commandOptionK.carbonKeyCode()),
                     static_cast<std::uint32_t>(commandOptionK.carbonModifiers()));
  if (!allowsAll()) env->alerts.enqueueResponse(AlertPresenter::kSecondButtonReturn);
  press({kK, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier});
  EXPECT_EQ(gs::getShortcut(translate), commandOptionK);
  EXPECT_FALSE(w.field().isRecording());
  EXPECT_TRUE(registered(commandOptionK));
}

TEST_P(RecorderConflicts, TheCurrentShortcutSkipsTheMenuCheckAndIsStoredAgain) {
  menu.items.push_back({"Quit Quorvelle", "q", ModifierFlags::command, nullptr});
  const Name translate("translate", commandQ);
  std::vector<std::string> posted;
  auto token = env->notifications.addObserver(
      gs::kShortcutByNameDidChange, [&](const platform::Notification&) { posted.push_back("changed"); });
  auto& w = showWithPolicy({recorderFor(translate)});
  startRecording();

  press({kQ, Qt::Key_Q, Qt::ControlModifier});
  EXPECT_TRUE(alerts().empty());
  EXPECT_EQ(gs::getShortcut(translate), commandQ);
  EXPECT_EQ(posted.size(), 1u);
  EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{commandQ});
  EXPECT_FALSE(w.field().isRecording());
}

TEST_P(RecorderConflicts, PlainF12IsNeverTakenBySystem) {
  env->symbolicHotKeys.add(Key::f12.rawValue(), 0);
  const Name translate("translate", optionT);
  showWithPolicy({recorderFor(translate)});
  startRecording();

  press({kF12, Qt::Key_F12});
  EXPECT_TRUE(alerts().empty());
  EXPECT_EQ(gs::getShortcut(translate), Shortcut(Key::f12, {}));
}

TEST_P(RecorderConflicts, OptionShortcutsWhereTheDesktopDisallowsThem) {
  install(/*optionShortcutsDisallowed=*/true);
  const Name translate("translate", optionT);
  auto& w = showWithPolicy({recorderFor(translate)});
  startRecording();

  const Shortcut controlOptionX(Key::x, ModifierFlags::control | ModifierFlags::option);
  press({kX, Qt::Key_X, Qt::AltModifier});
  press({kX, Qt::Key_X, Qt::AltModifier | Qt::ShiftModifier});
  if (allowsAll()) {
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(gs::getShortcut(translate), Shortcut(Key::x, ModifierFlags::option));
    return;
  }
  ASSERT_EQ(alerts().size(), 2u);
  for (const auto& shown : alerts()) {
    EXPECT_EQ(shown.alert.messageText,
              "The system does not allow this keyboard shortcut for this application.");
    EXPECT_TRUE(shown.alert.buttonTitles.empty());
  }
  EXPECT_EQ(gs::getShortcut(translate), optionT);

  // Warn refuses here too: the desktop would not let the shortcut work.
  w.field().setConflictPolicy({ConflictBehavior::block, ConflictBehavior::warn, ConflictBehavior::warn});
  press({kX, Qt::Key_X, Qt::AltModifier});
  EXPECT_EQ(alerts().size(), 3u);
  EXPECT_EQ(gs::getShortcut(translate), optionT);

  press({kX, Qt::Key_X, Qt::MetaModifier | Qt::AltModifier});
  EXPECT_EQ(alerts().size(), 3u);
  EXPECT_EQ(gs::getShortcut(translate), controlOptionX);
}

TEST_P(RecorderConflicts, AValidationReasonIsTheAlertTitle) {
  const Name translate("translate", optionT);
  auto* recorder = recorderFor(translate);
  std::vector<Shortcut> asked;
  recorder->shortcutValidation([&](const Shortcut& s) {
    asked.push_back(s);
    return gs::ValidationResult::disallow("Already used for refining");
  });
  auto& w = showWithPolicy({recorder});
  startRecording();

  press({kK, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier});
  EXPECT_EQ(asked, std::vector<Shortcut>{commandOptionK});
  ASSERT_EQ(alerts().size(), 1u);
  EXPECT_EQ(alerts()[0].alert.messageText, "Already used for refining");
  EXPECT_TRUE(alerts()[0].alert.buttonTitles.empty());
  EXPECT_EQ(gs::getShortcut(translate), optionT);
  EXPECT_TRUE(w.field().isRecording());
}

const PolicyCase kPolicies[] = {
    {"defaultPolicy", ConflictPolicy::defaultPolicy()},
    {"allowAll", ConflictPolicy::allowAll()},
};
INSTANTIATE_TEST_SUITE_P(Policies, RecorderConflicts, ::testing::ValuesIn(kPolicies),
                         quorvelle::test::NamedCase());

// --- Storage ---------------------------------------------------------------------------------------

TEST_F(RecorderTest, AcceptanceStoresTheNamesJsonAndEndsRecording) {
  const Name translate("translate", optionT);
  auto& w = show({recorderFor(translate)});
  startRecording();

  press({kK, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier});
  EXPECT_EQ(env->defaults.stringForKey("GlobalShortcuts_translate"),
            R"({"carbonKeyCode":40,"carbonModifiers":2304})");
  EXPECT_EQ(w.field().text(), QString::fromUtf8("Ctrl+Alt+K"));
  EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{commandOptionK});
  EXPECT_FALSE(w.field().isRecording());
  EXPECT_FALSE(w.field().hasFocus());
  EXPECT_EQ(activeStatus, (std::vector<bool>{true, false}));
}

TEST_F(RecorderTest, ARecordingReadsAsTheDesktopWritesItAndTheFieldShowsItWhole) {
  struct Case {
    const char* language;
    const char* recorded;
    const char* longest;
  };
  const Case cases[] = {
      {"en", "Ctrl+Shift+Y", "Super+Ctrl+Alt+Shift+PgDown"},
      {"de", "Strg+Umschalt+Y", "Super+Strg+Alt+Umschalt+Bild ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    install(false);
    env->system = platform::fake::FixedSystemInfo({c.language});
    const Name translate("translate", optionT);
    auto& w = show({recorderFor(translate)});
    startRecording();
    press({kY, Qt::Key_Y, Qt::ControlModifier | Qt::ShiftModifier});
    EXPECT_EQ(gs::getShortcut(translate), Shortcut(Key::y, ModifierFlags::command | ModifierFlags::shift));
    EXPECT_EQ(w.field().text().toStdString(), c.recorded);

    w.field().setShortcut(Shortcut(Key::pageDown, ModifierFlags::control | ModifierFlags::command |
                                                      ModifierFlags::option | ModifierFlags::shift));
    EXPECT_EQ(w.field().text().toStdString(), c.longest);
    // Centred clear of the clear button on both sides, once the window has laid the wider field out.
    const int icon = w.field().style()->pixelMetric(QStyle::PM_SmallIconSize);
    const int needed = w.field().fontMetrics().horizontalAdvance(w.field().text()) + 2 * icon;
    EXPECT_TRUE(quorvelle::test::waitUntil([&] { return w.field().width() >= needed; }, "the field's width"))
        << w.field().width() << " < " << needed;
    w.field().clearFocus();
    env->executor.runUntilIdle();
    EXPECT_GE(w.field().width(), w.field().fontMetrics().horizontalAdvance(w.field().placeholderText()));
  }
}

TEST_F(RecorderTest, ABindingIsWrittenBeforeOnChangeRunsAndClearedWithNothing) {
  std::optional<Shortcut> value = optionT;
  std::vector<std::string> log;
  const gs::ShortcutBinding binding{[&] { return value; },
                                    [&](const std::optional<Shortcut>& s) {
                                      value = s;
                                      log.push_back("set");
                                    }};
  auto* recorder = new Recorder("Translate", binding, [&](const std::optional<Shortcut>& s) {
    log.push_back(value == s ? "onChange after set" : "onChange before set");
  });
  auto& w = show({recorder});
  EXPECT_TRUE(recorder->hasLabel());
  EXPECT_EQ(w.field().text(), QString::fromUtf8("Alt+T"));
  startRecording();

  press({kK, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier});
  EXPECT_EQ(value, commandOptionK);
  EXPECT_EQ(log, (std::vector<std::string>{"set", "onChange after set"}));
  EXPECT_FALSE(w.field().isRecording());
  // Nothing is stored in binding mode.
  EXPECT_TRUE(gs::storedNames().empty());

  startRecording();
  press({kDelete, Qt::Key_Delete});
  EXPECT_EQ(value, std::nullopt);
  EXPECT_EQ(log.back(), "onChange after set");
}

TEST_F(RecorderTest, ABindingChangedElsewhereReachesTheFieldOnUpdate) {
  std::optional<Shortcut> value = optionT;
  auto* recorder =
      new Recorder(gs::ShortcutBinding{[&] { return value; }, [&](const auto& s) { value = s; }});
  auto& w = show({recorder});
  value = optionR;
  recorder->updateField();
  EXPECT_EQ(w.field().text(), QString::fromUtf8("Alt+R"));
  EXPECT_EQ(w.field().shortcut(), optionR);
}

TEST_F(RecorderTest, SettingTheShortcutOfANameFieldWritesOnlyChanges) {
  const Name translate("translate", optionT);
  const Name refine("refine");
  gs::setShortcut(optionR, refine);
  int posted = 0;
  auto token = env->notifications.addObserver(gs::kShortcutByNameDidChange,
                                              [&](const platform::Notification&) { ++posted; });
  RecorderCocoa field(translate);
  field.setShortcut(optionT);
  EXPECT_EQ(posted, 0);
  // Cleared: false for a name with an initial shortcut, so that it does not come back; removed otherwise.
  field.setShortcut(std::nullopt);
  EXPECT_EQ(gs::storedShortcut(translate).kind, gs::StoredShortcut::Kind::disabled);
  EXPECT_EQ(field.text(), "");
  field.setShortcut(std::nullopt);
  EXPECT_EQ(posted, 1);
  field.setShortcutName(refine);
  EXPECT_EQ(field.text(), QString::fromUtf8("Alt+R"));
  field.setShortcut(std::nullopt);
  EXPECT_EQ(gs::storedShortcut(refine).kind, gs::StoredShortcut::Kind::absent);
  field.setShortcut(commandQ);
  EXPECT_EQ(gs::getShortcut(refine), commandQ);
  EXPECT_EQ(field.text(), QString::fromUtf8("Ctrl+Q"));
  EXPECT_EQ(posted, 3);
  EXPECT_TRUE(changes.empty());
}

TEST_F(RecorderTest, TheTextFollowsChangesOfItsNameOnly) {
  const Name translate("translate", optionT);
  const Name refine("refine", optionR);
  auto& w = show({recorderFor(translate)});
  gs::setShortcut(commandQ, translate);
  gs::setShortcut(commandOptionK, refine);
  env->executor.runUntilIdle();
  EXPECT_EQ(w.field().text(), QString::fromUtf8("Ctrl+Q"));
}

TEST_F(RecorderTest, TheClearButtonClearsReportsNothingAndRecords) {
  struct Case {
    const char* name;
    std::optional<Shortcut> initial;
    gs::StoredShortcut::Kind after;
  };
  for (const Case& c :
       {Case{"with an initial shortcut: cleared stays cleared", optionT, gs::StoredShortcut::Kind::disabled},
        Case{"without one: removed", std::nullopt, gs::StoredShortcut::Kind::absent}}) {
    SCOPED_TRACE(c.name);
    changes.clear();
    const Name name(c.name, c.initial);
    gs::setShortcut(commandQ, name);
    auto& w = show({recorderFor(name)});
    env->executor.runUntilIdle();
    ASSERT_TRUE(w.field().clearButton()->isVisible());
    QToolButton* button = nullptr;
    for (auto* b : w.field().findChildren<QToolButton*>()) {
      if (b->isVisible()) button = b;
    }
    ASSERT_NE(button, nullptr);

    QTest::mouseClick(button, Qt::LeftButton);
    env->executor.runUntilIdle();
    EXPECT_EQ(gs::storedShortcut(name).kind, c.after);
    EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{std::nullopt});
    EXPECT_EQ(w.field().text(), "");
    EXPECT_FALSE(w.field().clearButton()->isVisible());
    EXPECT_TRUE(w.field().isRecording());
  }
}

TEST_F(RecorderTest, DeleteOnAnEmptyFieldDoesNothing) {
  const Name translate("translate");
  auto& w = show({recorderFor(translate)});
  startRecording();
  press({kDelete, Qt::Key_Delete});
  press({kBackspace, Qt::Key_Backspace});
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(env->beep.beeps, 0);
  EXPECT_EQ(gs::storedShortcut(translate).kind, gs::StoredShortcut::Kind::absent);
  EXPECT_TRUE(w.field().isRecording());
}

// --- Recording and the hot keys --------------------------------------------------------------------

TEST_F(RecorderTest, HotKeysArePausedWhileRecordingAlsoWhenTheFocusMovesBetweenRecorders) {
  const Name translate("translate", optionT);
  const Name refine("refine", optionR);
  gs::onKeyDown(translate, [] {});
  env->executor.runUntilIdle();
  ASSERT_TRUE(registered(optionT));
  auto& w = show({recorderFor(translate), recorderFor(refine)});

  startRecording(0);
  EXPECT_FALSE(registered(optionT));
  EXPECT_EQ(RecorderCocoa::activeRecorder(), &w.field(0));
  EXPECT_EQ(activeStatus, std::vector<bool>{true});

  const auto registrations = env->hotKeys.registerCount();
  startRecording(1);
  EXPECT_FALSE(w.field(0).isRecording());
  EXPECT_EQ(RecorderCocoa::activeRecorder(), &w.field(1));
  EXPECT_TRUE(gs::isPaused());
  EXPECT_EQ(env->hotKeys.registerCount(), registrations);
  EXPECT_EQ(activeStatus, (std::vector<bool>{true, true}));

  press({kEscape, Qt::Key_Escape});
  EXPECT_FALSE(w.field(1).isRecording());
  EXPECT_EQ(RecorderCocoa::activeRecorder(), nullptr);
  EXPECT_TRUE(registered(optionT));
  EXPECT_EQ(activeStatus, (std::vector<bool>{true, true, false}));
}

TEST_F(RecorderTest, RecordingPressesTheCurrentShortcutInsteadOfFiringIt) {
  const Name translate("translate", optionT);
  int fired = 0;
  gs::onKeyDown(translate, [&] { ++fired; });
  env->executor.runUntilIdle();
  show({recorderFor(translate)});
  startRecording();
  press({28, Qt::Key_T, Qt::AltModifier});
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{optionT});
  EXPECT_TRUE(registered(optionT));
}

TEST_F(RecorderTest, ANewWindowsFirstFocusDoesNotStartARecording) {
  const Name translate("translate", optionT);
  auto& w = show({recorderFor(translate)});
  EXPECT_FALSE(w.field().hasFocus());
  EXPECT_FALSE(w.field().isRecording());
  EXPECT_TRUE(w.other->hasFocus());

  // Once the guard has lapsed, Tab reaches the field like any other.
  env->executor.runUntilIdle();
  press({kTab, Qt::Key_Tab});
  EXPECT_TRUE(w.field().isRecording());
}

TEST_F(RecorderTest, RecordingEndsWhenTheWindowIsDeactivated) {
  const Name translate("translate", optionT);
  auto& w = show({recorderFor(translate)});
  startRecording();

  QWidget otherWindow;
  otherWindow.show();
  otherWindow.activateWindow();
  ASSERT_TRUE(quorvelle::test::waitUntilActive(&otherWindow));
  env->executor.runUntilIdle();
  EXPECT_FALSE(w.field().isRecording());
  EXPECT_FALSE(gs::isPaused());

  // Coming back does not start a recording unasked.
  w.top.activateWindow();
  ASSERT_TRUE(quorvelle::test::waitUntilActive(&w.top));
  env->executor.runUntilIdle();
  EXPECT_FALSE(w.field().isRecording());
}

TEST_F(RecorderTest, AClickMoreThanThreePixelsOutsideEndsRecordingAndIsStillDelivered) {
  const Name translate("translate", optionT);
  auto& w = show({recorderFor(translate)});
  startRecording();
  int delivered = 0;
  gs::LocalEventMonitor later(gs::EventTypeMask::leftMouseUp, [&](QEvent* event) {
    ++delivered;
    return event;
  });
  later.start();
  const auto release = [&](int beyondRightEdge) {
    const QPoint point = w.field().mapTo(&w.top, QPoint(w.field().width() + beyondRightEdge, 5));
    QTest::mouseRelease(w.top.windowHandle(), Qt::LeftButton, {}, point);
    env->executor.runUntilIdle();
  };

  release(2);
  EXPECT_TRUE(w.field().isRecording());
  release(5);
  EXPECT_FALSE(w.field().isRecording());
  EXPECT_EQ(delivered, 2);
}

TEST_F(RecorderTest, AWindowsReturnShortcutDoesNotFireWhileRecording) {
  const Name translate("translate", optionT);
  auto& w = show({recorderFor(translate)});
  int triggered = 0;
  auto* action = new QAction(&w.top);
  action->setShortcut(Qt::Key_Return);
  w.top.addAction(action);
  QObject::connect(action, &QAction::triggered, [&] { ++triggered; });
  startRecording();

  press({kReturn, Qt::Key_Return});
  EXPECT_EQ(triggered, 0);
  EXPECT_EQ(env->beep.beeps, 1);
  EXPECT_TRUE(w.field().isRecording());

  w.other->setFocus();
  env->executor.runUntilIdle();
  press({kReturn, Qt::Key_Return});
  EXPECT_EQ(triggered, 1);
}

TEST_F(RecorderTest, AFieldDestroyedWhileRecordingResumesTheHotKeys) {
  const Name translate("translate", optionT);
  auto& w = show({recorderFor(translate)});
  startRecording();
  delete w.recorders[0];
  EXPECT_FALSE(gs::isPaused());
  EXPECT_EQ(RecorderCocoa::activeRecorder(), nullptr);
  EXPECT_EQ(activeStatus, (std::vector<bool>{true, false}));
}

// --- Conflict policy in the widget tree ------------------------------------------------------------

TEST_F(RecorderTest, TheConflictPolicyComesFromTheNearestAncestorThatSetsOne) {
  const Name translate("translate", optionT);
  auto* recorder = recorderFor(translate);
  auto& w = show({recorder});
  EXPECT_EQ(w.field().conflictPolicy(), ConflictPolicy::defaultPolicy());

  gs::setGlobalShortcutsConflictPolicy(w.top, ConflictPolicy::allowAll());
  EXPECT_EQ(w.field().conflictPolicy(), ConflictPolicy::allowAll());

  const ConflictPolicy warnAll{ConflictBehavior::warn, ConflictBehavior::warn, ConflictBehavior::warn};
  gs::setGlobalShortcutsConflictPolicy(*recorder, warnAll);
  EXPECT_EQ(w.field().conflictPolicy(), warnAll);
  EXPECT_EQ(gs::globalShortcutsConflictPolicy(*w.other), ConflictPolicy::allowAll());

  // A recorder moved elsewhere takes the policy of its new place.
  QWidget elsewhere;
  auto* moved = recorderFor(translate);
  moved->setParent(&w.top);
  EXPECT_EQ(moved->field().conflictPolicy(), ConflictPolicy::allowAll());
  moved->setParent(&elsewhere);
  EXPECT_EQ(moved->field().conflictPolicy(), ConflictPolicy::defaultPolicy());
}

}  // namespace
