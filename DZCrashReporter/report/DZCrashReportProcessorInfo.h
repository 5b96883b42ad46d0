#pragma once

// A processor as a crash report names it: a type encoding and the type and subtype in that encoding.
// Immutable value; any thread.

#include <cstdint>

namespace dzcrash {

// Type encodings of a report's processors.
inline constexpr int DZCrashReportProcessorTypeEncodingUnknown = 0;
// Type and subtype are Mach-O cpu_type_t / cpu_subtype_t values.
inline constexpr int DZCrashReportProcessorTypeEncodingMach = 1;

class DZCrashReportProcessorInfo {
 public:
  DZCrashReportProcessorInfo(int typeEncoding, uint64_t type, uint64_t subtype)
      : typeEncoding_(typeEncoding), type_(type), subtype_(subtype) {}

  int typeEncoding() const { return typeEncoding_; }
  uint64_t type() const { return type_; }
  uint64_t subtype() const { return subtype_; }

  friend bool operator==(const DZCrashReportProcessorInfo&, const DZCrashReportProcessorInfo&) = default;

 private:
  int typeEncoding_;
  uint64_t type_;
  uint64_t subtype_;
};

}  // namespace dzcrash
