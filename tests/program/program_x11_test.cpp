// The program as a person meets it: the real executable on a desktop with a window manager and a tray,
// against the development backend, with a Secret Service keyring, acting on a text field of another
// application (this test process) through global hot keys, the PRIMARY selection and synthetic keys.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "app/GeminiKeyManager.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "tests/support/qt/TkTextWindow.h"

#include "tests/program/ProgramX11Test.h"

namespace {

using namespace quorvelle::test;

TEST_F(ProgramX11Test, TranslateHotKeyOnASelectedWordOpensThePopupBesideThePointer) {
  QLineEdit* field = openTextWindow("hello there");
  ASSERT_NE(field, nullptr);
  // A double click selects the word, and with it PRIMARY.
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello")) << field->selectedText().toStdString();

  const QPoint pointer(400, 300);
  ASSERT_NO_FATAL_FAILURE(pointerTo(pointer));
  xdotool({"key", "alt+t"});

  EXPECT_TRUE(waitForRequest("POST /translate target,text"));
  EXPECT_TRUE(waitForRequest("GET /lookup/hello?accent=uk"));
  const auto popup = waitForPopup();
  ASSERT_TRUE(popup) << "no popup mapped";
  const auto frame = windowGeometry(*popup);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->topLeft(), pointer + QPoint(-20, 24));
  // The popup leaves the keyboard where it was: the selection is untouched.
  EXPECT_TRUE(field->hasFocus());
  EXPECT_EQ(field->text(), "hello there");

  // A click in another application closes it.
  clickAt(field->mapToGlobal(QPoint(field->width() - 10, field->height() / 2)));
  EXPECT_TRUE(waitForNoPopup());
}

// Keeps every core busy while it lives, as other programs on a loaded machine do.
class CpuLoad {
 public:
  CpuLoad() {
    const unsigned n = std::max(2u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < n; ++i) {
      threads_.emplace_back([this] {
        while (!stop_.load(std::memory_order_relaxed)) {
        }
      });
    }
  }
  ~CpuLoad() {
    stop_ = true;
    for (auto& t : threads_) t.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

// The reply arrives while the window manager is still taking in the freshly mapped popup; the refit after
// loading must keep the corner that placement chose.
TEST_F(ProgramX11Test, PopupStaysBesideThePointerAfterLoadingOnABusyMachine) {
  QLineEdit* field = openTextWindow("hello there");
  ASSERT_NE(field, nullptr);
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello")) << field->selectedText().toStdString();

  CpuLoad load;
  for (int press = 0; press < 30; ++press) {
    SCOPED_TRACE("press " + std::to_string(press));
    const QPoint pointer(300 + (press % 5) * 70, 200 + (press % 3) * 60);
    ASSERT_NO_FATAL_FAILURE(pointerTo(pointer));
    xdotool({"key", "alt+t"});
    const auto popup = waitForPopup();
    ASSERT_TRUE(popup) << "no popup mapped";
    // Loaded: the translation and the dictionary entry make it taller than the loading line (68 pixels).
    const auto frame = waitForPopupTallerThan(*popup, 80);
    ASSERT_TRUE(frame) << "the popup did not load; backend requests:\n"
                       << requests_.join('\n').toStdString() << "\nprogram output:\n"
                       << programLog_.toStdString();
    const QPoint corner = frame->topLeft();
    EXPECT_EQ(corner, pointer + QPoint(-20, 24)) << "at " << corner.x() << "," << corner.y();
    ASSERT_NO_FATAL_FAILURE(closePopupBesideTheField());
  }
}

// PRIMARY keeps the word selected in window A after the user has clicked into window B: the hot key
// acts on what B has, its own selection (copied) or nothing (quick translate), never on A's word.
TEST_F(ProgramX11Test, AfterAClickIntoAnotherWindowTheOldPrimaryDoesNotCount) {
  using quorvelle::test::TkTextWindow;
  TkTextWindow a({.title = "window A", .text = "hello", .geometry = {100, 500, 400, 40}});
  TkTextWindow b(
      {.title = "window B", .text = "world", .geometry = {600, 500, 400, 40}, .exportSelection = false});
  ASSERT_TRUE(a.isReady() && b.isReady()) << "wish did not start (scripts/setup.sh installs tk)";
  a.focus();
  a.select(0, 5);
  ASSERT_TRUE(waitForPrimary("hello"));

  // Nothing selected in B: quick translate. (The window manager gives B the focus on the click, and the hot
  // key asks whose window has it.)
  ASSERT_NO_FATAL_FAILURE(clickIntoTkWindow(b, "window B"));
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  const auto quick = waitForPopup();
  ASSERT_TRUE(quick) << "no quick-translate popup";
  xdotool({"key", "Escape"});
  ASSERT_TRUE(waitForNoPopup());

  // B's own selection, which B keeps out of PRIMARY: copied and translated.
  ASSERT_NO_FATAL_FAILURE(clickIntoTkWindow(b, "window B"));
  b.select(0, 5);
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  EXPECT_TRUE(waitForRequest("GET /lookup/world?accent=uk")) << requests_.join('\n').toStdString();
  // The press sends its translation and its lookup at the same moment: both have come before they count.
  EXPECT_TRUE(waitForRequest("POST /translate target,text")) << requests_.join('\n').toStdString();
  EXPECT_FALSE(requestsLogged().contains("GET /lookup/hello?accent=uk")) << "A's word was translated";
  EXPECT_EQ(requests_.filter("POST /translate").size(), 1) << requests_.join('\n').toStdString();
}

// The user copied in a Tk window before: Tk owns the clipboard, and copies onto it from then on without
// claiming it again, so the clipboard's owner never changes. Its selection, which Tk keeps out of PRIMARY,
// is copied, translated, and the user's clipboard put back.
TEST_F(ProgramX11Test, ACopyInAWindowThatAlreadyOwnsTheClipboardIsTranslatedAndTheClipboardPutBack) {
  using quorvelle::test::TkTextWindow;
  TkTextWindow tk({.title = "tk window",
                   .text = "world peace",
                   .geometry = {600, 500, 400, 40},
                   .exportSelection = false});
  ASSERT_TRUE(tk.isReady()) << "wish did not start (scripts/setup.sh installs tk)";
  const QString users = QStringLiteral("copied earlier in Tk");
  tk.copyToClipboard(users);
  ASSERT_TRUE(
      waitUntil([&] { return QGuiApplication::clipboard()->text() == users; }, "Tk owns the clipboard"));
  ASSERT_NO_FATAL_FAILURE(clickIntoTkWindow(tk, "tk window"));
  tk.select(0, 5);
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});

