#pragma once

// The program as a person meets it: the real executable on a desktop with a window manager (openbox) and a
// tray, against the development backend, with a Secret Service keyring on a session bus of the test's
// own, acting on windows of this test process through global hot keys, the PRIMARY selection and
// synthetic keys. Tests derive from ProgramX11Test; by default the program starts with onboarding done.

#include <gtest/gtest.h>
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
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include "app/AppSettings.h"
#include "app/GeminiKeyManager.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "tests/program/ProgramProbe.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/support/qt/TkTextWindow.h"

namespace quorvelle::test {

class ProgramX11Test : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    for (const char* tool : {"openbox", "trayer", "xdotool", "dbus-daemon", "gnome-keyring-daemon"}) {
      ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
          << tool << " is needed (scripts/setup.sh installs it)";
    }
    const QString root = QString::fromLocal8Bit(std::getenv("XDG_RUNTIME_DIR"));
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("HOME", root + "/home");
    QDir().mkpath(root + "/home");

    // Both are up before the program starts, which would otherwise open its settings window for want of a
    // tray.
    ASSERT_NO_FATAL_FAILURE(startWindowManager(windowManager_));
    if (hasTray()) {
      ASSERT_NO_FATAL_FAILURE(startTray(tray_));
    }
    ASSERT_NO_FATAL_FAILURE(startBackend());
    ASSERT_NO_FATAL_FAILURE(startBus());
    ASSERT_NO_FATAL_FAILURE(startSecretService());

