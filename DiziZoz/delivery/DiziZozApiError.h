#pragma once

#include <string>
#include <variant>

#include "DiziZoz/core/InternalDiziZozError.h"
#include "platform/HttpClient.h"

namespace dizizoz {

// A 2xx answer whose body is not JSON; the text is the reader's.
struct JsonParseError {
  std::string description;
};

// Why a flags or remote-configuration fetch gave no object: the transfer failed (the transport's error),
// the service answered with a bad status (the client's own error), or the answer was not JSON.
using DiziZozApiError = std::variant<platform::HttpError, InternalDiziZozError, JsonParseError>;

// The error's text as the client's diagnostics print it.
std::string describe(const platform::HttpError& error);
std::string describe(const DiziZozApiError& error);

}  // namespace dizizoz
