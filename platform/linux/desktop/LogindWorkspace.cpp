#include "platform/linux/desktop/LogindWorkspace.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <QVariantMap>

#include "platform/Log.h"

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace

class LogindWorkspace::Receiver : public QObject {
  Q_OBJECT
 public:
  explicit Receiver(NotificationCenter& center) : center_(center) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
      log(LogLevel::info,
          "Workspace: no system bus; hot keys are not re-registered after sleep or a session switch");
      return;
    }
    if (!bus.interface() || !bus.interface()->isServiceRegistered(kService)) {
      log(LogLevel::info,
          "Workspace: logind is not running; hot keys are not re-registered after sleep or a session "
          "switch");
      return;
    }
    watchesSleep_ = bus.connect(kService, kManagerPath, kManagerInterface, QStringLiteral("PrepareForSleep"),
                                this, SLOT(prepareForSleep(bool)));
    const QString session = sessionPath(bus);
    if (session.isEmpty()) {
      log(LogLevel::info,
          "Workspace: this process belongs to no logind session; session switches are not followed");
    } else {
      sessionPath_ = session;
      active_ = readActive(bus);
      watchesSession_ =
          bus.connect(kService, session, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                      SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    }
  }

  bool watchesSleep_ = false;
  bool watchesSession_ = false;

 private slots:
  void prepareForSleep(bool goingToSleep) {
    if (!goingToSleep) center_.post(std::string(Workspace::kDidWakeNotification));
  }
  void propertiesChanged(const QString& interface, const QVariantMap& changed,
                         const QStringList& invalidated) {
    if (interface != kSessionInterface) return;
    bool active = active_;
    if (changed.contains(QStringLiteral("Active")))
      active = changed.value(QStringLiteral("Active")).toBool();
    else if (invalidated.contains(QStringLiteral("Active")))
      active = readActive(QDBusConnection::systemBus());
    else
      return;
    const bool becameActive = active && !active_;
    active_ = active;
    if (becameActive) center_.post(std::string(Workspace::kSessionDidBecomeActiveNotification));
  }

 private:
  static QString sessionPath(QDBusConnection& bus) {
    QDBusInterface manager(kService, kManagerPath, kManagerInterface, bus);
    QDBusReply<QDBusObjectPath> byPid = manager.call(QStringLiteral("GetSessionByPID"), quint32(::getpid()));
    if (byPid.isValid()) return byPid.value().path();
    const QByteArray id = qgetenv("XDG_SESSION_ID");
    if (id.isEmpty()) return {};
    QDBusReply<QDBusObjectPath> byId = manager.call(QStringLiteral("GetSession"), QString::fromUtf8(id));
    return byId.isValid() ? byId.value().path() : QString();
  }
  bool readActive(QDBusConnection bus) const {
    QDBusInterface properties(kService, sessionPath_, kPropertiesInterface, bus);
    QDBusReply<QDBusVariant> reply =
        properties.call(QStringLiteral("Get"), kSessionInterface, QStringLiteral("Active"));
    return reply.isValid() && reply.value().variant().toBool();
  }

  NotificationCenter& center_;
  QString sessionPath_;
  bool active_ = false;
};

LogindWorkspace::LogindWorkspace() : receiver_(std::make_unique<Receiver>(center_)) {}
LogindWorkspace::~LogindWorkspace() = default;

bool LogindWorkspace::openURL(std::string_view url) {
  return QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.data(), qsizetype(url.size()))));
}

bool LogindWorkspace::watchesSleep() const {
  return receiver_->watchesSleep_;
}
bool LogindWorkspace::watchesSession() const {
  return receiver_->watchesSession_;
}

}  // namespace platform

#include "LogindWorkspace.moc"