  ASSERT_TRUE(waitForRequest("GET /lookup/world?accent=uk")) << requests_.join('\n').toStdString();
  EXPECT_TRUE(waitForRequest("POST /translate target,text")) << requests_.join('\n').toStdString();
  // The text was read and the clipboard put back before the requests went out.
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), users.toStdString());
}

// The focused application owns PRIMARY and never answers for it, as a hung window does: the hot key
// gives up on it after a moment, its copy finds nothing either, and quick translate opens.
TEST_F(ProgramX11Test, AFocusedWindowThatNeverAnswersForItsSelectionDoesNotFreezeTheProgram) {
  QProcess silent;
  silent.start(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/silent-selection-owner"), {});
  ASSERT_TRUE(waitUntil([&] { return silent.canReadLine(); }, "silent.canReadLine()"));
  ASSERT_EQ(silent.readLine(), "ready\n");

  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  QElapsedTimer sincePress;
  sincePress.start();
  xdotool({"key", "alt+t"});
  EXPECT_TRUE(waitForPopup()) << "no quick-translate popup";
  // A toolkit's own selection read waits twice five seconds for this owner, with the program frozen;
  // the bound leaves room for a loaded machine and a sanitizer build.
  EXPECT_LT(sincePress.elapsed(), 8000) << "the program waited on the owner";
  EXPECT_TRUE(programLog_.contains("the selection's owner did not answer")) << programLog_.toStdString();
  EXPECT_TRUE(requests_.filter("/translate").isEmpty()) << requests_.join('\n').toStdString();
  silent.kill();
  silent.waitForFinished();
}

TEST_F(ProgramX11Test, StartsWithoutTheTransportAndAudioLibrariesAndLoadsThemWithTheirFirstUse) {
  // Each start-up step says when it ended, up to the event loop's first wait and the popup's warm-up in
  // the turn after it.
  EXPECT_TRUE(waitUntil([&] { return programLog_.contains("popup view built, panel warmed"); },
                        "programLog_.contains(\"popup view built, panel warmed\")"))
      << programLog_.toStdString();
  EXPECT_LT(programLog_.indexOf("event loop waiting"), programLog_.indexOf("popup view built, panel warmed"));
  EXPECT_TRUE(
      programLog_.contains(QRegularExpression(R"(startup: [0-9.]+ ms \(\+[0-9.]+\) tray and hot keys up)")))
      << programLog_.toStdString();
  EXPECT_FALSE(programMaps("libcurl.so"));
  EXPECT_FALSE(programMaps("libpulse-simple.so"));
  EXPECT_FALSE(programMaps("quorvelle-audio.so"));
  // Neither the keyring's library nor the animations' renderer: no keyring call and no tutorial yet.
  EXPECT_FALSE(programMaps("libsecret-1.so"));
  EXPECT_FALSE(programMaps("librlottie.so"));

  QLineEdit* field = openTextWindow("hello there");
  ASSERT_NE(field, nullptr);
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello")) << field->selectedText().toStdString();
  xdotool({"key", "alt+t"});
  EXPECT_TRUE(waitForRequest("POST /translate target,text")) << requests_.join('\n').toStdString();
  EXPECT_TRUE(programMaps("libcurl.so"));
  // The dictionary entry of "hello" has a recording, which plays by itself once the popup shows it. The
  // loader maps the player before the libraries it needs: each is waited for on its own.
  for (const char* library : {"quorvelle-audio.so", "libpulse-simple.so", "libsndfile.so"}) {
    EXPECT_TRUE(waitUntil([&] { return programMaps(library); }, std::string("the program maps ") + library));
  }
  EXPECT_FALSE(programMaps("libQt6Multimedia.so"));
}

TEST_F(ProgramX11Test, TranslateHotKeyWithNothingSelectedOpensQuickTranslateThatEscapeCloses) {
  QLineEdit* field = openTextWindow("hello");
  ASSERT_NE(field, nullptr);
  field->deselect();
  QGuiApplication::clipboard()->clear(QClipboard::Selection);
  ASSERT_TRUE(waitForPrimary(""));

  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  const auto popup = waitForPopup();
  ASSERT_TRUE(popup) << "no quick-translate popup mapped";
  // Quick translate takes the keyboard, so Escape reaches it.
  ASSERT_TRUE(waitUntil([&] { return !field->hasFocus(); }, "!field->hasFocus()"));
  xdotool({"key", "Escape"});
  EXPECT_TRUE(waitForNoPopup());
  EXPECT_TRUE(requestsLogged().filter("/translate").isEmpty()) << "nothing was typed, nothing is translated";
}

// The tutorial's quick-translate page: the word the translate page had the user double-click still holds
// PRIMARY when they click the desktop, where nothing is selected, and press the hot key. That word is not
// what they have in front: quick translate opens.
TEST_F(ProgramX11Test, AfterAClickOnTheDesktopTheHotKeyOpensQuickTranslateWhateverPrimaryHolds) {
  QLineEdit* field = openTextWindow("serendipity");
  ASSERT_NE(field, nullptr);
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("serendipity")) << field->selectedText().toStdString();

  // The desktop: no window under the pointer but the root.
  const QPoint desktop(400, 300);
  ASSERT_NO_FATAL_FAILURE(pointerTo(desktop));
  const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  ASSERT_NE(x11, nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x11->connection())).data->root;
  const auto under = runTool("xdotool", {"getmouselocation", "--shell"});
  ASSERT_TRUE(under && under->contains(QString("WINDOW=%1\n").arg(root))) << under.value_or("").toStdString();
  clickAt(desktop);
  ASSERT_TRUE(waitForPrimary("serendipity")) << "the click on the desktop is not a selection";
  xdotool({"key", "alt+t"});
  const auto popup = waitForPopup();
  ASSERT_TRUE(popup) << "no quick-translate popup mapped";
  // Quick translate waits for typing: nothing is looked up until the user types, and then only what was
  // typed. (The press's own requests, had it sent any, would have come before the typed word's.)
  ASSERT_TRUE(waitUntil([&] { return focusIsIn(*popup); }, "quick translate has the keyboard"));
  xdotool({"type", "cat"});
  EXPECT_TRUE(waitForRequest("POST /translate target,text"));
  EXPECT_EQ(requestsLogged().filter("/translate").size(), 1) << requests_.join('\n').toStdString();
  EXPECT_FALSE(requests_.contains("GET /lookup/serendipity?accent=uk"));
  xdotool({"key", "Escape"});
  EXPECT_TRUE(waitForNoPopup());
}

