#include "program/TestProbe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextEdit>
#include <QWidget>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Log.h"

namespace quorvelle {
namespace {

constexpr int kBacklog = 8;

QJsonArray rectangle(const QRect& r) {
  return {r.x(), r.y(), r.width(), r.height()};
}

// The part of `widget` that its ancestors up to its window leave on screen, in the window's coordinates.
QRect shownPart(const QWidget* widget) {
  const QWidget* window = widget->window();
  QRect shown(widget->mapTo(window, QPoint(0, 0)), widget->size());
  for (const QWidget* above = widget->parentWidget(); above && above != window;
       above = above->parentWidget()) {
    shown &= QRect(above->mapTo(window, QPoint(0, 0)), above->size());
  }
  return shown & window->rect();
}

// A text editor's selection reads paragraph breaks as U+2029; the snapshot gives them as line breaks.
QString plainSelection(QString text) {
  return text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

QJsonObject describe(const QWidget* widget) {
  QJsonObject out;
  out[TestProbe::kClass] = QString::fromLatin1(widget->metaObject()->className());
  out[TestProbe::kObjectName] = widget->objectName();
  out[TestProbe::kName] = widget->accessibleName();
  out[TestProbe::kDescription] = widget->accessibleDescription();
  QString text;
  QString selected;
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    text = button->text();
    if (button->isCheckable()) out[TestProbe::kChecked] = button->isChecked();
  } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
    text = label->text();
  } else if (const auto* field = qobject_cast<const QLineEdit*>(widget)) {
    // What the field shows: a password field's mask, never the secret.
    text = field->displayText();
    if (field->echoMode() == QLineEdit::Normal) selected = field->selectedText();
  } else if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
    text = plain->toPlainText();
    selected = plainSelection(plain->textCursor().selectedText());
  } else if (const auto* rich = qobject_cast<const QTextEdit*>(widget)) {
    text = rich->toPlainText();
    selected = plainSelection(rich->textCursor().selectedText());
  }
  out[TestProbe::kText] = text;
  out[TestProbe::kSelectedText] = selected;
  out[TestProbe::kEnabled] = widget->isEnabled();
  out[TestProbe::kFocus] = widget->hasFocus();
  const QWidget* window = widget->window();
  out[TestProbe::kGeometry] = rectangle(QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()));
  const QRect shown = shownPart(widget);
  out[TestProbe::kShown] =
      rectangle(shown.isEmpty() ? QRect() : QRect(window->mapToGlobal(shown.topLeft()), shown.size()));
  return out;
}

}  // namespace

std::unique_ptr<TestProbe> TestProbe::fromEnvironment() {
  const char* path = std::getenv(kVariable);
  if (path == nullptr || *path == '\0') return nullptr;
  auto probe = std::make_unique<TestProbe>(path);
  if (!probe->listening()) return nullptr;
  platform::log(platform::LogLevel::warning,
                std::string("Quorvelle: answering window snapshots on ") + path + " (" + kVariable + ")");
  return probe;
}

TestProbe::TestProbe(const std::string& path) : path_(path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    platform::log(platform::LogLevel::error, "Quorvelle: the probe's socket path is too long: " + path);
    return;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode)) ::unlink(path.c_str());

  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  // Only this user may connect; nobody can before listen().
  if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(listener, kBacklog) != 0) {
    platform::log(platform::LogLevel::error,
                  "Quorvelle: the probe cannot listen on " + path + ": " + std::strerror(errno));
    if (listener >= 0) ::close(listener);
    return;
  }
  listener_ = listener;
  incoming_ = new QSocketNotifier(listener_, QSocketNotifier::Read, &notifiers_);
  QObject::connect(incoming_, &QSocketNotifier::activated, &notifiers_, [this] { accept(); });
}

TestProbe::~TestProbe() {
  // Each notifier goes before its socket.
  for (auto& [socket, answer] : answers_) {
    delete answer.writable;
    ::close(socket);
  }
  if (listener_ < 0) return;
  delete incoming_;
  ::close(listener_);
  ::unlink(path_.c_str());
}

QByteArray TestProbe::snapshot() {
  QJsonArray windows;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible()) continue;
    QJsonObject entry;
    entry[kId] = QString::number(window->winId());
    entry[kTitle] = window->windowTitle();
    entry[kActive] = window->isActiveWindow();
    entry[kPopup] = window == QApplication::activePopupWidget();
    entry[kGeometry] = rectangle(window->geometry());
    QJsonArray widgets;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
      if (widget->isVisible() && widget->window() == window) widgets.append(describe(widget));
    }
    // A menu's items are no widgets of their own: each stands as one, of class QAction.
    if (const auto* menu = qobject_cast<const QMenu*>(window)) {
      for (QAction* action : menu->actions()) {
        if (!action->isVisible() || action->isSeparator()) continue;
        const QRect where(menu->mapToGlobal(menu->actionGeometry(action).topLeft()),
                          menu->actionGeometry(action).size());
        widgets.append(QJsonObject{{kClass, QStringLiteral("QAction")},
                                   {kText, action->text()},
                                   {kEnabled, action->isEnabled()},
                                   {kGeometry, rectangle(where)},
                                   {kShown, rectangle(where)}});
      }
    }
    entry[kWidgets] = widgets;
    windows.append(entry);
  }
  return QJsonDocument(QJsonObject{{kWindows, windows}}).toJson(QJsonDocument::Compact);
}

void TestProbe::accept() {
  for (;;) {
    const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0) return;  // none left (EAGAIN), or one that gave up while queued
    Answer answer{.data = snapshot()};
    if (send(socket, answer)) {
      ::close(socket);
      continue;
    }
    // The rest goes once the client has read what the socket holds.
    answer.writable = new QSocketNotifier(socket, QSocketNotifier::Write, &notifiers_);
    QObject::connect(answer.writable, &QSocketNotifier::activated, &notifiers_, [this, socket] {
      auto found = answers_.find(socket);
      if (found != answers_.end() && send(socket, found->second)) finish(socket);
    });
    answers_.emplace(socket, std::move(answer));
  }
}

bool TestProbe::send(int socket, Answer& answer) {
  while (answer.sent < answer.data.size()) {
    const ssize_t n = ::send(socket, answer.data.constData() + answer.sent,
                             static_cast<size_t>(answer.data.size() - answer.sent), MSG_NOSIGNAL);
    if (n > 0) {
      answer.sent += n;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
    }
  }
  return true;
}

void TestProbe::finish(int socket) {
  auto found = answers_.find(socket);
  if (found == answers_.end()) return;
  // Deleted later: this runs inside the notifier's own signal.
  found->second.writable->setEnabled(false);
  found->second.writable->deleteLater();
  ::close(socket);
  answers_.erase(found);
}

}  // namespace quorvelle
