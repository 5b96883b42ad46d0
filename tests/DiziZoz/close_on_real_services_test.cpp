// close() on a client of the real delivery services, against the analytics service stand-in.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "tests/support/Eventually.h"
#include "tests/support/dizizoz/RealServices.h"

namespace {

using quorvelle::test::AnalyticsEndpoint;
using quorvelle::test::waitUntil;

// A flags answer that arrives after close() sends the request parked behind it no more: the embedder may
// take its transport down once close() has returned and the client's threads have ended, and a request
// sent then reached a destroyed transport ("pure virtual method called" at quit).
TEST(CloseOnRealServices, AFlagsAnswerArrivingAfterCloseSendsNoParkedRequest) {
  dizizoz::test::RealServices real;
  auto options = real.config();
  options->disableRemoteConfigForTesting = true;  // only the two requests of the test
  const auto release = real.service.holdNext(AnalyticsEndpoint::flags);
  auto client = real.client(options);
  client->setup(options);

  std::atomic<int> ended{0};
  client->reloadFeatureFlags([&] { ++ended; });
  ASSERT_TRUE(waitUntil([&] { return real.service.requests(AnalyticsEndpoint::flags).size() == 1; },
                        "the first flags request at the service"));
  // One request at a time: this one waits for the first to be answered.
  client->reloadFeatureFlags([&] { ++ended; });
  client->close();
  release();

  ASSERT_TRUE(waitUntil([&] { return ended == 2; }, "both reloads ended"));
  EXPECT_EQ(real.service.requests(AnalyticsEndpoint::flags).size(), 1u);
  client.reset();
}

}  // namespace
