#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "DiziZoz/core/HedgeLog.h"

namespace dizizoz::test {

// Turns debug logging on and records the client's diagnostic lines for the life of the object.
class CapturedLog {
 public:
  CapturedLog() {
    wasEnabled_ = hedgeLogEnabled();
    setHedgeLogEnabled(true);
    previous_ = setHedgeLogSink([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~CapturedLog() {
    setHedgeLogSink(previous_);
    setHedgeLogEnabled(wasEnabled_);
  }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  std::vector<std::string> lines;

  // Whether exactly `line` was logged.
  bool has(std::string_view line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
  // Whether some logged line contains `text`.
  bool mentions(std::string_view text) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

 private:
  bool wasEnabled_;
  HedgeLogSink previous_;
};

}  // namespace dizizoz::test
