#include "DiziZoz/core/DiziZozSurveyResponse.h"

#include <utility>

namespace dizizoz {

std::optional<DiziZozSurveyResponseType> surveyResponseTypeFromRawValue(std::int64_t rawValue) {
  if (rawValue < 0 || rawValue > 4) return std::nullopt;
  return static_cast<DiziZozSurveyResponseType>(rawValue);
}

std::shared_ptr<const DiziZozSurveyResponse> DiziZozSurveyResponse::link(bool linkClicked) {
  std::shared_ptr<DiziZozSurveyResponse> response(new DiziZozSurveyResponse(DiziZozSurveyResponseType::link));
  response->linkClicked_ = linkClicked;
  return response;
}

std::shared_ptr<const DiziZozSurveyResponse> DiziZozSurveyResponse::rating(
    std::optional<std::int64_t> ratingValue) {
  std::shared_ptr<DiziZozSurveyResponse> response(
      new DiziZozSurveyResponse(DiziZozSurveyResponseType::rating));
  response->ratingValue_ = ratingValue;
  return response;
}

std::shared_ptr<const DiziZozSurveyResponse> DiziZozSurveyResponse::openEnded(
    std::optional<std::string> textValue) {
  std::shared_ptr<DiziZozSurveyResponse> response(
      new DiziZozSurveyResponse(DiziZozSurveyResponseType::openEnded));
  response->textValue_ = std::move(textValue);
  return response;
}

std::shared_ptr<const DiziZozSurveyResponse> DiziZozSurveyResponse::singleChoice(
    std::optional<std::string> selectedOption) {
  std::shared_ptr<DiziZozSurveyResponse> response(
      new DiziZozSurveyResponse(DiziZozSurveyResponseType::singleChoice));
  if (selectedOption) response->selectedOptions_ = std::vector<std::string>{std::move(*selectedOption)};
  return response;
}

std::shared_ptr<const DiziZozSurveyResponse> DiziZozSurveyResponse::multipleChoice(
    std::optional<std::vector<std::string>> selectedOptions) {
  std::shared_ptr<DiziZozSurveyResponse> response(
      new DiziZozSurveyResponse(DiziZozSurveyResponseType::multipleChoice));
  response->selectedOptions_ = std::move(selectedOptions);
  return response;
}

}  // namespace dizizoz
