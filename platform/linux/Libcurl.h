#pragma once

#include <string>

namespace platform::libcurl {

// The program does not link libcurl: LazyLibcurl.cpp defines the libcurl functions that this tree calls
// and forwards each to the library, which is opened (with the thirty-odd libraries it needs) by the
// first call of any of them. The program thus starts without them and loads them with its first request.
//
// Opens libcurl if that has not happened yet; false, with `error` saying why, when it cannot be opened
// or lacks a function. While it is unavailable the forwarding functions fail as libcurl does when out
// of memory (null handles, CURLE_FAILED_INIT, CURLM_INTERNAL_ERROR), so callers check this first.
// Thread-safe.
bool open(std::string& error);

}  // namespace platform::libcurl
