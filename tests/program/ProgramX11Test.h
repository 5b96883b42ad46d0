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
#include "tests/support/qt/DesktopTools.h"
#include "tests/support/qt/TkTextWindow.h"

namespace quorvelle::test {

inline constexpr int kStartTimeout = 20000;
inline constexpr int kStepTimeout = 20000;

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

    windowManager_ = startChild("openbox", {"--sm-disable", "--config-file", "/dev/null"});
    tray_ = startChild("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                                  "24", "--transparent", "false"});
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

  // Starts the program and waits until it is up.
  void startProgram() {
    programLog_.clear();
    program_ = startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/program/quorvelle"), {}, programEnv_);
    QObject::connect(program_.get(), &QProcess::readyReadStandardError,
                     [this] { programLog_ += QString::fromUtf8(program_->readAllStandardError()); });
    ASSERT_TRUE(program_->waitForStarted(kStartTimeout));

    // The tray icon shows once start-up (which registers the hot keys) has run; it is the smallest
    // window.
    ASSERT_TRUE(QTest::qWaitFor(
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
        kStartTimeout))
        << "the tray icon did not appear; program output:\n"
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !requests_.isEmpty(); }, kStartTimeout));
    const QString first = requests_.takeFirst();
    ASSERT_TRUE(first.startsWith("dev-backend listening on ")) << first.toStdString();
    backendURL_ = first.section(' ', -1);
  }

  // A session bus of the test's own, shared with the program.
  void startBus() {
    bus_ = startChild("dbus-daemon", {"--session", "--nofork", "--print-address=1"}, env_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus_->canReadLine(); }, kStartTimeout));
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
    ASSERT_TRUE(keyring.waitForFinished(kStartTimeout));
    ASSERT_EQ(keyring.exitCode(), 0) << keyring.readAllStandardError().toStdString();

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

  // The program's visible window of this title, once there is one.
  std::optional<QString> waitForWindowNamed(const QString& title) {
    std::optional<QString> found;
    (void)QTest::qWaitFor(
        [&] {
          const auto out = runTool("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
          if (out && !out->trimmed().isEmpty()) found = out->split('\n', Qt::SkipEmptyParts).front();
          return found.has_value();
        },
        kStepTimeout);
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
    (void)QTest::qWaitFor(
        [&] {
          for (const QString& window : programWindows()) {
            if (window != trayIcon_) popup = window;
          }
          return popup.has_value();
        },
        kStepTimeout);
    return popup;
  }

  bool waitForNoPopup() {
    return QTest::qWaitFor([&] { return programWindows() == QStringList{trayIcon_}; }, kStepTimeout);
  }

  // True when the program has mapped a shared object whose path holds `name`.
  bool programMaps(const QString& name) const {
    QFile maps(QString("/proc/%1/maps").arg(program_->processId()));
    return maps.open(QIODevice::ReadOnly) && QString::fromUtf8(maps.readAll()).contains(name);
  }

  bool waitForRequest(const QString& line) {
    return QTest::qWaitFor([&] { return requests_.contains(line); }, kStepTimeout);
  }

  // A text field of another application, holding `text`, with the keyboard focus.
  QLineEdit* openTextWindow(const QString& text) {
    auto* field = new QLineEdit(text, &textWindow_);
    (new QVBoxLayout(&textWindow_))->addWidget(field);
    textWindow_.setGeometry(100, 700, 500, 60);
    textWindow_.show();
    textWindow_.activateWindow();
    field->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, kStepTimeout));
    return field;
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
    if (!QTest::qWaitFor(
            [&] {
              frame = windowGeometry(popup);
              return frame && frame->height() > height;
            },
            kStepTimeout))
      return std::nullopt;
    return frame;
  }

  void pointerTo(QPoint p) {
    xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QCursor::pos() == p; }, kStepTimeout));
  }

  void clickAt(QPoint p, int repeat = 1) {
    pointerTo(p);
    xdotool({"click", "--repeat", QString::number(repeat), "1"});
  }

  // Opens the menu, "Check for Updates…", "Settings…", "Quit Quorvelle", and waits until it shows. The
  // icon ignores clicks for a moment after it first shows, so the click is repeated until the menu
  // comes (a repeat while the menu is open would close it, hence the long pause between them).
  void openTrayMenu() {
    const auto icon = windowGeometry(trayIcon_);
    ASSERT_TRUE(icon);
    const qsizetype before = programWindows().size();
    ASSERT_NO_FATAL_FAILURE(pointerTo(icon->center()));
    bool shown = false;
    for (int attempt = 0; attempt < 5 && !shown; ++attempt) {
      xdotool({"click", "3"});
      shown = QTest::qWaitFor([&] { return programWindows().size() > before; }, 2000);
    }
    ASSERT_TRUE(shown) << "no tray menu";
  }

  void quitThroughTheTrayMenu() {
    ASSERT_NO_FATAL_FAILURE(openTrayMenu());
    xdotool({"key", "Down", "Down", "Down", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return program_->state() == QProcess::NotRunning; }, kStepTimeout))
        << "Quit Quorvelle did not end the program";
    EXPECT_EQ(program_->exitStatus(), QProcess::NormalExit) << programLog_.toStdString();
    EXPECT_EQ(program_->exitCode(), 0) << programLog_.toStdString();
  }

  static bool waitForPrimary(const QString& text) {
    return QTest::qWaitFor([&] { return QGuiApplication::clipboard()->text(QClipboard::Selection) == text; },
                           kStepTimeout);
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
  QWidget textWindow_;
};

}  // namespace quorvelle::test
