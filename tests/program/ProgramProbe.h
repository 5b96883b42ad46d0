#pragma once

// Reads the program's window snapshots (program/TestProbe.h) for tests that drive it from outside: where
// its windows' buttons, cards and fields are and what state they are in. Test thread of a Qt test: while
// it waits for the answer it runs this process's event loop, so that its own windows and selections
// answer the program meanwhile.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QString>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "program/TestProbe.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"

namespace quorvelle::test {

// One visible widget as the program reported it; rectangles are on the screen.
struct ProbedWidget {
  QString className;
  QString objectName;
  QString name;  // accessible
  QString description;
  QString text;
  QString selectedText;
  bool enabled = false;
  std::optional<bool> checked;
  bool focus = false;
  QRect geometry;
  QRect shown;  // the part of it on screen: where a click reaches it
};

struct ProbedWindow {
  QString id;
  QString title;
  bool active = false;
  bool popup = false;
  QRect geometry;
  std::vector<ProbedWidget> widgets;

  // The first widget for which `match` holds, parents before children.
  const ProbedWidget* find(const std::function<bool(const ProbedWidget&)>& match) const {
    for (const ProbedWidget& widget : widgets) {
      if (match(widget)) return &widget;
    }
    return nullptr;
  }
  const ProbedWidget* withText(const QString& text) const {
    return find([&](const ProbedWidget& w) { return w.text == text; });
  }
  const ProbedWidget* named(const QString& name) const {
    return find([&](const ProbedWidget& w) { return w.name == name; });
  }
};

struct ProbeSnapshot {
  std::vector<ProbedWindow> windows;

  const ProbedWindow* titled(const QString& title) const {
    for (const ProbedWindow& window : windows) {
      if (window.title == title) return &window;
    }
    return nullptr;
  }
};

namespace probe_detail {

inline QRect rectangle(const QJsonValue& value) {
  const QJsonArray r = value.toArray();
  return r.size() == 4 ? QRect(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt()) : QRect();
}

inline std::optional<ProbeSnapshot> parse(const QByteArray& json) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  ProbeSnapshot snapshot;
  for (const QJsonValue& w : document.object()[TestProbe::kWindows].toArray()) {
    const QJsonObject in = w.toObject();
    ProbedWindow window{.id = in[TestProbe::kId].toString(),
                        .title = in[TestProbe::kTitle].toString(),
                        .active = in[TestProbe::kActive].toBool(),
                        .popup = in[TestProbe::kPopup].toBool(),
                        .geometry = rectangle(in[TestProbe::kGeometry]),
                        .widgets = {}};
    for (const QJsonValue& v : in[TestProbe::kWidgets].toArray()) {
      const QJsonObject o = v.toObject();
      ProbedWidget widget{.className = o[TestProbe::kClass].toString(),
                          .objectName = o[TestProbe::kObjectName].toString(),
                          .name = o[TestProbe::kName].toString(),
                          .description = o[TestProbe::kDescription].toString(),
                          .text = o[TestProbe::kText].toString(),
                          .selectedText = o[TestProbe::kSelectedText].toString(),
                          .enabled = o[TestProbe::kEnabled].toBool(),
                          .checked = o.contains(TestProbe::kChecked)
                                         ? std::optional<bool>(o[TestProbe::kChecked].toBool())
                                         : std::nullopt,
                          .focus = o[TestProbe::kFocus].toBool(),
                          .geometry = rectangle(o[TestProbe::kGeometry]),
                          .shown = rectangle(o[TestProbe::kShown])};
      window.widgets.push_back(std::move(widget));
    }
    snapshot.windows.push_back(std::move(window));
  }
  return snapshot;
}

}  // namespace probe_detail

// Far longer than any answer takes; a program that does not answer within it is stuck.
inline constexpr int kProbeAnswerMs = 30000;

