#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozLogRecord.h"
#include "DiziZoz/core/DiziZozLogSeverity.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

class DiziZozLogsConfig;

// The body of a logs upload in the OTLP/JSON encoding of the OpenTelemetry logs data model:
//
//   {"resourceLogs": [{"resource": {"attributes": <key-value list>},
//                      "scopeLogs": [{"scope": {"name": "dizizoz-ios", "version": <scope version>},
//                                     "logRecords": [<log record>, ...]}]}]}
//
// Stateless; every function may run on any thread. The result always holds only what JSON can carry:
// text that is not UTF-8 is sent with U+FFFD in place of the broken bytes, so one record never keeps a
// batch from being written.
class DiziZozLogsOTLP {
 public:
  DiziZozLogsOTLP() = delete;

  // The whole request body: one resource, one scope, one log record per record in the given order.
  static Properties buildPayload(const std::vector<DiziZozLogRecord>& records,
                                 const Properties& resourceAttributes, const std::string& scopeVersion);

  // "timeUnixNano", "observedTimeUnixNano" (texts), "severityNumber", "severityText", "body"
  // {"stringValue"}; "attributes" when the merged map is not empty (the record's distinct id, session,
  // screen, state and flag keys under "dizizozDistinctId", "sessionId", "screen.name", "app.state",
  // "feature_flags", then the caller's attributes, which win on equal keys); "traceId" and "spanId" as
  // given and "flags" (the trace flags as an unsigned 32-bit number) when set.
  static Properties buildLogRecord(const DiziZozLogRecord& record);

  // The service's resource attributes, built once at set-up: a copy of `resourceAttributes`, then
  // "service.name", "service.version" (when not empty), "deployment.environment" (when set),
  // "telemetry.sdk.name", "telemetry.sdk.version", "os.name" ("Linux") and "os.version"
  // (major.minor.patch), each replacing an entry of the same key.
  static Properties buildResourceAttributes(const DiziZozLogsConfig& config);

  // [{"key", "value": AnyValue}, ...] in ascending key order (code points), leaving out null values and
  // values without an AnyValue. Nothing but an object gives an empty list.
  static Value toKeyValueList(const Properties& dictionary);

  // The AnyValue of one value: {"stringValue"}, {"boolValue"}, {"intValue": decimal text},
  // {"doubleValue"} (NaN and the infinities as the texts "NaN", "Infinity", "-Infinity"),
  // {"arrayValue": {"values"}}, {"kvlistValue": {"values"}}; an address as its text, a date in the
  // wire form ("2024-01-02T03:04:05.678Z"), any other value as its description. Nothing for null, and
  // for arrays and objects nested deeper than platform::maxJsonDepth.
  static std::optional<Value> toAnyValue(const Value& value);

  // The OpenTelemetry severity number of the first level of each range: trace 1, debug 5, info 9,
  // warn 13, error 17, fatal 21.
  static int severityNumber(DiziZozLogSeverity severity);
};

}  // namespace dizizoz
