#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace dizizoz {

class DiziZozSDK;

// Why an integration did not attach to a client.
enum class DiziZozIntegrationInstallSkipReason {
  alreadyInstalled,
  disabledInRemoteConfig,
  notAvailableOnPlatform
};

// The reason's text, as the client's install loop prints it: "Already installed to another DiziZozSDK
// instance", "Disabled in remote config", "Not available on this platform".
std::string_view description(DiziZozIntegrationInstallSkipReason reason);

// The outcome of installing an integration: installed, or skipped with a reason.
class DiziZozIntegrationInstallResult {
 public:
  static DiziZozIntegrationInstallResult installed() { return DiziZozIntegrationInstallResult({}); }
  static DiziZozIntegrationInstallResult skipped(DiziZozIntegrationInstallSkipReason reason) {
    return DiziZozIntegrationInstallResult(reason);
  }

  bool isInstalled() const { return !skipReason_; }
  // The reason when skipped.
  const std::optional<DiziZozIntegrationInstallSkipReason>& skipReason() const { return skipReason_; }

  bool operator==(const DiziZozIntegrationInstallResult&) const = default;

 private:
  explicit DiziZozIntegrationInstallResult(std::optional<DiziZozIntegrationInstallSkipReason> reason)
      : skipReason_(reason) {}
  std::optional<DiziZozIntegrationInstallSkipReason> skipReason_;
};

// An automatic feature that attaches itself to one client when the client is set up (application
// life-cycle events, screen views, push-notification opening, error tracking) and detaches when the
// client is closed. The client installs and uninstalls integrations under its set-up lock; an integration
// holds its client weakly, so it never keeps one alive. DiziZozIntegrationPattern (below) gives the
// install and uninstall that every integration shares.
class DiziZozIntegration {
 public:
  virtual ~DiziZozIntegration() = default;

  // True when the integration works by wrapping callbacks of system classes; the client then installs it
  // only while the `enableSwizzling` option is on.
  virtual bool requiresSwizzling() const = 0;
  virtual DiziZozIntegrationInstallResult install(DiziZozSDK& client) = 0;
  // Detaches from `client`; an integration that belongs to another client stays attached.
  virtual void uninstall(DiziZozSDK& client) = 0;
};

// The unqualified name of the integration's dynamic type ("DiziZozScreenViewIntegration"), as the
// client's install lines name it.
std::string integrationTypeName(const DiziZozIntegration& integration);

}  // namespace dizizoz