// The program's snapshot of this moment, or nothing when nobody listens on `path` (the program has not
// started its probe yet, or has ended) or the answer did not come whole.
inline std::optional<ProbeSnapshot> readProbe(const QString& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray name = path.toLocal8Bit();
  if (name.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) return std::nullopt;
  std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()) + 1);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return std::nullopt;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(socket);
    return std::nullopt;
  }
  QByteArray answer;
  QElapsedTimer waited;
  waited.start();
  bool whole = false;
  while (!waited.hasExpired(kProbeAnswerMs)) {
    pollfd ready{.fd = socket, .events = POLLIN, .revents = 0};
    if (::poll(&ready, 1, 5) <= 0) {
      QCoreApplication::processEvents();
      continue;
    }
    char buffer[16384];
    const ssize_t n = ::read(socket, buffer, sizeof buffer);
    if (n > 0) {
      answer.append(buffer, n);
    } else {
      whole = n == 0;
      break;
    }
  }
  ::close(socket);
  return whole ? probe_detail::parse(answer) : std::nullopt;
}

// Where the X server has the window of this id now, without the window manager's frame (xwininfo; xdotool
// counts a managed window's frame twice), or nothing when it has no such window.
inline std::optional<QRect> serverGeometry(const QString& id) {
  const auto out = runTool("xwininfo", {"-id", id});
  if (!out) return std::nullopt;
  QRect r;
  for (const QString& line : out->split('\n')) {
    const int value = line.section(':', 1).trimmed().toInt();
    if (line.contains("Absolute upper-left X")) r.moveLeft(value);
    if (line.contains("Absolute upper-left Y")) r.moveTop(value);
    if (line.trimmed().startsWith("Width:")) r.setWidth(value);
    if (line.trimmed().startsWith("Height:")) r.setHeight(value);
  }
  return r;
}

// True once the X server has the window where the program last put it: then the places the probe gives
// are where clicks land. (A window just mapped, moved or resized may lag behind, on the server or in the
// program's idea of it.)
inline bool settledOnServer(const ProbedWindow& window) {
  return serverGeometry(window.id) == window.geometry;
}

// The window as the probe saw it, for a failure's message.
inline std::string describe(const ProbedWindow& window) {
  auto rect = [](const QRect& r) {
    return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
  };
  const auto active = runTool("xdotool", {"getactivewindow"});
  const auto focus = runTool("xdotool", {"getwindowfocus"});
  QString out =
      QString("window %1 \"%2\"%3 at %4 (on the server: %5; the active window %6, the focus %7)\n")
          .arg(window.id, window.title, window.active ? " active" : "", rect(window.geometry),
               serverGeometry(window.id) ? rect(*serverGeometry(window.id)) : QString("none"),
               active ? active->trimmed() : QString("none"), focus ? focus->trimmed() : QString("none"));
  // Whose window has the keyboard, when it is not this one.
  if (focus && !focus->trimmed().isEmpty() && focus->trimmed() != window.id) {
    const auto whose = runTool("xprop", {"-id", focus->trimmed(), "WM_CLASS", "WM_NAME", "_NET_WM_PID"});
    out += "  the focus window: " + QString(whose.value_or("(xprop failed)")).simplified() + "\n";
  }
  for (const ProbedWidget& w : window.widgets) {
    if (w.text.isEmpty() && w.name.isEmpty()) continue;
    out += QString("  %1 \"%2\" \"%3\"%4%5%6%7 shown %8\n")
               .arg(w.className, w.name, w.text.left(60), w.enabled ? "" : " disabled",
                    w.focus ? " focused" : "",
                    w.selectedText.isEmpty() ? QString() : " selected \"" + w.selectedText.left(60) + "\"",
                    w.checked ? (*w.checked ? " checked" : " unchecked") : "", rect(w.shown));
  }
  return out.toStdString();
}

// Clicks the item `item` of the menu the program has open, once the X server has the menu where the
// program put it.
inline void clickMenuItem(const QString& probePath, const QString& item) {
  QRect where;
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto snapshot = readProbe(probePath);
        for (const auto& window : snapshot ? snapshot->windows : std::vector<ProbedWindow>{}) {
          const ProbedWidget* found = window.find(
              [&](const ProbedWidget& w) { return w.className == "QAction" && w.text == item && w.enabled; });
          if (found != nullptr && window.popup && settledOnServer(window)) where = found->shown;
        }
        return !where.isEmpty();
      },
      ("the open menu shows " + item).toStdString()));
  ASSERT_NO_FATAL_FAILURE(
      xdotool({"mousemove", QString::number(where.center().x()), QString::number(where.center().y())}));
  ASSERT_NO_FATAL_FAILURE(xdotool({"click", "1"}));
}

}  // namespace quorvelle::test
