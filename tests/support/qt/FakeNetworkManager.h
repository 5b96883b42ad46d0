#pragma once

#include <QDBusConnection>
#include <QString>
#include <QThread>
#include <cstdint>
#include <memory>
#include <optional>

namespace quorvelle::test {

// A stand-in NetworkManager on a test's bus: it owns "org.freedesktop.NetworkManager" and serves the
// State and Connectivity properties of /org/freedesktop/NetworkManager (Get and GetAll) from a thread of
// its own, so the test may block on calls to it. Each change is announced with PropertiesChanged carrying
// the properties that changed. Use it from the test's thread.
class FakeNetworkManager {
 public:
  // Throws std::runtime_error when it cannot connect or own the name.
  FakeNetworkManager(const QString& busAddress, std::uint32_t state, std::uint32_t connectivity);
  ~FakeNetworkManager();
  FakeNetworkManager(const FakeNetworkManager&) = delete;
  FakeNetworkManager& operator=(const FakeNetworkManager&) = delete;

  // Changes the given properties and announces them.
  void set(std::optional<std::uint32_t> state, std::optional<std::uint32_t> connectivity);

 private:
  class Object;
  QString connectionName_;
  QDBusConnection connection_;
  QThread thread_;
  std::unique_ptr<Object> object_;
};

}  // namespace quorvelle::test
