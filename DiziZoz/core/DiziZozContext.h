#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "DiziZoz/core/Value.h"
#include "platform/Geometry.h"
#include "platform/NotificationCenter.h"

namespace platform {
class HostFacts;
class KeyWindowScreen;
class MainExecutor;
}  // namespace platform

namespace dizizoz {

class DiziZozReachabilityMonitoring;

// The device, application, system and environment properties every event carries, and the smaller set
// of default person properties sent with flag requests.
//
// - static context: application keys from the bundle information, device and system keys from the host
//   facts; computed once;
// - SDK information: "$lib" and "$lib_version", read once;
// - dynamic context (each call): the key window's screen size when known, "$locale", "$timezone", and
//   the network keys when the client has a reachability monitor; the time zone is read from the host
//   once and kept until refreshTimeZone() (the client calls it when a new session starts), so that a
//   capture does not read the system's zone files each time;
// - person-properties context: a subset of the two cached maps.
//
// One context per client, made at set-up. The cached maps fill once, safely from any thread. The screen
// size is measured on the main executor when one of the three window notifications arrives (without a
// key-window source it stays unknown) and read under its own lock.
class DiziZozContext : public std::enable_shared_from_this<DiziZozContext> {
 public:
  struct Sources {
    DiziZozBundleInfo bundle{};
    std::shared_ptr<const platform::HostFacts> hostFacts{};
    std::shared_ptr<const platform::KeyWindowScreen> keyWindowScreen{};  // may be null
    std::shared_ptr<DiziZozReachabilityMonitoring> reachability{};       // may be null
    std::shared_ptr<platform::MainExecutor> mainExecutor{};
    std::shared_ptr<platform::NotificationCenter> notificationCenter{};
  };

  explicit DiziZozContext(Sources sources);
  DiziZozContext(const DiziZozContext&) = delete;
  DiziZozContext& operator=(const DiziZozContext&) = delete;

  const Properties& staticContext();
  const Properties& sdkInfo();
  const Properties& personPropertiesContext();
  Properties dynamicContext();

  // Starts (or stops) refreshing the screen size on the window notifications. Destroying the context
  // stops it too.
  void registerNotifications();
  void unregisterNotifications();
  // Measures the key window's screen on the main executor: at once when called there, otherwise soon.
  void onShouldUpdateScreenSize();

  std::optional<platform::Size> screenSize() const;

  // The "$timezone" of events: the host's zone as last read.
  std::string timeZone();
  // Reads the host's zone again at the next event. Any thread.
  void refreshTimeZone();

 private:
  void measureScreenSize();

  const Sources sources_;
  mutable std::mutex screenSizeLock_;
  std::optional<platform::Size> screenSize_;  // screenSizeLock_
  std::mutex timeZoneLock_;
  std::optional<std::string> timeZone_;  // timeZoneLock_
  std::once_flag staticOnce_;
  std::once_flag sdkOnce_;
  std::once_flag personOnce_;
  Properties theStaticContext_;
  Properties theSdkInfo_;
  Properties thePersonPropertiesContext_;
  std::mutex observationsLock_;
  std::vector<platform::NotificationCenter::Token> observations_;  // observationsLock_
};

// A friendly device name for a Mac model identifier ("MacBookPro18,1" -> "MacBook Pro"); "Mac" for
// anything unknown.
std::string macModelToFriendlyName(std::string_view model);

}  // namespace dizizoz
