// silent-secret-service
//
// A Secret Service that has hung: it takes the name org.freedesktop.secrets on the session bus, accepts
// every call made to it and never answers one. Prints "ready" once it owns the name and runs until
// terminated. For tests and for trying by hand what the program does when the desktop keyring does not
// answer.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <cstdio>

namespace {

class Silent final : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  // Taken, never answered: the caller waits until it gives up.
  bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "silent-secret-service: no session bus\n");
    return 1;
  }
  Silent silent;
  if (!bus.registerVirtualObject(QStringLiteral("/"), &silent, QDBusConnection::SubPath) ||
      !bus.registerService(QStringLiteral("org.freedesktop.secrets"))) {
    std::fprintf(stderr, "silent-secret-service: cannot take org.freedesktop.secrets\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
