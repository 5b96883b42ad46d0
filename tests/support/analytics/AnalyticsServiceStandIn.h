#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/http/LoopbackHttpServer.h"

#include "tests/support/deadline/StateDeadline.h"

namespace quorvelle::test {

// The requests the analytics service knows, told apart by method and path (any path prefix of the
// configured host is allowed in front).
enum class AnalyticsEndpoint {
  batch,               // POST .../batch
  snapshot,            // POST on the snapshot path (Options::snapshotPath)
  logs,                // POST .../i/v1/logs?token=...
  pushSubscription,    // POST .../api/push_subscriptions/
  pushUnsubscription,  // DELETE .../api/push_subscriptions/
  flags,               // POST .../flags?v=2
  remoteConfig,        // GET .../array/<token>/config
  unknown,
};
std::string_view toString(AnalyticsEndpoint endpoint);

// One request as the stand-in understood it.
struct AnalyticsRequest {
  AnalyticsEndpoint endpoint = AnalyticsEndpoint::unknown;
  RecordedRequest raw;  // as read off the wire, body still compressed
  std::chrono::system_clock::time_point receivedAt;
  // The host name the request was addressed to ("127.0.0.1", "localhost"), from its Host header.
  std::string hostName;
  bool gzipped = false;  // it said "Content-Encoding: gzip" and its body carried the gzip magic bytes
  std::string bodyText;  // the body after inflating
  nlohmann::json body;   // the body as JSON; null when there is none or it is not JSON
  // How the request departs from the service's wire format, one sentence each; empty when it conforms.
  std::vector<std::string> problems;
  int answeredStatus = 0;  // the status answered; 0 when the connection was dropped or left hanging

  // The events a batch or snapshot carried, in order; none for other requests.
  std::vector<nlohmann::json> events() const;
};

// Answers the stand-in gives (see ScriptedReply for delays, dropped and hanging connections).
namespace analytics_reply {
ScriptedReply status(int status, std::optional<std::string> retryAfter = std::nullopt);
ScriptedReply json(const nlohmann::json& body, int status = 200);
ScriptedReply text(std::string body, int status = 200);  // a body that need not be JSON
ScriptedReply redirect(std::string location, int status = 307);
ScriptedReply dropped();                  // the connection closes without an answer
ScriptedReply hanging();                  // no answer until the stand-in stops
ScriptedReply endless(int status = 200);  // an answer whose body never ends
}  // namespace analytics_reply

// A stand-in for the analytics service on 127.0.0.1, for tests and the dizizoz-collector tool.
//
// It inflates gzip bodies, checks every request against the service's wire format (methods, paths, query
// items, the client's headers, the keys and types of every body) and records it, with the events of
// batches and snapshots by uuid. It answers each request with the next reply scripted for its endpoint,
// else with the rehearsed failure when one is set, else with the default: 200 {"status":"Ok"} for uploads,
// the canned flags and remote configuration (both {} until set), 404 for unknown requests and 400 for a
// gzip body that does not inflate.
//
// Requests to another host name of the same server (baseURL("localhost")) arrive here too: `hostName`
// tells them apart, which is how tests see what a redirect to another host carries.
//
// Every method may be called from any thread. The observer runs on the connection's thread.
class AnalyticsServiceStandIn {
 public:
  struct Options {
    // The token every request must carry; empty accepts any non-empty token.
    std::string projectToken = "phc_stand_in";
    std::uint16_t port = 0;            // 0 picks a free port
    std::string snapshotPath = "/s/";  // where snapshots are expected (after the host's path)
  };

  // The failure every request gets unless a reply is scripted for it (the collector's switches).
  struct Rehearsal {
    std::optional<int> status;              // answer with this status (body {"detail":...} when not 2xx)
    std::optional<std::string> retryAfter;  // add this "Retry-After" value
    std::chrono::milliseconds delay{0};     // wait this long before answering
    bool drop = false;                      // close the connection without answering
  };

  // Listens at once; throws std::runtime_error when it cannot.
  AnalyticsServiceStandIn();
  explicit AnalyticsServiceStandIn(Options options);
  ~AnalyticsServiceStandIn();
  AnalyticsServiceStandIn(const AnalyticsServiceStandIn&) = delete;
  AnalyticsServiceStandIn& operator=(const AnalyticsServiceStandIn&) = delete;

  std::uint16_t port() const;
  const Options& options() const { return options_; }
  // "http://127.0.0.1:<port>".
  std::string baseURL() const;
  // The same server under another host name: "http://<hostName>:<port>".
  std::string baseURL(std::string_view hostName) const;

  // Queues a reply for the next request to `endpoint` (replies are used once each, in order).
  void script(AnalyticsEndpoint endpoint, ScriptedReply reply);
  // The body of default flags and remote-configuration answers.
  void setFlags(nlohmann::json flags);
  void setRemoteConfig(nlohmann::json config);
  void rehearse(Rehearsal rehearsal);
  // Called for every request once it is checked, recorded and its answer chosen, before it is answered.
  void setObserver(std::function<void(const AnalyticsRequest&)> observer);
  // Keeps back the answer to the next request to `endpoint` (recorded as usual when it arrives) until the
  // returned function is called, from any thread, or the stand-in stops. Call it while the stand-in lives.
  std::function<void()> holdNext(AnalyticsEndpoint endpoint);

  std::vector<AnalyticsRequest> requests() const;
  std::vector<AnalyticsRequest> requests(AnalyticsEndpoint endpoint) const;
  // The events of every batch and snapshot, in arrival order (an event sent twice is listed twice).
  std::vector<nlohmann::json> events() const;
  // The latest event received with that uuid.
  std::optional<nlohmann::json> event(std::string_view uuid) const;
  // Every problem of every request, each prefixed with the endpoint's name.
  std::vector<std::string> problems() const;

  // Each waits until the condition holds (true) or `timeout` passes (false).
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = kStateDeadline) const;
  bool waitForRequests(AnalyticsEndpoint endpoint, std::size_t count,
                       std::chrono::milliseconds timeout = kStateDeadline) const;
  bool waitForEvents(std::size_t count, std::chrono::milliseconds timeout = kStateDeadline) const;
  std::optional<nlohmann::json> waitForEvent(std::string_view uuid,
                                             std::chrono::milliseconds timeout = kStateDeadline) const;

  // Ends hanging and delayed answers, closes every connection; later requests are refused.
  void stop();

 private:
  ScriptedReply handle(const RecordedRequest& request);
  ScriptedReply replyFor(const AnalyticsRequest& request);

  Options options_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<AnalyticsEndpoint, std::deque<ScriptedReply>> scripts_;
  nlohmann::json flags_ = nlohmann::json::object();
  nlohmann::json remoteConfig_ = nlohmann::json::object();
  std::optional<Rehearsal> rehearsal_;
  std::function<void(const AnalyticsRequest&)> observer_;
  struct Hold {
    bool released = false;  // mutex_
  };
  std::map<AnalyticsEndpoint, std::deque<std::shared_ptr<Hold>>> holds_;
  bool stopping_ = false;
  std::vector<AnalyticsRequest> requests_;
  std::vector<nlohmann::json> events_;
  // Declared last: destroyed first, so no connection thread touches the members above after they go.
  std::unique_ptr<LoopbackHttpServer> server_;
};

}  // namespace quorvelle::test
