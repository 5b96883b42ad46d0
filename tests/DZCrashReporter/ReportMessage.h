#pragma once

// A report file's protobuf message as the writer packed it, for tests that check fields the decoded
// model does not carry (report_info among them).

#include <cstdint>
#include <memory>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.pb-c.h"

namespace dzcrash::test {

using ReportMessage = std::unique_ptr<Dzcrash__CrashReport, void (*)(Dzcrash__CrashReport*)>;

// The message after the 8-byte file header; null when it does not unpack.
inline ReportMessage unpack(const std::vector<uint8_t>& bytes) {
  Dzcrash__CrashReport* message =
      bytes.size() < 8 ? nullptr : dzcrash__crash_report__unpack(nullptr, bytes.size() - 8, bytes.data() + 8);
  return {message, [](Dzcrash__CrashReport* m) {
            if (m != nullptr) dzcrash__crash_report__free_unpacked(m, nullptr);
          }};
}

}  // namespace dzcrash::test
