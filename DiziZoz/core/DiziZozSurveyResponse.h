#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dizizoz {

// The kind of answer a DiziZozSurveyResponse holds.
enum class DiziZozSurveyResponseType : std::int64_t {
  link = 0,
  rating = 1,
  openEnded = 2,
  singleChoice = 3,
  multipleChoice = 4
};

// Nothing for a raw value outside 0...4.
std::optional<DiziZozSurveyResponseType> surveyResponseTypeFromRawValue(std::int64_t rawValue);

// One answer a host application reports for a survey question. Made only by the factories, each of
// which sets the type and its one value field and leaves the others empty. Immutable.
class DiziZozSurveyResponse {
 public:
  static std::shared_ptr<const DiziZozSurveyResponse> link(bool linkClicked);
  static std::shared_ptr<const DiziZozSurveyResponse> rating(std::optional<std::int64_t> ratingValue);
  static std::shared_ptr<const DiziZozSurveyResponse> openEnded(std::optional<std::string> textValue);
  // A one-choice list; no choice leaves the selection empty rather than a list holding an empty text.
  static std::shared_ptr<const DiziZozSurveyResponse> singleChoice(std::optional<std::string> selectedOption);
  static std::shared_ptr<const DiziZozSurveyResponse> multipleChoice(
      std::optional<std::vector<std::string>> selectedOptions);

  DiziZozSurveyResponseType type() const { return type_; }
  std::optional<bool> linkClicked() const { return linkClicked_; }
  std::optional<std::int64_t> ratingValue() const { return ratingValue_; }
  const std::optional<std::string>& textValue() const { return textValue_; }
  const std::optional<std::vector<std::string>>& selectedOptions() const { return selectedOptions_; }

 private:
  explicit DiziZozSurveyResponse(DiziZozSurveyResponseType type) : type_(type) {}

  DiziZozSurveyResponseType type_;
  std::optional<bool> linkClicked_;
  std::optional<std::int64_t> ratingValue_;
  std::optional<std::string> textValue_;
  std::optional<std::vector<std::string>> selectedOptions_;
};

}  // namespace dizizoz
