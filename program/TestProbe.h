#pragma once

#include <QByteArray>
#include <QObject>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;

namespace quorvelle {

// What the program's desktop tests see of its windows. With QUORVELLE_TEST_PROBE=<socket path> in the
// environment the program listens on that Unix socket; each client that connects receives one snapshot
// (JSON, below) and is then disconnected. The probe only tells where things are and what state they are
// in: the tests click and type with real X input at the places it gives. Without the variable nothing is
// made: no socket, no thread, no cost.
//
// The snapshot: {"windows": [window...]}, the visible top-level windows, each
//   {"id": the X window id (decimal, as xdotool prints it), "title", "active", "popup": whether it is the
//    popup (a menu) that has the keyboard and the pointer now, "geometry": [x, y, w, h],
//    "widgets": [widget...]}
// with its visible widgets, parents before children, each
//   {"class": the Qt class, "objectName", "name", "description": the accessible ones, "text": what it shows
//    (a password field its mask), "selectedText", "enabled", "checked" (checkable buttons only), "focus",
//    "geometry": its rectangle on the screen, "shown": the part of it its ancestors do not clip}; a menu's
//    items stand among them as widgets of class "QAction" with their text, enabled state and geometry.
//
// Main thread only; made after the QApplication, which it must not outlive. Answers run on the event
// loop between other events; a client that does not read is never waited for.
class TestProbe {
 public:
  static constexpr const char* kVariable = "QUORVELLE_TEST_PROBE";

  // The snapshot's member names, for the tests that read it.
  static constexpr const char* kWindows = "windows";
  static constexpr const char* kId = "id";
  static constexpr const char* kTitle = "title";
  static constexpr const char* kActive = "active";
  static constexpr const char* kPopup = "popup";
  static constexpr const char* kWidgets = "widgets";
  static constexpr const char* kClass = "class";
  static constexpr const char* kObjectName = "objectName";
  static constexpr const char* kName = "name";
  static constexpr const char* kDescription = "description";
  static constexpr const char* kText = "text";
  static constexpr const char* kSelectedText = "selectedText";
  static constexpr const char* kEnabled = "enabled";
  static constexpr const char* kChecked = "checked";
  static constexpr const char* kFocus = "focus";
  static constexpr const char* kGeometry = "geometry";
  static constexpr const char* kShown = "shown";

  // A probe on the socket the environment names, or nothing when it names none or listening fails
  // (which is logged).
  static std::unique_ptr<TestProbe> fromEnvironment();

  // Listens on `path` (a stale socket there is replaced); listening() says whether that worked.
  explicit TestProbe(const std::string& path);
  ~TestProbe();
  TestProbe(const TestProbe&) = delete;
  TestProbe& operator=(const TestProbe&) = delete;

  bool listening() const { return listener_ >= 0; }

  // The snapshot of this moment.
  static QByteArray snapshot();

 private:
  struct Answer {
    QByteArray data;
    qsizetype sent = 0;
    QSocketNotifier* writable = nullptr;
  };

  void accept();
  // Sends what the socket takes now; true once the answer is out or the client has gone.
  static bool send(int socket, Answer& answer);
  void finish(int socket);

  std::string path_;
  int listener_ = -1;
  // Parent of the notifiers, so that they go with the probe.
  QObject notifiers_;
  QSocketNotifier* incoming_ = nullptr;
  std::map<int, Answer> answers_;
};

}  // namespace quorvelle