TEST_F(ProgramX11Test, RefineWithoutAKeyAsksForItAndWithTheKeyReplacesTheSelection) {
  // A user who has not stored a key yet.
  {
    platform::LibsecretSecretStore secrets;
    using quorvelle::GeminiKeyManager;
    ASSERT_EQ(secrets.remove(GeminiKeyManager::kService, GeminiKeyManager::kAccount),
              platform::SecretStatus::ok);
  }
  const QString draft = "me and him goes to store";
  QLineEdit* field = openTextWindow(draft);
  ASSERT_NE(field, nullptr);
  ASSERT_NO_FATAL_FAILURE(selectAllAndPress(draft, "alt+r"));

  // No key: the settings window opens on the Refining pane with the key field focused, where the user
  // types the key and presses Return.
  const auto settings = waitForWindowNamed("Quorvelle Settings");
  ASSERT_TRUE(settings) << "the settings window did not map";
  // The window manager makes the window active before the program hears that it has the keyboard: what
  // is typed goes to the key field once the program says the field has the focus.
  const auto keyField = [&]() -> std::optional<ProbedWidget> {
    const auto snapshot = readProbe(probePath_);
    const ProbedWindow* window = snapshot ? snapshot->titled("Quorvelle Settings") : nullptr;
    if (window == nullptr || !window->active) return std::nullopt;
    const ProbedWidget* field =
        window->find([](const ProbedWidget& w) { return w.objectName == "geminiApiKey"; });
    return field ? std::optional<ProbedWidget>(*field) : std::nullopt;
  };
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto field = keyField();
        return field && field->focus;
      },
      "the settings window has the keyboard, on its key field"))
      << probedWindows();
  EXPECT_TRUE(requestsLogged().filter("/refine").isEmpty()) << "nothing is sent without a key";
  const QString key = "AIza-test-key";
  xdotool({"type", "--delay", "30", key});
  // A password field shows a mask of the key's length.
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto field = keyField();
        return field && field->text.size() == key.size();
      },
      "the key field holds what was typed"))
      << probedWindows();
  xdotool({"key", "Return"});
  EXPECT_TRUE(
      waitUntil([&] { return storedGeminiKey() == key.toStdString(); }, "the keyring holds the typed key"))
      << "the key typed into the settings window is not in the keyring\nprogram output:\n"
      << programLog_.toStdString();

  // Back in the other application, the next Alt+R refines with the key.
  ASSERT_NO_FATAL_FAILURE(focusTheTextWindow(field));
  ASSERT_NO_FATAL_FAILURE(selectAllAndPress(draft, "alt+r"));
  // With the key from the keyring, and without the built-in prompt, which the backend has already.
  EXPECT_TRUE(waitForRequest("POST /refine apiKey,language,text")) << requests_.join('\n').toStdString();
  std::optional<QString> popup;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const QString& window : programWindows()) {
          if (window != trayIcon_ && window != *settings) popup = window;
        }
        return popup.has_value();
      },
      "popup.has_value()"))
      << "no popup mapped";
  // Once the three variants have arrived the popup grows from its one loading line; then a click on the
  // first, "Me and him goes to store.".
  const auto frame = waitForPopupTallerThan(*popup, 100);
  ASSERT_TRUE(frame) << "the variants did not show";
  clickAt(frame->topLeft() + QPoint(60, 24));

  EXPECT_TRUE(waitUntil([&] { return field->text() == "Me and him goes to store."; },
                        "field->text() == \"Me and him goes to store.\""))
      << field->text().toStdString();
}