    const QString config = root + "/program-config";
    settingsFile_ = std::filesystem::path(config.toStdString()) / "quorvelle" / "settings.json";
    {
      platform::FileUserDefaults defaults(settingsFile_);
      arrangeSettings(defaults);
    }
    programEnv_ = env_;
    programEnv_.insert("XDG_CONFIG_HOME", config);
    programEnv_.insert("QUORVELLE_BACKEND_URL", backendURL_);
    programEnv_.insert("QT_QPA_PLATFORM", "xcb");
    programEnv_.insert("QUORVELLE_TRACE_STARTUP", "1");
    // The program tells where its windows' parts are and what state they are in.
    probePath_ = root + "/program-probe";
    programEnv_.insert(quorvelle::TestProbe::kVariable, probePath_);
    arrangeEnvironment(programEnv_);
    ASSERT_NO_FATAL_FAILURE(startProgram());
  }

  // The program's settings before it starts: by default onboarding done, translations into Russian.
  virtual void arrangeSettings(platform::FileUserDefaults& defaults) {
    defaults.set(quorvelle::AppSettings::kHasCompletedOnboarding, true);
    defaults.set(quorvelle::AppSettings::kTargetLanguage, std::string("ru"));
  }
  // The program's environment beyond the fixture's own.
  virtual void arrangeEnvironment(QProcessEnvironment&) {}
  // Whether the keyring holds the user's Gemini key before the program starts.
  virtual bool storesGeminiKey() const { return true; }
  // The windows the program shows once it is up: the tray icon, and the windows start-up opens.
  virtual int windowsAtStart() const { return 1; }
  // Whether the desktop has a tray. Without one, the smallest window at start stands in for the tray icon.
  virtual bool hasTray() const { return true; }

  // Starts the program and waits until it is up.
  void startProgram() {
    programLog_.clear();
    program_ = startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/program/quorvelle"), {}, programEnv_);
    QObject::connect(program_.get(), &QProcess::readyReadStandardError,
                     [this] { programLog_ += QString::fromUtf8(program_->readAllStandardError()); });
    ASSERT_TRUE(waitUntil([&] { return program_->state() == QProcess::Running; }, "the program started"));

    // The tray icon shows once start-up (which registers the hot keys) has run; it is the smallest
    // window.
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto windows = programWindows();
          if (windows.size() != windowsAtStart()) return false;
          int smallest = std::numeric_limits<int>::max();
          for (const QString& window : windows) {
            const auto frame = windowGeometry(window);
            const int area = frame ? frame->width() * frame->height() : 0;
            if (area < smallest) {
              smallest = area;
              trayIcon_ = window;
            }
          }
          return true;
        },
        "the program's tray icon and start-up windows showed"))
        << "program output:\n"
        << programLog_.toStdString();
  }

  void TearDown() override {
    if (program_ && program_->state() != QProcess::NotRunning) {
      stopChild(program_);
    }
    stopChild(tray_);
    stopChild(windowManager_);
    stopChild(backend_);
    stopChild(secretService_);
    // The keyring daemon leaves with its bus.
    stopChild(bus_);
  }

  virtual QStringList extraBackendArguments() const { return {}; }

  void startBackend() {
    backend_ = startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/dev-backend"),
                          QStringList{"--port", "0", "--log-requests"} + extraBackendArguments());
    QObject::connect(backend_.get(), &QProcess::readyReadStandardOutput, [this] {
      while (backend_->canReadLine()) requests_ << QString::fromUtf8(backend_->readLine()).trimmed();
    });
    ASSERT_TRUE(waitUntil([&] { return !requests_.isEmpty(); }, "the development backend listens"));
    const QString first = requests_.takeFirst();
    ASSERT_TRUE(first.startsWith("dev-backend listening on ")) << first.toStdString();
    backendURL_ = first.section(' ', -1);
  }

  // A session bus of the test's own, shared with the program.
  void startBus() {
    bus_ = startChild("dbus-daemon", {"--session", "--nofork", "--print-address=1"}, env_);
    ASSERT_TRUE(waitUntil([&] { return bus_->canReadLine(); }, "the session bus said its address"));
    const QString address = QString::fromUtf8(bus_->readLine()).trimmed();
    env_.insert("DBUS_SESSION_BUS_ADDRESS", address);
    // libsecret in this process finds the bus through the environment.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  }

  // An unlocked gnome-keyring on the bus, with the user's Gemini key stored in it.
  virtual void startSecretService() {
    QProcess keyring;
    keyring.setProcessEnvironment(env_);
    keyring.start("gnome-keyring-daemon", {"--unlock", "--components=secrets", "--daemonize"});
    keyring.write("pw");
    keyring.closeWriteChannel();
    ASSERT_TRUE(
        waitUntil([&] { return keyring.state() == QProcess::NotRunning; }, "gnome-keyring-daemon ended"));
    ASSERT_EQ(keyring.exitCode(), 0) << keyring.readAllStandardError().toStdString();
    // The daemon may take its name on the bus only after it has forked away; a request before that would
    // have the bus start a second keyring.
    ASSERT_TRUE(waitUntil([] { return busNameHasOwner("org.freedesktop.secrets"); },
                          "the keyring owns org.freedesktop.secrets on the bus"));

    if (!storesGeminiKey()) return;
    platform::LibsecretSecretStore secrets;
    using quorvelle::GeminiKeyManager;
    ASSERT_EQ(secrets.write(GeminiKeyManager::kService, GeminiKeyManager::kAccount, "AIza-test-key"),
              platform::SecretStatus::ok);
  }

  // The Gemini key in the keyring, or nothing.
  static std::optional<std::string> storedGeminiKey() {
    platform::LibsecretSecretStore secrets;
    using quorvelle::GeminiKeyManager;
    auto read = secrets.read(GeminiKeyManager::kService, GeminiKeyManager::kAccount);
    if (read.status != platform::SecretStatus::ok) return std::nullopt;
    return read.value;
  }

  // The program's windows as its probe tells them, in a line each: for a failure message.
  std::string probedWindows() const {
    const auto snapshot = readProbe(probePath_);
    if (!snapshot) return "(the probe did not answer)";
    std::string out;
    for (const auto& w : snapshot->windows) {
      out += "\n  " + w.id.toStdString() + " \"" + w.title.toStdString() + "\"" +
             (w.active ? " active" : "") + (w.popup ? " popup" : "");
    }
    return out;
  }

  // The program's visible window of this title, once there is one.
  std::optional<QString> waitForWindowNamed(const QString& title) {
    std::optional<QString> found;
    EXPECT_TRUE(waitUntil(
        [&] {
          const auto out = runTool("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
          if (out && !out->trimmed().isEmpty()) found = out->split('\n', Qt::SkipEmptyParts).front();
          return found.has_value();
        },
        ("a window named " + title + " showed").toStdString()));
    return found;
  }

  // The program's viewable windows.
  QStringList programWindows() {
    const auto out =
        runTool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(program_->processId())});
    return out ? out->split('\n', Qt::SkipEmptyParts) : QStringList();
  }

  // The program's one viewable window other than the tray icon, once there is one.
  std::optional<QString> waitForPopup() {
    std::optional<QString> popup;
    EXPECT_TRUE(waitUntil(
        [&] {
          for (const QString& window : programWindows()) {
            if (window != trayIcon_) popup = window;
          }
          return popup.has_value();
        },
        "a popup showed"));
    return popup;
  }

  testing::AssertionResult waitForNoPopup() {
    return waitUntil([&] { return programWindows() == QStringList{trayIcon_}; }, "only the tray icon shows");
  }

  // True when the program has mapped a shared object whose path holds `name`.
  bool programMaps(const QString& name) const {
    QFile maps(QString("/proc/%1/maps").arg(program_->processId()));
    return maps.open(QIODevice::ReadOnly) && QString::fromUtf8(maps.readAll()).contains(name);
  }

  // The requests the development backend has logged up to now, its lines still in the pipe read first: a
  // request that the program's own output shows to have come is among them (the backend logs each before
  // it answers), and so is any that came before it.
  const QStringList& requestsLogged() {
    while (backend_->waitForReadyRead(0)) {
    }
    return requests_;
  }

  testing::AssertionResult waitForRequest(const QString& line) {
    return waitUntil([&] { return requests_.contains(line); },
                     ("the backend received " + line).toStdString());
  }

  // A text field of another application, holding `text`, with the keyboard focus.
  QLineEdit* openTextWindow(const QString& text) {
    auto* field = new QLineEdit(text, &textWindow_);
    (new QVBoxLayout(&textWindow_))->addWidget(field);
    textWindow_.setGeometry(100, 700, 500, 60);
    textWindow_.show();
    EXPECT_TRUE(waitUntil([&] { return textWindow_.windowHandle()->isExposed(); }, "the text window shows"));
    focusTheTextWindow(field);
    return field;
  }

  // Gives the text window the keyboard as a person does from a taskbar: the window manager honours such a
  // request at once, where it may hold an application's own back as stealing the focus.
  void focusTheTextWindow(QLineEdit* field) {
    textWindow_.show();
    xdotool({"windowactivate", "--sync", QString::number(textWindow_.winId())});
    field->setFocus();
    EXPECT_TRUE(waitUntil([&] { return field->hasFocus(); }, "the text field has the focus"));
  }

  // Clicks into the middle of the Tk window titled `title`, as a person does, and waits until it has the
  // keyboard focus (the window manager gives it).
  void clickIntoTkWindow(TkTextWindow& tk, const QString& title) {
    const auto found = waitForWindowNamed(title);
    ASSERT_TRUE(found);
    const auto frame = windowGeometry(*found);
    ASSERT_TRUE(frame);
    const auto window = tk.window();
    ASSERT_TRUE(window);
    clickAt(frame->center());
    ASSERT_TRUE(waitUntil([&] { return focusIsIn(*window); }, (title + " has the focus").toStdString()));
  }

  // Selects the field's first word with a double click, as a person does (PRIMARY follows).
  void doubleClickFirstWord(QLineEdit* field) {
    clickAt(field->mapToGlobal(QPoint(12, field->height() / 2)), 2);
  }

  // Closes the popup with a click in the text window beside its field, which keeps the field's focus and
  // selection.
  void closePopupBesideTheField() {
    clickAt(textWindow_.mapToGlobal(QPoint(2, 2)));
    ASSERT_TRUE(waitForNoPopup());
  }

  // Selects the whole field, which holds `text`, from the keyboard and presses `hotKey` with the pointer
  // away from the field.
  void selectAllAndPress(const QString& text, const QString& hotKey) {
    xdotool({"key", "ctrl+a"});
    ASSERT_TRUE(waitForPrimary(text));
    ASSERT_NO_FATAL_FAILURE(pointerTo({400, 300}));
    xdotool({"key", hotKey});
  }

  // The popup's frame once it is taller than `height` (it has loaded), or nothing.
  std::optional<QRect> waitForPopupTallerThan(const QString& popup, int height) {
    std::optional<QRect> frame;
    if (!waitUntil(
            [&] {
              frame = windowGeometry(popup);
              return frame && frame->height() > height;
            },
            "the popup grew"))
      return std::nullopt;
    return frame;
  }

  // The refine popup's first variant, once the reply shows and the popup has been fitted to it: its
  // window where the X server has it, and the variant in the same place in two looks in a row (the fit is
  // the program's next job after the reply). Before that a click may land outside the popup, which then
  // closes. Only windows `inWindow` accepts are looked into.
  std::optional<ProbedWidget> waitForVariantInPlace(
      const std::function<bool(const ProbedWindow&)>& inWindow) {
    std::optional<ProbedWidget> variant;
    std::optional<QRect> lastLook;
    const bool found = waitUntil(
        [&] {
          std::optional<ProbedWidget> seen;
          const auto snapshot = readProbe(probePath_);
          for (const ProbedWindow& window : snapshot ? snapshot->windows : std::vector<ProbedWindow>{}) {
            if (!inWindow(window) || !settledOnServer(window)) continue;
            if (const auto* widget =
                    window.find([](const ProbedWidget& w) { return w.objectName == "variantText"; }))
              seen = *widget;
          }
          const bool inPlace = seen && lastLook == seen->shown;
          lastLook = seen ? std::optional<QRect>(seen->shown) : std::nullopt;
          if (inPlace) variant = seen;
          return inPlace;
        },
        "the refine popup's variants, in place");
    EXPECT_TRUE(found) << probedWindows();
    return variant;
  }

  void pointerTo(QPoint p) {
    xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    ASSERT_TRUE(waitUntil([&] { return QCursor::pos() == p; }, "the pointer moved"));
  }

  void clickAt(QPoint p, int repeat = 1) {
    pointerTo(p);
    xdotool({"click", "--repeat", QString::number(repeat), "1"});
  }

  // Opens the menu, "Check for Updates…", "Settings…", "Quit Quorvelle", and waits until it shows.
  void openTrayMenu() {
    ASSERT_NO_FATAL_FAILURE(quorvelle::test::openTrayMenu(trayIcon_, [this] { return programWindows(); }))
        << "the program's windows: " << probedWindows() << "\nprogram output:\n"
        << programLog_.toStdString();
  }

  // Opens the tray menu and clicks its item `item` ("Settings…", "Quit Quorvelle").
  void chooseFromTrayMenu(const QString& item) {
    ASSERT_NO_FATAL_FAILURE(openTrayMenu());
    ASSERT_NO_FATAL_FAILURE(clickMenuItem(probePath_, item)) << probedWindows();
  }

  void quitThroughTheTrayMenu() {
    ASSERT_NO_FATAL_FAILURE(chooseFromTrayMenu("Quit Quorvelle"));
    ASSERT_TRUE(waitUntil([&] { return program_->state() == QProcess::NotRunning; },
                          "Quit Quorvelle ended the program"));
    EXPECT_EQ(program_->exitStatus(), QProcess::NormalExit) << programLog_.toStdString();
    EXPECT_EQ(program_->exitCode(), 0) << programLog_.toStdString();
  }

  static testing::AssertionResult waitForPrimary(const QString& text) {
    return waitUntil([&] { return QGuiApplication::clipboard()->text(QClipboard::Selection) == text; },
                     ("PRIMARY holds \"" + text + "\"").toStdString());
  }

  QProcessEnvironment env_;
  QProcessEnvironment programEnv_;
  std::unique_ptr<QProcess> windowManager_;
  std::unique_ptr<QProcess> tray_;
  std::unique_ptr<QProcess> backend_;
  std::unique_ptr<QProcess> bus_;
  std::unique_ptr<QProcess> secretService_;
  std::unique_ptr<QProcess> program_;
  std::filesystem::path settingsFile_;
  QString backendURL_;
  QStringList requests_;
  QString programLog_;  // what the program wrote to its standard error
  QString trayIcon_;
  QString probePath_;  // the program's probe socket
  QWidget textWindow_;
};

}  // namespace quorvelle::test
