#include "DZCrashReporter/report/DZCrashReportFormat.h"

namespace dzcrash {

// async-signal-safe.
bool DZcrash_report_header_write(dzcrash_async_file_t* file) {
  uint8_t header[DZCRASH_REPORT_FILE_HEADER_SIZE];
  DZcrash_async_memcpy(header, DZCRASH_REPORT_FILE_MAGIC, sizeof(DZCRASH_REPORT_FILE_MAGIC));
  header[sizeof(DZCRASH_REPORT_FILE_MAGIC)] = DZCRASH_REPORT_FILE_VERSION;
  return DZcrash_async_file_write(file, header, sizeof(header));
}

// async-signal-safe.
dzcrash_error_t DZcrash_report_header_check(const void* data, size_t length, size_t* payload_offset) {
  if (data == nullptr || length <= DZCRASH_REPORT_FILE_HEADER_SIZE) return DZCRASH_INVALID_DATA;
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < sizeof(DZCRASH_REPORT_FILE_MAGIC); ++i) {
    if (bytes[i] != static_cast<uint8_t>(DZCRASH_REPORT_FILE_MAGIC[i])) return DZCRASH_INVALID_DATA;
  }
  if (bytes[sizeof(DZCRASH_REPORT_FILE_MAGIC)] != DZCRASH_REPORT_FILE_VERSION) return DZCRASH_INVALID_DATA;
  if (payload_offset != nullptr) *payload_offset = DZCRASH_REPORT_FILE_HEADER_SIZE;
  return DZCRASH_OK;
}

}  // namespace dzcrash
