// Round trips per second of the HTTP transport against a server on 127.0.0.1, one request at a time and
// with several in flight. Connections are reused, so this measures the transport, not TCP set-up.
// postAfterIdle measures what a POST pays when its pooled connection has idled past the transport's
// reuse limit for requests that must not be sent twice (a new connection) against one that reuses it.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/linux/CurlHttpClient.h"
#include "tests/support/http/LoopbackHttpServer.h"

namespace {

// Runs completions on the transport's own thread and lets the benchmark wait for a count of them.
class CountingExecutor final : public platform::Executor {
 public:
  void post(platform::Job job) override {
    job();
    std::lock_guard lock(mutex_);
    ++done_;
    changed_.notify_all();
  }
  void waitFor(long count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  long done_ = 0;
};

void roundTrips(benchmark::State& state) {
  quorvelle::test::LoopbackHttpServer server([](const quorvelle::test::RecordedRequest&) {
    return quorvelle::test::ScriptedReply::json(R"({"success":true,"data":{"translated":"Hallo"}})");
  });
  CountingExecutor executor;  // outlives the client, which may still post to it while shutting down
  platform::CurlHttpClient client;
  const long inFlight = state.range(0);
  long sent = 0;
  long failed = 0;
  for (auto _ : state) {
    for (long i = 0; i < inFlight; ++i) {
      platform::HttpRequest request;
      request.method = "POST";
      request.url = server.baseURL() + "/translate";
      request.headers.set("Content-Type", "application/json");
      request.body = R"({"text":"Hello","target":"de"})";
      client.send(std::move(request), executor, [&failed](platform::HttpResult result) {
        if (!result.ok() || result.status != 200) ++failed;  // completions run one at a time on one thread
      });
    }
    sent += inFlight;
    executor.waitFor(sent);
  }
  state.SetItemsProcessed(sent);
  state.counters["failed"] = static_cast<double>(failed);
}

BENCHMARK(roundTrips)->Arg(1)->Arg(8)->UseRealTime();

// Arg 1: the pooled connection is past the limit (a new one is made); 0: it is reused.
void postAfterIdle(benchmark::State& state) {
  quorvelle::test::LoopbackHttpServer server([](const quorvelle::test::RecordedRequest&) {
    return quorvelle::test::ScriptedReply::json(R"({"success":true,"data":{"translated":"Hallo"}})");
  });
  CountingExecutor executor;
  const bool pastLimit = state.range(0) == 1;
  platform::CurlHttpClient client(
      {.unrepeatableReuseMaxIdle = pastLimit ? std::chrono::seconds(0) : std::chrono::seconds(3600)});
  long sent = 0;
  const auto post = [&] {
    platform::HttpRequest request;
    request.method = "POST";
    request.url = server.baseURL() + "/translate";
    request.body = R"({"text":"Hello","target":"de"})";
    client.send(std::move(request), executor, [](platform::HttpResult) {});
    executor.waitFor(++sent);
  };
  post();  // a connection in the pool
  for (auto _ : state) {
    state.PauseTiming();
    // libcurl counts a connection's idle time in whole seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    state.ResumeTiming();
    post();
  }
  state.counters["connections"] = static_cast<double>(server.requests().back().connection);
}

BENCHMARK(postAfterIdle)->Arg(0)->Arg(1)->Iterations(5)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
