#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "DiziZoz/delivery/DiziZozApi.h"
#include "platform/Clock.h"
#include "platform/Executor.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

namespace dizizoz::test {

// The environment of an API client that talks to a stand-in service on 127.0.0.1: the test's HTTP client,
// completion queue, retry queue and clock, the time zone the flags requests report, a 5 s timeout, and the
// default addresses and compression. The caller keeps every part alive for as long as the client runs.
inline DiziZozApiEnvironment loopbackApiEnvironment(platform::HttpClient& http,
                                                    std::shared_ptr<platform::Executor> completions,
                                                    std::shared_ptr<platform::SerialQueue> retries,
                                                    const platform::Clock& clock,
                                                    std::string timeZone = "UTC") {
  return DiziZozApiEnvironment{
      .http = http,
      .completionQueue = std::move(completions),
      .retryQueue = std::move(retries),
      .clock = clock,
      .timeZone = [timeZone = std::move(timeZone)] { return timeZone; },
      .timeout = std::chrono::seconds(5),
      .addresses = {},
      .compress = {},
  };
}

}  // namespace dizizoz::test
