#include "DiziZoz/core/DiziZozDisplaySurveyQuestion.h"

namespace dizizoz {

std::optional<DiziZozDisplaySurveyRatingType> displaySurveyRatingTypeFromRawValue(std::int64_t rawValue) {
  if (rawValue != 0 && rawValue != 1) return std::nullopt;
  return static_cast<DiziZozDisplaySurveyRatingType>(rawValue);
}

}  // namespace dizizoz
