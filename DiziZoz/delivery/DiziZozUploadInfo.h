#pragma once

#include <cstdint>
#include <optional>

#include "platform/HttpClient.h"

namespace dizizoz {

// The outcome of one upload, handed by the service client to the upload queues and the push handler.
// Three shapes only: all empty (the request could not be built, or the answer was not HTTP); `error` alone
// (the transfer failed before an answer); `statusCode`, with `retryAfter` when the answer carried a
// readable "Retry-After" (an answer of any status). The client draws no conclusion from the status.
struct DiziZozUploadInfo {
  std::optional<std::int64_t> statusCode;
  std::optional<platform::HttpError> error;
  std::optional<double> retryAfter;  // seconds
};

}  // namespace dizizoz
