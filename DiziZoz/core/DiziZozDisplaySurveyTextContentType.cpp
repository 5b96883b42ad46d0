#include "DiziZoz/core/DiziZozDisplaySurveyTextContentType.h"

namespace dizizoz {

std::optional<DiziZozDisplaySurveyTextContentType> displaySurveyTextContentTypeFromRawValue(
    std::int64_t rawValue) {
  if (rawValue != 0 && rawValue != 1) return std::nullopt;
  return static_cast<DiziZozDisplaySurveyTextContentType>(rawValue);
}

}  // namespace dizizoz
