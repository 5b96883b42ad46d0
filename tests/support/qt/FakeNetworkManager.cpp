#include "tests/support/qt/FakeNetworkManager.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>
#include <mutex>
#include <stdexcept>

namespace quorvelle::test {
namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace

// Answers the properties calls itself (no generated adaptor): a virtual object served on its own thread.
class FakeNetworkManager::Object final : public QDBusVirtualObject {
 public:
  Object(std::uint32_t state, std::uint32_t connectivity) : state_(state), connectivity_(connectivity) {}

  QVariantMap changeTo(std::optional<std::uint32_t> state, std::optional<std::uint32_t> connectivity) {
    std::lock_guard guard(lock_);
    QVariantMap changed;
    if (state) changed.insert(QStringLiteral("State"), state_ = *state);
    if (connectivity) changed.insert(QStringLiteral("Connectivity"), connectivity_ = *connectivity);
    return changed;
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.interface() != kPropertiesInterface) return false;
    const QList<QVariant> args = message.arguments();
    if (args.isEmpty() || args.first().toString() != kInterface) {
      connection.send(
          message.createErrorReply(QDBusError::UnknownInterface, QStringLiteral("no such interface")));
      return true;
    }
    const QVariantMap all = properties();
    if (message.member() == QStringLiteral("GetAll")) {
      connection.send(message.createReply(QVariant(all)));
      return true;
    }
    if (message.member() == QStringLiteral("Get") && args.size() == 2 && all.contains(args[1].toString())) {
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(args[1].toString())))));
      return true;
    }
    return false;
  }

 private:
  QVariantMap properties() const {
    std::lock_guard guard(lock_);
    return {{QStringLiteral("State"), state_}, {QStringLiteral("Connectivity"), connectivity_}};
  }

  mutable std::mutex lock_;
  std::uint32_t state_;
  std::uint32_t connectivity_;
};

FakeNetworkManager::FakeNetworkManager(const QString& busAddress, std::uint32_t state,
                                       std::uint32_t connectivity)
    : connectionName_(QStringLiteral("fake-network-manager-%1").arg(reinterpret_cast<quintptr>(this))),
      connection_(QDBusConnection::connectToBus(busAddress, connectionName_)),
      object_(std::make_unique<Object>(state, connectivity)) {
  if (!connection_.isConnected()) throw std::runtime_error("FakeNetworkManager: cannot connect to the bus");
  object_->moveToThread(&thread_);
  thread_.start();
  if (!connection_.registerVirtualObject(kPath, object_.get()) || !connection_.registerService(kService)) {
    thread_.quit();
    thread_.wait();
    throw std::runtime_error("FakeNetworkManager: cannot serve NetworkManager");
  }
}

FakeNetworkManager::~FakeNetworkManager() {
  connection_.unregisterService(kService);
  connection_.unregisterObject(kPath);
  QDBusConnection::disconnectFromBus(connectionName_);
  thread_.quit();
  thread_.wait();
}

void FakeNetworkManager::set(std::optional<std::uint32_t> state, std::optional<std::uint32_t> connectivity) {
  QDBusMessage signal =
      QDBusMessage::createSignal(kPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"));
  signal << kInterface << object_->changeTo(state, connectivity) << QStringList();
  connection_.send(signal);
}

}  // namespace quorvelle::test