TEST_F(ProgramX11Test, TrayMenuOpensSettingsAndQuits) {
  ASSERT_NO_FATAL_FAILURE(chooseFromTrayMenu("Settings…"));
  const auto settings = waitForWindowNamed("Quorvelle Settings");
  ASSERT_TRUE(settings) << "the settings window did not map";
  // The window manager gives it the focus; a menu opened before the program hears of that would close
  // again at once.
  ASSERT_TRUE(waitUntil([&] { return focusIsIn(*settings); }, "the settings window has the focus"));

  ASSERT_NO_FATAL_FAILURE(quitThroughTheTrayMenu());
}

// A second copy finds the first, has it show its settings and ends, without a tray icon or hot keys of
// its own.
// The keys the tray menu shows beside its items work where a person presses them: in the open menu, and
// in the program's own windows.
TEST_F(ProgramX11Test, TheMenusKeysOpenSettingsAndQuitInTheOpenMenuAndInTheSettingsWindow) {
  ASSERT_NO_FATAL_FAILURE(openTrayMenu());
  xdotool({"key", "ctrl+comma"});
  const auto settings = waitForWindowNamed("Quorvelle Settings");
  ASSERT_TRUE(settings) << "Ctrl+, in the open menu opened no settings window";
  ASSERT_TRUE(waitUntil([&] { return focusIsIn(*settings); }, "the settings window has the focus"));
  xdotool({"key", "ctrl+q"});
  ASSERT_TRUE(waitUntil([&] { return program_->state() == QProcess::NotRunning; },
                        "Ctrl+Q in the settings window ended the program"))
      << "program output:\n"
      << programLog_.toStdString();
  EXPECT_EQ(program_->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program_->exitCode(), 0);

  ASSERT_NO_FATAL_FAILURE(startProgram());
  ASSERT_NO_FATAL_FAILURE(openTrayMenu());
  xdotool({"key", "ctrl+q"});
  ASSERT_TRUE(waitUntil([&] { return program_->state() == QProcess::NotRunning; },
                        "Ctrl+Q in the open menu ended the program"))
      << "program output:\n"
      << programLog_.toStdString();
  EXPECT_EQ(program_->exitCode(), 0);
}

