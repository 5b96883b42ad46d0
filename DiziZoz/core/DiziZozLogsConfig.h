#pragma once

#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozBundleInfo.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

// Options of the structured-logs pipeline: batching of the logs queue, the rate cap and the service
// identity sent with every upload. Owned by DiziZozConfig (shared by reference); plain fields with no lock
// and no validation on writing, read by the logs queue whenever it needs them.
class DiziZozLogsConfig {
 public:
  // The service name and version default to the bundle's identifier and short version.
  explicit DiziZozLogsConfig(const DiziZozBundleInfo& bundle = {})
      : serviceName(bundle.identifier.value_or(unknownBundleIdentifier)),
        serviceVersion(bundle.shortVersion.value_or("")) {}

  double flushIntervalSeconds = 30.0;
  int maxBufferSize = 1000;  // records
  int flushAt = 20;          // records
  int maxBatchSize = 50;     // records
  std::string serviceName;
  std::string serviceVersion;  // left out of the upload when empty
  std::optional<std::string> environment;
  // Extra resource attributes; the built-in ones win on equal keys.
  Properties resourceAttributes = Properties::object();
  int rateCapMaxLogs = 500;
  double rateCapWindowSeconds = 10.0;
};

}  // namespace dizizoz
