#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/deadline/StateDeadline.h"

namespace quorvelle::test {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// One request as the server read it off the wire. `path` and `query` are raw (still percent-encoded).
struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string path;
  std::string query;  // without the "?"; empty when there is none
  HeaderFields headers;
  std::string body;  // raw bytes, exactly as received
  // The connection it came on: 1 for the first the server accepted, 2 for the next, and so on.
  std::size_t connection = 0;

  // The first header of that name (any case).
  std::optional<std::string> header(std::string_view name) const;
  // The value of the first query item of that name, percent-decoded ("+" stays "+").
  std::optional<std::string> queryValue(std::string_view name) const;
};

// How the server answers one request.
struct ScriptedReply {
  enum class Action {
    respond,   // status line, headers, Content-Length and body
    drop,      // close the connection without answering
    hang,      // never answer; the connection stays open until the server stops
    truncate,  // announce the full Content-Length, send half the body, then close
    raw,       // send `body` as the whole answer, status line and headers included, then close
    endless,   // status line and headers without a length, then `body` (64 KiB of blanks when empty) over
               // and over until the client hangs up or the server stops
  };
  int status = 200;
  HeaderFields headers;
  std::string body;
  std::chrono::milliseconds delay{0};  // wait this long before answering (cut short when the server stops)
  Action action = Action::respond;

  static ScriptedReply json(std::string body, int status = 200);
};

std::string percentDecode(std::string_view text);

// A port on 127.0.0.1 where every connection is refused: bound for as long as this lives and never listened
// on, so that no other socket, of this process or of a test running beside it, is given the port meanwhile
// (a stopped server's port may go to the next server anyone starts). release() frees it for a server that
// is to listen there next. Throws std::runtime_error when no port can be bound.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>", no trailing slash.
  std::string baseURL() const;
  void release();

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A small real HTTP/1.1 server on 127.0.0.1 (keep-alive, Content-Length bodies) for tests and the
// development backend. Each connection runs on its own thread. Replies come from the queue of enqueued
// replies first, then from the handler; with neither the answer is 404. Every request is recorded.
// All methods may be called from any thread.
class LoopbackHttpServer {
 public:
  using Handler = std::function<ScriptedReply(const RecordedRequest&)>;

  // Listens at once on 127.0.0.1:`port` (0 picks a free port). Throws std::runtime_error when it cannot.
  explicit LoopbackHttpServer(Handler handler = {}, std::uint16_t port = 0);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>", no trailing slash.
  std::string baseURL() const;
  // The base address of a port that refuses every connection for as long as this process runs (a
  // RefusingPort's).
  static std::string closedBaseURL();

  void enqueue(ScriptedReply reply);
  void setHandler(Handler handler);
  std::vector<RecordedRequest> requests() const;
  // Waits until `count` requests have arrived (true) or `timeout` passed (false).
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = kStateDeadline) const;
  // Stops accepting, ends hanging and delayed replies, closes every connection and joins the threads.
  void stop();

 private:
  struct Connection;
  void acceptLoop();
  void serve(int fd, std::size_t connection);
  void sendEndlessly(int fd, const ScriptedReply& reply);
  ScriptedReply replyFor(const RecordedRequest& request);
  // Waits up to `delay`, or forever when it is nullopt; false when the server is stopping.
  bool waitUnlessStopping(std::optional<std::chrono::milliseconds> delay);

  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::thread acceptor_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  Handler handler_;
  std::deque<ScriptedReply> script_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::size_t accepted_ = 0;
};

}  // namespace quorvelle::test
