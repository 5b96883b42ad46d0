// Structured log capture of DiziZozSDK: captureLog() and the capture behind it and the logger.

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/DiziZozLogsConfig.h"
#include "DiziZoz/core/DiziZozRemoteConfigProviding.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/DiziZozSessionManager.h"
#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz {
namespace {

constexpr std::string_view emptyBodyMessage = "[DiziZoz] captureLog: empty body, dropping";

// The keys of the flags that are on or carry a variant, in ascending order.
std::vector<std::string> activeFlagKeys(const Properties& flags) {
  std::vector<std::string> keys;
  if (!flags.is_object()) return keys;
  for (const auto& [key, value] : flags.items()) {
    if (!(value.is_boolean() && !value.get<bool>())) keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace

void DiziZozSDK::captureLog(const std::string& body, DiziZozLogSeverity level,
                            std::optional<Properties> attributes, std::optional<std::string> traceId,
                            std::optional<std::string> spanId, std::optional<std::int64_t> traceFlags) {
  captureLogInternal(body, level, std::move(attributes), std::move(traceId), std::move(spanId), traceFlags);
}

void DiziZozSDK::captureLogInternal(const std::string& body, DiziZozLogSeverity level,
                                    std::optional<Properties> attributes, std::optional<std::string> traceId,
                                    std::optional<std::string> spanId,
                                    std::optional<std::int64_t> traceFlags) {
  if (!checkSetup()) return;
  const auto config = this->config();
  if (config->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  if (trimmedWhitespace(body).empty()) {
    hedgeLog(emptyBodyMessage);
    return;
  }
  const auto logsQueue = this->logsQueue();
  if (!logsQueue) return;

  DiziZozLogRecord record;
  record.body = body;
  record.level = level;
  record.attributes = attributes && attributes->is_object() ? std::move(*attributes) : Properties::object();
  record.traceId = std::move(traceId);
  record.spanId = std::move(spanId);
  record.traceFlags = traceFlags;
  if (std::string distinctId = getDistinctId(); !distinctId.empty())
    record.distinctId = std::move(distinctId);
  // A log line must never start or rotate a session.
  record.sessionId = sessionManager_->getSessionId(true);
  {
    std::lock_guard lock(lastScreenLock_);
    record.screenName = lastScreenName_;
  }
  record.appState = sessionManager_->isAppInBackgroundSnapshot() ? "background" : "foreground";
  if (auto remoteConfig = this->remoteConfig())
    record.featureFlagKeys = activeFlagKeys(remoteConfig->getFeatureFlags());
  record.timeUnixNano = nanosNow(*services_.clock);
  record.observedTimeUnixNano = record.timeUnixNano;

  std::optional<DiziZozLogRecord> surviving;
  try {
    surviving = config->logs->runBeforeSend(std::move(record));
  } catch (const std::exception& error) {
    hedgeLog(std::string("A logs before-send hook failed; the log record is dropped: ") + error.what());
  } catch (...) {
    hedgeLog("A logs before-send hook failed; the log record is dropped");
  }
  if (surviving) logsQueue->add(std::move(*surviving));
}

}  // namespace dizizoz
