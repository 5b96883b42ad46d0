#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozDisplaySurveyTextContentType.h"

namespace dizizoz {

// The scale a rating question shows. Carried for host applications; nothing in the client reads it.
enum class DiziZozDisplaySurveyRatingType : std::int64_t { number = 0, emoji = 1 };

// Nothing for a raw value other than 0 or 1.
std::optional<DiziZozDisplaySurveyRatingType> displaySurveyRatingTypeFromRawValue(std::int64_t rawValue);

// One question of a survey as a host application would show it; the kinds below add what they need.
// Immutable once made; nothing in the client creates or reads one.
class DiziZozDisplaySurveyQuestion {
 public:
  // A question whose description has no stated content type is taken as plain text, the reading that
  // never interprets markup.
  DiziZozDisplaySurveyQuestion(
      std::string id, std::string question, std::optional<std::string> questionDescription,
      std::optional<DiziZozDisplaySurveyTextContentType> questionDescriptionContentType, bool isOptional,
      std::optional<std::string> buttonText)
      : id_(std::move(id)),
        question_(std::move(question)),
        questionDescription_(std::move(questionDescription)),
        questionDescriptionContentType_(
            questionDescriptionContentType.value_or(DiziZozDisplaySurveyTextContentType::text)),
        isOptional_(isOptional),
        buttonText_(std::move(buttonText)) {}
  virtual ~DiziZozDisplaySurveyQuestion() = default;

  const std::string& id() const { return id_; }
  const std::string& question() const { return question_; }
  const std::optional<std::string>& questionDescription() const { return questionDescription_; }
  DiziZozDisplaySurveyTextContentType questionDescriptionContentType() const {
    return questionDescriptionContentType_;
  }
  bool isOptional() const { return isOptional_; }
  const std::optional<std::string>& buttonText() const { return buttonText_; }

 private:
  std::string id_;
  std::string question_;
  std::optional<std::string> questionDescription_;
  DiziZozDisplaySurveyTextContentType questionDescriptionContentType_;
  bool isOptional_;
  std::optional<std::string> buttonText_;
};

// A question answered with free text.
class DiziZozDisplayOpenQuestion final : public DiziZozDisplaySurveyQuestion {
 public:
  using DiziZozDisplaySurveyQuestion::DiziZozDisplaySurveyQuestion;
};

// A question that offers a link.
class DiziZozDisplayLinkQuestion final : public DiziZozDisplaySurveyQuestion {
 public:
  DiziZozDisplayLinkQuestion(
      std::string id, std::string question, std::optional<std::string> questionDescription,
      std::optional<DiziZozDisplaySurveyTextContentType> questionDescriptionContentType, bool isOptional,
      std::optional<std::string> buttonText, std::optional<std::string> link)
      : DiziZozDisplaySurveyQuestion(std::move(id), std::move(question), std::move(questionDescription),
                                     questionDescriptionContentType, isOptional, std::move(buttonText)),
        link_(std::move(link)) {}

  const std::optional<std::string>& link() const { return link_; }

 private:
  std::optional<std::string> link_;
};

// A question answered with a value on a scale.
class DiziZozDisplayRatingQuestion final : public DiziZozDisplaySurveyQuestion {
 public:
  DiziZozDisplayRatingQuestion(
      std::string id, std::string question, std::optional<std::string> questionDescription,
      std::optional<DiziZozDisplaySurveyTextContentType> questionDescriptionContentType, bool isOptional,
      std::optional<std::string> buttonText, DiziZozDisplaySurveyRatingType ratingType,
      std::int64_t scaleLowerBound, std::int64_t scaleUpperBound, std::string lowerBoundLabel,
      std::string upperBoundLabel)
      : DiziZozDisplaySurveyQuestion(std::move(id), std::move(question), std::move(questionDescription),
                                     questionDescriptionContentType, isOptional, std::move(buttonText)),
        ratingType_(ratingType),
        scaleLowerBound_(scaleLowerBound),
        scaleUpperBound_(scaleUpperBound),
        lowerBoundLabel_(std::move(lowerBoundLabel)),
        upperBoundLabel_(std::move(upperBoundLabel)) {}

  DiziZozDisplaySurveyRatingType ratingType() const { return ratingType_; }
  std::int64_t scaleLowerBound() const { return scaleLowerBound_; }
  std::int64_t scaleUpperBound() const { return scaleUpperBound_; }
  const std::string& lowerBoundLabel() const { return lowerBoundLabel_; }
  const std::string& upperBoundLabel() const { return upperBoundLabel_; }

 private:
  DiziZozDisplaySurveyRatingType ratingType_;
  std::int64_t scaleLowerBound_;
  std::int64_t scaleUpperBound_;
  std::string lowerBoundLabel_;
  std::string upperBoundLabel_;
};

// A question answered by picking one or several of its choices.
class DiziZozDisplayChoiceQuestion final : public DiziZozDisplaySurveyQuestion {
 public:
  DiziZozDisplayChoiceQuestion(
      std::string id, std::string question, std::optional<std::string> questionDescription,
      std::optional<DiziZozDisplaySurveyTextContentType> questionDescriptionContentType, bool isOptional,
      std::optional<std::string> buttonText, std::vector<std::string> choices, bool hasOpenChoice,
      bool shuffleOptions, bool isMultipleChoice)
      : DiziZozDisplaySurveyQuestion(std::move(id), std::move(question), std::move(questionDescription),
                                     questionDescriptionContentType, isOptional, std::move(buttonText)),
        choices_(std::move(choices)),
        hasOpenChoice_(hasOpenChoice),
        shuffleOptions_(shuffleOptions),
        isMultipleChoice_(isMultipleChoice) {}

  const std::vector<std::string>& choices() const { return choices_; }
  bool hasOpenChoice() const { return hasOpenChoice_; }
  bool shuffleOptions() const { return shuffleOptions_; }
  bool isMultipleChoice() const { return isMultipleChoice_; }

 private:
  std::vector<std::string> choices_;
  bool hasOpenChoice_;
  bool shuffleOptions_;
  bool isMultipleChoice_;
};

}  // namespace dizizoz
