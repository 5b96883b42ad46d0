#pragma once

#include <optional>
#include <string>

#include "DiziZoz/core/DiziZozDisplaySurveyTextContentType.h"

namespace dizizoz {

// How a host application should style a survey: colours, texts and timing as the survey's author set
// them. Immutable once made; nothing in the client creates or reads one.
class DiziZozDisplaySurveyAppearance {
 public:
  using Text = std::optional<std::string>;

  DiziZozDisplaySurveyAppearance(
      Text fontFamily, Text backgroundColor, Text borderColor, Text submitButtonColor, Text submitButtonText,
      Text submitButtonTextColor, Text textColor, Text descriptionTextColor, Text ratingButtonColor,
      Text ratingButtonActiveColor, Text inputBackground, Text inputTextColor, Text placeholder,
      std::optional<double> surveyPopupDelaySeconds, bool displayThankYouMessage, Text thankYouMessageHeader,
      Text thankYouMessageDescription,
      std::optional<DiziZozDisplaySurveyTextContentType> thankYouMessageDescriptionContentType,
      Text thankYouMessageCloseButtonText)
      : fontFamily_(std::move(fontFamily)),
        backgroundColor_(std::move(backgroundColor)),
        borderColor_(std::move(borderColor)),
        submitButtonColor_(std::move(submitButtonColor)),
        submitButtonText_(std::move(submitButtonText)),
        submitButtonTextColor_(std::move(submitButtonTextColor)),
        textColor_(std::move(textColor)),
        descriptionTextColor_(std::move(descriptionTextColor)),
        ratingButtonColor_(std::move(ratingButtonColor)),
        ratingButtonActiveColor_(std::move(ratingButtonActiveColor)),
        inputBackground_(std::move(inputBackground)),
        inputTextColor_(std::move(inputTextColor)),
        placeholder_(std::move(placeholder)),
        surveyPopupDelaySeconds_(surveyPopupDelaySeconds),
        displayThankYouMessage_(displayThankYouMessage),
        thankYouMessageHeader_(std::move(thankYouMessageHeader)),
        thankYouMessageDescription_(std::move(thankYouMessageDescription)),
        thankYouMessageDescriptionContentType_(thankYouMessageDescriptionContentType),
        thankYouMessageCloseButtonText_(std::move(thankYouMessageCloseButtonText)) {}

  const Text& fontFamily() const { return fontFamily_; }
  const Text& backgroundColor() const { return backgroundColor_; }
  const Text& borderColor() const { return borderColor_; }
  const Text& submitButtonColor() const { return submitButtonColor_; }
  const Text& submitButtonText() const { return submitButtonText_; }
  const Text& submitButtonTextColor() const { return submitButtonTextColor_; }
  const Text& textColor() const { return textColor_; }
  const Text& descriptionTextColor() const { return descriptionTextColor_; }
  const Text& ratingButtonColor() const { return ratingButtonColor_; }
  const Text& ratingButtonActiveColor() const { return ratingButtonActiveColor_; }
  const Text& inputBackground() const { return inputBackground_; }
  const Text& inputTextColor() const { return inputTextColor_; }
  const Text& placeholder() const { return placeholder_; }
  std::optional<double> surveyPopupDelaySeconds() const { return surveyPopupDelaySeconds_; }
  bool displayThankYouMessage() const { return displayThankYouMessage_; }
  const Text& thankYouMessageHeader() const { return thankYouMessageHeader_; }
  const Text& thankYouMessageDescription() const { return thankYouMessageDescription_; }
  std::optional<DiziZozDisplaySurveyTextContentType> thankYouMessageDescriptionContentType() const {
    return thankYouMessageDescriptionContentType_;
  }
  const Text& thankYouMessageCloseButtonText() const { return thankYouMessageCloseButtonText_; }

 private:
  Text fontFamily_;
  Text backgroundColor_;
  Text borderColor_;
  Text submitButtonColor_;
  Text submitButtonText_;
  Text submitButtonTextColor_;
  Text textColor_;
  Text descriptionTextColor_;
  Text ratingButtonColor_;
  Text ratingButtonActiveColor_;
  Text inputBackground_;
  Text inputTextColor_;
  Text placeholder_;
  std::optional<double> surveyPopupDelaySeconds_;
  bool displayThankYouMessage_;
  Text thankYouMessageHeader_;
  Text thankYouMessageDescription_;
  std::optional<DiziZozDisplaySurveyTextContentType> thankYouMessageDescriptionContentType_;
  Text thankYouMessageCloseButtonText_;
};

}  // namespace dizizoz
