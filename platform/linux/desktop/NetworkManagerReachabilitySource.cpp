#include "platform/linux/desktop/NetworkManagerReachabilitySource.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <algorithm>
#include <utility>

#include "platform/Log.h"

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kState = QStringLiteral("State");
const QString kConnectivity = QStringLiteral("Connectivity");
// NetworkManager answers at once; a read must not hold the monitor's queue for the default 25 s.
constexpr int kCallTimeoutMs = 5000;

ReachabilityRead failed(QDBusError::ErrorType type) {
  return ReachabilityRead{.flags = std::nullopt, .error = static_cast<std::int32_t>(type)};
}

ReachabilityRead readNetworkManager(const QDBusConnection& bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kPropertiesInterface, "GetAll");
  call << kInterface;
  const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    const QDBusError error(reply);
    log(LogLevel::info, "NetworkManager: reading its state failed: " + error.message().toStdString());
    return failed(error.isValid() ? error.type() : QDBusError::Failed);
  }
  if (reply.arguments().isEmpty()) return failed(QDBusError::InvalidSignature);
  const auto properties = qdbus_cast<QVariantMap>(reply.arguments().first());
  bool hasState = false;
  const std::uint32_t state = properties.value(kState).toUInt(&hasState);
  if (!hasState) return failed(QDBusError::UnknownProperty);
  bool hasConnectivity = false;
  std::uint32_t connectivity = properties.value(kConnectivity).toUInt(&hasConnectivity);
  if (!hasConnectivity) connectivity = NetworkManagerReachabilitySource::unknown;  // older versions
  return ReachabilityRead{.flags = NetworkManagerReachabilitySource::flagsFor(state, connectivity),
                          .error = 0};
}

}  // namespace

class NetworkManagerReachabilitySource::Receiver : public QObject {
  Q_OBJECT
 public:
  explicit Receiver(std::shared_ptr<ReachabilityDelivery> delivery) : delivery_(std::move(delivery)) {}

 public slots:
  void propertiesChanged(const QString& interface, const QVariantMap& changed,
                         const QStringList& invalidated) {
    if (interface != kInterface) return;
    const auto concerns = [](const QString& name) { return name == kState || name == kConnectivity; };
    if (std::any_of(changed.keyBegin(), changed.keyEnd(), concerns) ||
        std::any_of(invalidated.begin(), invalidated.end(), concerns)) {
      delivery_->changed();
    }
  }

 private:
  const std::shared_ptr<ReachabilityDelivery> delivery_;
};

bool NetworkManagerReachabilitySource::ownsName(const QDBusConnection& bus) {
  return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kService).value();
}

ReachabilityFlags NetworkManagerReachabilitySource::flagsFor(std::uint32_t state,
                                                             std::uint32_t connectivity) {
  switch (connectivity) {
    case full:
      return ReachabilityFlag::reachable;
    case limited:
      return ReachabilityFlag::reachable | ReachabilityFlag::connectionRequired;
    case portal:
      return ReachabilityFlag::reachable | ReachabilityFlag::connectionRequired |
             ReachabilityFlag::interventionRequired;
    case none:
      return 0;
    default:
      return state == kStateConnectedGlobal ? ReachabilityFlag::reachable : 0;
  }
}

OpenedReachabilitySource NetworkManagerReachabilitySource::open(const QDBusConnection& bus) {
  if (!bus.isConnected()) {
    const QDBusError error = bus.lastError();
    return {.source = nullptr,
            .error = static_cast<std::int32_t>(error.isValid() ? error.type() : QDBusError::Disconnected)};
  }
  std::shared_ptr<NetworkManagerReachabilitySource> source(new NetworkManagerReachabilitySource(bus));
  QDBusConnection connection = bus;
  if (!connection.connect(kService, kPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"),
                          source->receiver_, SLOT(propertiesChanged(QString, QVariantMap, QStringList)))) {
    const QDBusError error = connection.lastError();
    return {.source = nullptr,
            .error = static_cast<std::int32_t>(error.isValid() ? error.type() : QDBusError::Failed)};
  }
  return {.source = std::move(source), .error = 0};
}

NetworkManagerReachabilitySource::NetworkManagerReachabilitySource(const QDBusConnection& bus)
    : bus_(bus),
      delivery_(std::make_shared<ReachabilityDelivery>("NetworkManager",
                                                       [bus = bus_] { return readNetworkManager(bus); })),
      receiver_(new Receiver(delivery_)) {}

NetworkManagerReachabilitySource::~NetworkManagerReachabilitySource() {
  delivery_->setCallback({});
  delivery_->setQueue(nullptr);
  // A signal may be on its way to the receiver in its thread: only that thread may delete it.
  if (receiver_->thread() == QThread::currentThread()) {
    delete receiver_;
  } else {
    receiver_->deleteLater();
  }
}

ReachabilityRead NetworkManagerReachabilitySource::readFlags() {
  return readNetworkManager(bus_);
}

std::int32_t NetworkManagerReachabilitySource::setCallback(Callback callback) {
  delivery_->setCallback(std::move(callback));
  return 0;
}

std::int32_t NetworkManagerReachabilitySource::schedule(std::shared_ptr<SerialQueue> queue) {
  if (!queue) return static_cast<std::int32_t>(QDBusError::InvalidArgs);
  delivery_->setQueue(std::move(queue));
  return 0;
}

void NetworkManagerReachabilitySource::unschedule() {
  delivery_->setQueue(nullptr);
}

}  // namespace platform

#include "NetworkManagerReachabilitySource.moc"
