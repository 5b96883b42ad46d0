#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/HttpClient.h"

namespace platform {

// True when a redirect from `from` to `to` reaches another host or changes the scheme (ports aside): the
// request's `stripOnCrossHostRedirect` headers are then removed, so that they never go to another party
// nor travel on over plain HTTP after an HTTPS hop. Unparseable addresses count as another host.
bool redirectLeavesHost(const std::string& from, const std::string& to);

// HttpClient over libcurl's multi interface, driven by one worker thread that this object owns. All
// transfers share the worker's connection cache, so repeated requests to one host reuse connections.
// The first send() starts the worker, which opens libcurl (Libcurl.h): a client that sends nothing costs
// neither, and the first caller does not wait for the library. When libcurl cannot be opened, every
// request completes with an `other` error that says why.
// Redirects are followed here rather than by libcurl so that headers can be stripped when the host changes.
// send() may be called from any thread; destruction joins the worker (call it from a thread that is not
// one of the completion executors' workers, or make sure those executors do not block on it).
//
// A request other than GET or HEAD is never sent twice: libcurl would send it again by itself when a
// pooled connection closes before any reply, though the server may have acted on it (a POST may be a
// billed call); such a transfer fails with `connectionLost` instead. So that a server's closing of idle
// connections (often after 5 s) does not meet such a request half-way, those requests reuse only
// connections idle for less than `unrepeatableReuseMaxIdle`; GETs and HEADs reuse any.
class CurlHttpClient final : public HttpClient {
 public:
  struct Options {
    std::chrono::seconds unrepeatableReuseMaxIdle{4};
  };

  CurlHttpClient() : CurlHttpClient(Options{}) {}
  explicit CurlHttpClient(Options options);
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  void send(HttpRequest request, Executor& executor, HttpCompletion completion) override;

 private:
  struct Impl;
  // The worker, started by the first call.
  Impl* started();

  const Options options_;
  std::once_flag start_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
