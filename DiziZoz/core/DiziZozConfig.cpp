#include "DiziZoz/core/DiziZozConfig.h"

#include <array>
#include <mutex>
#include <utility>

#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz {

std::string diziZozSdkName = std::string(diziZoziOSSdkName);
std::string diziZozVersion = "3.69.5";

namespace {

constexpr std::string_view apiKeyDeprecation =
    "apiKey is deprecated and will be removed in the next major version. Use projectToken instead.";
constexpr std::size_t integrationKindCount = 4;

struct IntegrationTable {
  std::mutex lock;
  std::array<DiziZozConfig::IntegrationFactory, integrationKindCount> factories;
};

IntegrationTable& integrationTable() {
  static IntegrationTable table;
  return table;
}

// Length of the white space or line break code point at `pos`, 0 when there is none. Covers the ASCII
// ones and the Unicode space separators, NEL and the line and paragraph separators.
std::size_t whitespaceLength(std::string_view s, std::size_t pos) {
  const auto c = static_cast<unsigned char>(s[pos]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  auto byteAt = [&](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  if (c == 0xC2 && (byteAt(pos + 1) == 0x85 || byteAt(pos + 1) == 0xA0)) return 2;
  if (c == 0xE1 && byteAt(pos + 1) == 0x9A && byteAt(pos + 2) == 0x80) return 3;  // U+1680
  if (c == 0xE2 && byteAt(pos + 1) == 0x80) {
    const auto b = byteAt(pos + 2);
    if ((b >= 0x80 && b <= 0x8A) || b == 0xA8 || b == 0xA9 || b == 0xAF)
      return 3;  // U+2000-200A, 2028, 2029, 202F
  }
  if (c == 0xE2 && byteAt(pos + 1) == 0x81 && byteAt(pos + 2) == 0x9F) return 3;  // U+205F
  if (c == 0xE3 && byteAt(pos + 1) == 0x80 && byteAt(pos + 2) == 0x80) return 3;  // U+3000
  return 0;
}

// Length of the white space code point that ends at `end` (exclusive), 0 when there is none.
std::size_t trailingWhitespaceLength(std::string_view s, std::size_t end) {
  for (std::size_t len = 1; len <= 3 && len <= end; ++len) {
    if (whitespaceLength(s, end - len) == len) return len;
  }
  return 0;
}

std::string hostOrDefault(std::string_view host) {
  std::string trimmed = trimmedWhitespace(host);
  if (trimmed.empty()) return std::string(DiziZozConfig::defaultHost);
  if (!isUsableHostUrl(trimmed)) {
    hedgeLog("Host " + trimmed + " is not an absolute http(s) address; using " +
             std::string(DiziZozConfig::defaultHost) + " instead.");
    return std::string(DiziZozConfig::defaultHost);
  }
  return trimmed;
}

}  // namespace

std::string trimmedWhitespace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t len = whitespaceLength(text, begin);
    if (len == 0) break;
    begin += len;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t len = trailingWhitespaceLength(text, end);
    if (len == 0) break;
    end -= len;
  }
  return std::string(text.substr(begin, end - begin));
}

bool isUsableHostUrl(std::string_view text) {
  std::string_view rest;
  if (text.starts_with("https://")) {
    rest = text.substr(8);
  } else if (text.starts_with("http://")) {
    rest = text.substr(7);
  } else {
    return false;
  }
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F) return false;
  }
  const std::size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  return !authority.empty() && authority.front() != ':';
}

std::optional<DiziZozDataMode> dataModeFromRawValue(std::int64_t rawValue) {
  if (rawValue < 0 || rawValue > 2) return std::nullopt;
  return static_cast<DiziZozDataMode>(rawValue);
}

std::optional<DiziZozPersonProfiles> personProfilesFromRawValue(std::int64_t rawValue) {
  if (rawValue < 0 || rawValue > 2) return std::nullopt;
  return static_cast<DiziZozPersonProfiles>(rawValue);
}

DiziZozConfig::DiziZozConfig(std::string_view projectToken, const DiziZozBundleInfo& bundle)
    : DiziZozConfig(projectToken, defaultHost, bundle) {}

DiziZozConfig::DiziZozConfig(std::string_view projectToken, std::string_view host,
                             const DiziZozBundleInfo& bundle)
    : errorTrackingConfig(std::make_shared<DiziZozErrorTrackingConfig>(bundle)),
      logs(std::make_shared<DiziZozLogsConfig>(bundle)),
      host_(hostOrDefault(host)),
      projectToken_(trimmedWhitespace(projectToken)),
      bundle_(bundle) {}

std::shared_ptr<DiziZozConfig> DiziZozConfig::withApiKey(std::string_view apiKey,
                                                         const DiziZozBundleInfo& bundle) {
  hedgeLog(apiKeyDeprecation);
  return std::make_shared<DiziZozConfig>(apiKey, bundle);
}

std::shared_ptr<DiziZozConfig> DiziZozConfig::withApiKey(std::string_view apiKey, std::string_view host,
                                                         const DiziZozBundleInfo& bundle) {
  hedgeLog(apiKeyDeprecation);
  return std::make_shared<DiziZozConfig>(apiKey, host, bundle);
}

const std::string& DiziZozConfig::apiKey() const {
  hedgeLog(apiKeyDeprecation);
  return projectToken_;
}

void DiziZozConfig::setRemoteConfig(bool enabled) {
  if (!enabled) {
    hedgeLog("remoteConfig is deprecated and is now always enabled. Setting it to false has no effect.");
  }
}

void DiziZozConfig::setEvaluationEnvironments(std::optional<std::vector<std::string>> contexts) {
  if (contexts) hedgeLog("evaluationEnvironments is deprecated. Use evaluationContexts instead.");
  evaluationContexts = std::move(contexts);
}

std::vector<std::shared_ptr<DiziZozIntegration>> DiziZozConfig::getIntegrations() const {
  const std::array<std::pair<DiziZozIntegrationKind, bool>, integrationKindCount> wanted{{
      {DiziZozIntegrationKind::errorTrackingAutoCapture, errorTrackingConfig->autoCapture},
      {DiziZozIntegrationKind::screenViews, captureScreenViews},
      {DiziZozIntegrationKind::appLifecycle, captureApplicationLifecycleEvents},
      {DiziZozIntegrationKind::pushNotificationOpened, capturePushNotificationOpened},
  }};
  std::array<IntegrationFactory, integrationKindCount> factories;
  {
    auto& table = integrationTable();
    std::lock_guard lock(table.lock);
    factories = table.factories;
  }
  std::vector<std::shared_ptr<DiziZozIntegration>> integrations;
  for (const auto& [kind, on] : wanted) {
    const auto& factory = factories[static_cast<std::size_t>(kind)];
    if (!on || !factory) continue;
    if (auto integration = factory()) integrations.push_back(std::move(integration));
  }
  return integrations;
}

void DiziZozConfig::setIntegrationFactory(DiziZozIntegrationKind kind, IntegrationFactory factory) {
  auto& table = integrationTable();
  std::lock_guard lock(table.lock);
  table.factories[static_cast<std::size_t>(kind)] = std::move(factory);
}

}  // namespace dizizoz