// Without a tray the program shows its settings window, which is then all the user has of it: its own
// Quit ends the program.
class ProgramWithoutATrayX11Test : public ProgramX11Test {
 protected:
  bool hasTray() const override { return false; }
};

TEST_F(ProgramWithoutATrayX11Test, TheSettingsWindowQuitsTheProgram) {
  const auto settings = waitForWindowNamed("Quorvelle Settings");
  ASSERT_TRUE(settings) << "no settings window without a tray";
  std::optional<ProbedWidget> quit;
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto snapshot = readProbe(probePath_);
        const ProbedWindow* window = snapshot ? snapshot->titled("Quorvelle Settings") : nullptr;
        const ProbedWidget* found =
            window && settledOnServer(*window) ? window->withText("Quit Quorvelle") : nullptr;
        if (found && found->enabled) quit = *found;
        return quit.has_value();
      },
      "the settings window shows Quit Quorvelle"))
      << probedWindows();
  clickAt(quit->shown.center());
  ASSERT_TRUE(waitUntil([&] { return program_->state() == QProcess::NotRunning; },
                        "Quit Quorvelle ended the program"))
      << "program output:\n"
      << programLog_.toStdString();
  EXPECT_EQ(program_->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program_->exitCode(), 0);
}

TEST_F(ProgramX11Test, ASecondCopyShowsTheFirstCopysSettingsAndEnds) {
  QProcess second;
  second.setProcessEnvironment(programEnv_);
  second.start(QStringLiteral(QUORVELLE_BINARY_DIR "/program/quorvelle"), {});
  ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; },
                        "second.state() == QProcess::NotRunning"))
      << "the second copy keeps running";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  const QStringList said = QString::fromUtf8(second.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(said.size(), 1) << said.join('\n').toStdString();
  EXPECT_TRUE(said.front().contains("already running")) << said.front().toStdString();

  QString settings;
  EXPECT_TRUE(waitUntil(
      [&] {
        const auto out = runTool("xdotool", {"search", "--onlyvisible", "--name", "^Quorvelle Settings$"});
        settings = out ? out->trimmed() : QString();
        return !settings.isEmpty();
      },
      "!settings.isEmpty()"))
      << "the first copy did not show its settings";
  EXPECT_TRUE(programWindows().contains(settings)) << "the settings window is not the first copy's";
  EXPECT_EQ(program_->state(), QProcess::Running);

  // The first copy still has its hot keys.
  QLineEdit* field = openTextWindow("hello there");
  ASSERT_NE(field, nullptr);
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello"));
  xdotool({"key", "alt+t"});
  EXPECT_TRUE(waitForRequest("GET /lookup/hello?accent=uk"));
}

