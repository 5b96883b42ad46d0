#pragma once

// Reads of the kernel's tunable values (the /proc/sys tree, named with dots: "kernel.osrelease"), and
// the UTF-8 rule the reporter applies to names the kernel hands over as raw bytes. Used when the
// reporter is enabled; none of it runs on the crash path.

#include <cstddef>
#include <cstdint>

namespace dzcrash {

// The value of `name` without its trailing line feed, as a malloc'ed C string the caller frees; NULL
// with errno kept when it cannot be read. Not async-signal-safe.
char* DZcrash_sysctl_string(const char* name);

// The value of `name` as a 32-bit integer. False when it cannot be read or is not one number.
// Not async-signal-safe.
bool DZcrash_sysctl_int(const char* name, int32_t* result);

// How many bytes from the start of `string` are valid UTF-8, stopping at the first NUL, at `limit`
// bytes, or before the first sequence that is not valid: a lead byte 0xC0-0xDF takes one continuation
// byte (0x80-0xBF), 0xE0-0xEF two, 0xF0-0xF7 three; any other non-ASCII lead byte, or a sequence that
// would pass the limit, ends the count. A leading byte-order mark counts as valid when the limit
// exceeds 2. async-signal-safe.
size_t DZcrash_sysctl_valid_utf8_bytes_max(const uint8_t* string, size_t limit);

// The same without a limit. async-signal-safe.
size_t DZcrash_sysctl_valid_utf8_bytes(const uint8_t* string);

}  // namespace dzcrash
