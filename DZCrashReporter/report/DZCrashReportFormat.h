#pragma once

// The crash report file: the 7 bytes "dzcrash", a version byte of 1, then one serialised
// dzcrash.CrashReport (DZCrashReport.proto) to the end of the file.

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsync.h"
#include "DZCrashReporter/core/DZCrashAsyncFile.h"
#include "DZCrashReporter/report/DZCrashReport.pb-c.h"

namespace dzcrash {

constexpr char DZCRASH_REPORT_FILE_MAGIC[] = {'d', 'z', 'c', 'r', 'a', 's', 'h'};
constexpr uint8_t DZCRASH_REPORT_FILE_VERSION = 1;
constexpr size_t DZCRASH_REPORT_FILE_HEADER_SIZE = sizeof(DZCRASH_REPORT_FILE_MAGIC) + 1;

// What this host writes into SystemInfo: the enumerations name only the systems and processors the
// format was made for, and the stored format is not extended for this one.
constexpr Dzcrash__CrashReport__SystemInfo__OperatingSystem DZCRASH_HOST_OPERATING_SYSTEM =
    DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
#if defined(__x86_64__)
constexpr Dzcrash__Architecture DZCRASH_HOST_ARCHITECTURE = DZCRASH__ARCHITECTURE__X86_64;
#else
constexpr Dzcrash__Architecture DZCRASH_HOST_ARCHITECTURE = DZCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
#endif

// Writes the 8-byte header. async-signal-safe.
bool DZcrash_report_header_write(dzcrash_async_file_t* file);

// Checks the header of a report file's bytes. DZCRASH_INVALID_DATA when the data is 8 bytes or fewer,
// the magic differs or the version is not 1; on DZCRASH_OK the message starts at `payload_offset`.
// async-signal-safe.
dzcrash_error_t DZcrash_report_header_check(const void* data, size_t length, size_t* payload_offset);

}  // namespace dzcrash
