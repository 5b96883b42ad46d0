// A stand-in for the analytics service, for people: point the analytics client (or curl) at it and watch
// what arrives. It listens on 127.0.0.1 only and prints one line per event, log record, flags or
// configuration request, plus the wire-format problems it finds.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "DiziZoz/core/DateFormats.h"
#include "tests/support/analytics/AnalyticsServiceStandIn.h"
#include "tools/StopSignals.h"

namespace {

using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::AnalyticsRequest;
using quorvelle::test::AnalyticsServiceStandIn;
using Json = nlohmann::json;

constexpr std::uint16_t kDefaultPort = 8788;

const char* kHelp =
    "usage: dizizoz-collector [--port N] [--token T] [--verbose] [--flags FILE] [--config FILE]\n"
    "                         [--status CODE] [--retry-after VALUE] [--delay MS] [--drop]\n"
    "\n"
    "Stands in for the analytics service that the program's analytics client reports to, so that what it\n"
    "sends can be watched without an account or a network. It listens on 127.0.0.1 only (port 8788 by\n"
    "default, 0 picks a free one) and prints its address on the first line. Configure the client's host as\n"
    "that address. Every request is inflated when gzip-compressed, checked against the service's wire\n"
    "format and printed:\n"
    "\n"
    "  a line per request:      <endpoint>: <summary> -> <status answered, or \"dropped\">\n"
    "  a line per event:          event <timestamp> <name> <distinct id>   (--verbose adds its properties)\n"
    "  a line per log record:     log <time> <severity> <body>\n"
    "  a line per problem found:  problem: <what departs from the wire format>\n"
    "\n"
    "  --port N            listen on this port\n"
    "  --token T           the project token requests must carry (any non-empty token when absent)\n"
    "  --verbose           print the properties of each event and the body of flags requests\n"
    "  --flags FILE        answer flags requests with this JSON file (default {})\n"
    "  --config FILE       answer remote-configuration requests with this JSON file (default\n"
    "                      {\"errorTracking\":{\"autocaptureExceptions\":true}}: crash reports are taken)\n"
    "Rehearsing failures (applied to every request):\n"
    "  --status CODE       answer with this HTTP status\n"
    "  --retry-after VALUE add a \"Retry-After\" header (seconds or an HTTP date)\n"
    "  --delay MS          wait this many milliseconds before answering\n"
    "  --drop              close each connection without answering\n"
    "\n"
    "Stop it with Ctrl+C.\n";

// What the collector answers without --config: a project that takes crash reports, as the analytics
// client's crash demo needs (with "{}" error tracking counts as switched off, and a pending report is
// deleted unsent at the next start).
Json defaultRemoteConfig() {
  return Json{{"errorTracking", {{"autocaptureExceptions", true}}}};
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Json readJsonFile(const std::string& path) {
  Json json = Json::parse(readFile(path), nullptr, false);
  if (json.is_discarded()) throw std::runtime_error(path + " is not JSON");
  return json;
}

std::string text(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// OTLP times are nanoseconds since 1970 in decimal text.
std::string timeOfNanos(const Json& nanos) {
  if (!nanos.is_string()) return text(nanos);
  const std::string& digits = nanos.get_ref<const std::string&>();
  unsigned long long value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return digits;
  return dizizoz::toISO8601String(dizizoz::Date(std::chrono::duration_cast<dizizoz::Date::duration>(
      std::chrono::nanoseconds(static_cast<std::int64_t>(value)))));
}

std::vector<Json> logRecordsOf(const Json& body) {
  std::vector<Json> records;
  if (!body.is_object() || !body.contains("resourceLogs") || !body["resourceLogs"].is_array()) return records;
  for (const auto& resource : body["resourceLogs"]) {
    if (!resource.is_object() || !resource.contains("scopeLogs") || !resource["scopeLogs"].is_array())
      continue;
    for (const auto& scope : resource["scopeLogs"]) {
      if (!scope.is_object() || !scope.contains("logRecords") || !scope["logRecords"].is_array()) continue;
      for (const auto& record : scope["logRecords"]) records.push_back(record);
    }
  }
  return records;
}

std::string counted(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string summary(const AnalyticsRequest& request) {
  const Json& body = request.body;
  const std::string encoding = request.gzipped ? ", gzip" : "";
  switch (request.endpoint) {
    case AnalyticsEndpoint::batch:
    case AnalyticsEndpoint::snapshot:
      return counted(request.events().size(), "event") + encoding;
    case AnalyticsEndpoint::logs:
      return counted(logRecordsOf(body).size(), "log record") + encoding;
    case AnalyticsEndpoint::pushSubscription:
    case AnalyticsEndpoint::pushUnsubscription:
      return "distinct id " + text(body.value("distinct_id", Json())) + ", device token " +
             text(body.value("device_token", Json())) + encoding;
    case AnalyticsEndpoint::flags:
      return "distinct id " + text(body.value("distinct_id", Json()));
    case AnalyticsEndpoint::remoteConfig:
      return request.raw.path;
    case AnalyticsEndpoint::unknown:
      return request.raw.method + " " + request.raw.target;
  }
  return {};
}

std::string describe(const AnalyticsRequest& request, bool verbose) {
  std::string out =
      std::string(quorvelle::test::toString(request.endpoint)) + ": " + summary(request) + " -> " +
      (request.answeredStatus == 0 ? std::string("dropped") : std::to_string(request.answeredStatus)) + "\n";
  for (const auto& problem : request.problems) out += "  problem: " + problem + "\n";
  for (const auto& event : request.events()) {
    out += "  event " + text(event.value("timestamp", Json())) + " " + text(event.value("event", Json())) +
           " " + text(event.value("distinct_id", Json())) + "\n";
    if (verbose) out += "    properties: " + event.value("properties", Json::object()).dump() + "\n";
  }
  if (request.endpoint == AnalyticsEndpoint::logs) {
    for (const auto& record : logRecordsOf(request.body)) {
      if (!record.is_object()) continue;
      const Json body = record.value("body", Json::object());
      out += "  log " + timeOfNanos(record.value("timeUnixNano", Json())) + " " +
             text(record.value("severityText", Json())) + " " +
             (body.is_object() ? text(body.value("stringValue", Json())) : text(body)) + "\n";
      if (verbose && record.contains("attributes"))
        out += "    attributes: " + record["attributes"].dump() + "\n";
    }
  }
  if (verbose && request.endpoint == AnalyticsEndpoint::flags) out += "  body: " + request.body.dump() + "\n";
  return out;
}

long number(const char* tool, const std::string& option, const char* value, long min, long max) {
  char* end = nullptr;
  const long parsed = std::strtol(value, &end, 10);
  if (*value == '\0' || *end != '\0' || parsed < min || parsed > max) {
    std::fprintf(stderr, "%s: bad value \"%s\" for %s\n", tool, value, option.c_str());
    std::exit(2);
  }
  return parsed;
}

}  // namespace

int main(int argc, char** argv) {
  const char* tool = "dizizoz-collector";
  AnalyticsServiceStandIn::Options options;
  options.projectToken.clear();
  options.port = kDefaultPort;
  AnalyticsServiceStandIn::Rehearsal rehearsal;
  bool rehearsing = false;
  bool verbose = false;
  std::string flagsFile;
  std::string configFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--drop") {
      rehearsal.drop = rehearsing = true;
    } else if (arg == "--port" && hasValue) {
      options.port = static_cast<std::uint16_t>(number(tool, arg, argv[++i], 0, 65535));
    } else if (arg == "--token" && hasValue) {
      options.projectToken = argv[++i];
    } else if (arg == "--flags" && hasValue) {
      flagsFile = argv[++i];
    } else if (arg == "--config" && hasValue) {
      configFile = argv[++i];
    } else if (arg == "--status" && hasValue) {
      rehearsal.status = static_cast<int>(number(tool, arg, argv[++i], 100, 599));
      rehearsing = true;
    } else if (arg == "--retry-after" && hasValue) {
      rehearsal.retryAfter = argv[++i];
      rehearsing = true;
    } else if (arg == "--delay" && hasValue) {
      rehearsal.delay = std::chrono::milliseconds(number(tool, arg, argv[++i], 0, 3'600'000));
      rehearsing = true;
    } else {
      std::fprintf(stderr, "%s: unknown argument \"%s\"\n\n%s", tool, arg.c_str(), kHelp);
      return 2;
    }
  }

  const StopSignals stopSignals;

  try {
    const Json flags = flagsFile.empty() ? Json::object() : readJsonFile(flagsFile);
    const Json config = configFile.empty() ? defaultRemoteConfig() : readJsonFile(configFile);
    AnalyticsServiceStandIn collector(options);
    collector.setFlags(flags);
    collector.setRemoteConfig(config);
    if (rehearsing) collector.rehearse(rehearsal);
    std::mutex output;
    collector.setObserver([&output, verbose](const AnalyticsRequest& request) {
      // Connections run on threads of their own: one request's lines at a time.
      const std::string lines = describe(request, verbose);
      const std::lock_guard lock(output);
      std::fputs(lines.c_str(), stdout);
      std::fflush(stdout);
    });
    std::printf("dizizoz-collector listening on %s\n", collector.baseURL().c_str());
    std::fflush(stdout);
    stopSignals.wait();
    collector.stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", tool, error.what());
    return 1;
  }
  return 0;
}