// A relaunch starts the new copy while the old one still runs: the new copy waits for the old to end
// instead of handing over to it, then takes over the hot keys.
TEST_F(ProgramX11Test, ACopyStartedByARelaunchWaitsForTheOldOneAndTakesOver) {
  QProcessEnvironment env = programEnv_;
  env.insert("QUORVELLE_REPLACES_PID", QString::number(program_->processId()));
  auto next = startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/program/quorvelle"), {}, env);
  ASSERT_TRUE(waitUntil([&] { return next->state() == QProcess::Running; }, "the new copy started"));

  ASSERT_NO_FATAL_FAILURE(quitThroughTheTrayMenu());
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto out =
            runTool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(next->processId())});
        return out && !out->trimmed().isEmpty();
      },
      "the new copy took over (its tray icon shows)"));
  // It waited: it neither handed over to the old copy nor had it show its settings.
  EXPECT_FALSE(QString::fromUtf8(next->readAllStandardOutput()).contains("already running"));
  const auto settings = runTool("xdotool", {"search", "--onlyvisible", "--name", "^Quorvelle Settings$"});
  EXPECT_TRUE(!settings || settings->trimmed().isEmpty()) << "a settings window showed";

  QLineEdit* field = openTextWindow("hello there");
  ASSERT_NE(field, nullptr);
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello"));
  xdotool({"key", "alt+t"});
  EXPECT_TRUE(waitForRequest("GET /lookup/hello?accent=uk")) << "the new copy has no hot keys";
  stopChild(next);
}

// After the copy fallback the program owns CLIPBOARD, holding the user's own content that it put back.
// When it quits, whether from its menu or asked to stop by the session (SIGTERM), the desktop's clipboard
// manager takes that content over, so the user's clipboard outlives the program.
TEST_F(ProgramX11Test, AtQuitTheClipboardManagerTakesOverTheUsersRestoredClipboard) {
  const auto clipboardAs = [](const QString& target) {
    return runTool("xclip", {"-o", "-selection", "clipboard", "-t", target}).value_or("(nothing)");
  };
  QLineEdit* field = openTextWindow("hello");
  ASSERT_NE(field, nullptr);
  for (const bool bySignal : {false, true}) {
    SCOPED_TRACE(bySignal ? "SIGTERM" : "Quit Quorvelle");
    if (program_->state() == QProcess::NotRunning) {
      ASSERT_NO_FATAL_FAILURE(startProgram());
    }
    QProcess manager;
    manager.start(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/clipboard-manager"), {});
    ASSERT_TRUE(waitUntil([&] { return manager.canReadLine(); }, "manager.canReadLine()"));
    ASSERT_EQ(manager.readLine(), "ready\n");
    QProcess owner;
    owner.start(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/clipboard-owner"),
                {"text/plain", "user text", "text/html", "<i>user</i>"});
    ASSERT_TRUE(waitUntil([&] { return owner.canReadLine(); }, "owner.canReadLine()"));
    ASSERT_EQ(owner.readLine(), "ready\n");

    // Selected in a field that keeps it out of PRIMARY: the hot key copies it.
    ASSERT_NO_FATAL_FAILURE(focusTheTextWindow(field));
    QGuiApplication::clipboard()->clear(QClipboard::Selection);
    field->selectAll();
    requests_.clear();
    ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
    xdotool({"key", "alt+t"});
    ASSERT_TRUE(waitForRequest("GET /lookup/hello?accent=uk")) << requests_.join('\n').toStdString();
    ASSERT_TRUE(waitUntil([&] { return clipboardAs("text/html") == "<i>user</i>"; },
                          "clipboardAs(\"text/html\") == \"<i>user</i>\""))
        << "the program did not put the user's clipboard back";
    owner.kill();
    owner.waitForFinished();
    ASSERT_TRUE(waitForPopup());
    ASSERT_NO_FATAL_FAILURE(closePopupBesideTheField());

    if (bySignal) {
      program_->terminate();
      ASSERT_TRUE(waitUntil([&] { return program_->state() == QProcess::NotRunning; },
                            "program_->state() == QProcess::NotRunning"));
      EXPECT_EQ(program_->exitStatus(), QProcess::NormalExit) << "killed by the signal";
    } else {
      ASSERT_NO_FATAL_FAILURE(quitThroughTheTrayMenu());
    }
    ASSERT_TRUE(waitUntil([&] { return manager.canReadLine(); }, "manager.canReadLine()"))
        << "no hand-over to the clipboard manager";
    const QString saved = QString::fromUtf8(manager.readLine());
    EXPECT_TRUE(saved.contains("text/html") && saved.contains("text/plain")) << saved.toStdString();
    EXPECT_EQ(clipboardAs("text/html"), "<i>user</i>");
    EXPECT_EQ(clipboardAs("text/plain"), "user text");
    manager.kill();
    manager.waitForFinished();
  }
}

// A backend that hangs up on every refine without an answer. The translation before leaves connections
// in the transport's pool, which the refine then reuses: the refine reaches the backend once, however
// the connection ends, and the failure is logged (never the text or the key).
class ProgramWithAHangingUpBackendX11Test : public ProgramX11Test {
 protected:
  QStringList extraBackendArguments() const override { return {"--hang-up", "/refine"}; }
};

TEST_F(ProgramWithAHangingUpBackendX11Test, ARefineIsSentOnceAndItsFailureLogged) {
  QLineEdit* field = openTextWindow("hello there");
  ASSERT_NE(field, nullptr);
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello"));
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  ASSERT_TRUE(waitForRequest("GET /lookup/hello?accent=uk"));
  ASSERT_TRUE(waitForPopup());
  ASSERT_NO_FATAL_FAILURE(closePopupBesideTheField());

  ASSERT_NO_FATAL_FAILURE(selectAllAndPress("hello there", "alt+r"));
  const QString failure = "LookupClient: refine failed: connection lost (HTTP 0)";
  ASSERT_TRUE(waitUntil([&] { return programLog_.contains(failure); }, "programLog_.contains(failure)"))
      << programLog_.toStdString();
  // A second attempt would have reached the backend, which logs each request, before the program gave up.
  EXPECT_EQ(requestsLogged().filter("POST /refine").size(), 1) << requests_.join('\n').toStdString();
  EXPECT_EQ(programLog_.count("failed:"), 1) << programLog_.toStdString();
  EXPECT_FALSE(programLog_.contains("hello") || programLog_.contains("AIza")) << programLog_.toStdString();
  EXPECT_TRUE(waitForPopup()) << "the popup shows the error";
}

// The Secret Service accepts the call for the Gemini key and never answers. The program stays
// responsive while it waits (a translate press works at once and drops the refine), and once the keyring
// has had its time it says so in the popup instead of opening the settings as if no key were stored.
class ProgramWithASilentKeyringX11Test : public ProgramX11Test {
 protected:
  static constexpr const char* kKeyringTimedOut = "no answer from the secret service in time";

  void startSecretService() override {
    secretService_ =
        startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/silent-secret-service"), {}, env_);
    ASSERT_TRUE(waitUntil([&] { return secretService_->canReadLine(); }, "secretService_->canReadLine()"));
    ASSERT_EQ(secretService_->readLine(), "ready\n");
  }

  bool settingsWindowShown() {
    const auto out = runTool("xdotool", {"search", "--onlyvisible", "--name", "^Quorvelle Settings$"});
    return out && !out->trimmed().isEmpty();
  }
};

TEST_F(ProgramWithASilentKeyringX11Test, RefineWaitsForTheKeyringWithoutFreezingAndSaysItDidNotAnswer) {
  QLineEdit* field = openTextWindow("hello there");
  ASSERT_NE(field, nullptr);
  ASSERT_NO_FATAL_FAILURE(selectAllAndPress("hello there", "alt+r"));

  // Well within the keyring's five seconds: a translate press is answered before the keyring's time is up.
  // (A program frozen on the keyring would answer it only after saying the keyring did not answer.)
  doubleClickFirstWord(field);
  ASSERT_TRUE(waitForPrimary("hello"));
  ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
  xdotool({"key", "alt+t"});
  ASSERT_TRUE(waitForRequest("GET /lookup/hello?accent=uk"));
  EXPECT_FALSE(programLog_.contains(kKeyringTimedOut)) << "the program was frozen";
  ASSERT_TRUE(waitForPopup());
  ASSERT_NO_FATAL_FAILURE(closePopupBesideTheField());

  ASSERT_NO_FATAL_FAILURE(selectAllAndPress("hello there", "alt+r"));
  EXPECT_TRUE(waitForPopup()) << "no popup after the keyring's time-out";
  EXPECT_TRUE(waitUntil([&] { return programLog_.contains(kKeyringTimedOut); },
                        "the program said the keyring did not answer"))
      << programLog_.toStdString();
  EXPECT_FALSE(settingsWindowShown()) << "the settings opened as if no key were stored";
  EXPECT_TRUE(requestsLogged().filter("/refine").isEmpty()) << "a refine went out without the key";
}

}  // namespace
