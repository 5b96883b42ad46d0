#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozDisplaySurvey.h"
#include "DiziZoz/core/DiziZozNextSurveyQuestion.h"
#include "DiziZoz/core/DiziZozSurveyResponse.h"
#include "DiziZoz/core/DiziZozSurveysConfig.h"

namespace {

using dizizoz::DiziZozDisplaySurveyRatingType;
using dizizoz::DiziZozDisplaySurveyTextContentType;
using dizizoz::DiziZozSurveyResponse;
using dizizoz::DiziZozSurveyResponseType;

// Which of the response's value fields are set, as a compact text ("link", "rating", ...).
std::vector<std::string> setFields(const DiziZozSurveyResponse& response) {
  std::vector<std::string> fields;
  if (response.linkClicked()) fields.push_back("linkClicked");
  if (response.ratingValue()) fields.push_back("ratingValue");
  if (response.textValue()) fields.push_back("textValue");
  if (response.selectedOptions()) fields.push_back("selectedOptions");
  return fields;
}

TEST(SurveyResponseTest, EachFactorySetsItsTypeAndOnlyItsOwnField) {
  struct Case {
    const char* name;
    std::shared_ptr<const DiziZozSurveyResponse> response;
    DiziZozSurveyResponseType type;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"link clicked", DiziZozSurveyResponse::link(true), DiziZozSurveyResponseType::link, {"linkClicked"}},
      {"link not clicked",
       DiziZozSurveyResponse::link(false),
       DiziZozSurveyResponseType::link,
       {"linkClicked"}},
      {"rating", DiziZozSurveyResponse::rating(-3), DiziZozSurveyResponseType::rating, {"ratingValue"}},
      {"no rating", DiziZozSurveyResponse::rating(std::nullopt), DiziZozSurveyResponseType::rating, {}},
      {"open text",
       DiziZozSurveyResponse::openEnded("great"),
       DiziZozSurveyResponseType::openEnded,
       {"textValue"}},
      {"empty text",
       DiziZozSurveyResponse::openEnded(""),
       DiziZozSurveyResponseType::openEnded,
       {"textValue"}},
      {"no text", DiziZozSurveyResponse::openEnded(std::nullopt), DiziZozSurveyResponseType::openEnded, {}},
      {"one choice",
       DiziZozSurveyResponse::singleChoice("Blue"),
       DiziZozSurveyResponseType::singleChoice,
       {"selectedOptions"}},
      {"no choice",
       DiziZozSurveyResponse::singleChoice(std::nullopt),
       DiziZozSurveyResponseType::singleChoice,
       {}},
      {"choices",
       DiziZozSurveyResponse::multipleChoice(std::vector<std::string>{"a", "b"}),
       DiziZozSurveyResponseType::multipleChoice,
       {"selectedOptions"}},
      {"no choices",
       DiziZozSurveyResponse::multipleChoice(std::nullopt),
       DiziZozSurveyResponseType::multipleChoice,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.response->type(), c.type);
    EXPECT_EQ(setFields(*c.response), c.fields);
  }

  EXPECT_EQ(DiziZozSurveyResponse::link(false)->linkClicked(), false);
  EXPECT_EQ(DiziZozSurveyResponse::rating(-3)->ratingValue(), -3);
  EXPECT_EQ(DiziZozSurveyResponse::openEnded("")->textValue(), "");
  EXPECT_EQ(DiziZozSurveyResponse::singleChoice("")->selectedOptions(), std::vector<std::string>{""})
      << "an empty choice is still a choice";
  EXPECT_EQ(DiziZozSurveyResponse::multipleChoice(std::vector<std::string>{})->selectedOptions(),
            std::vector<std::string>{});
}

TEST(SurveyEnumerationsTest, RawValuesConvertOnlyInsideTheirRange) {
  for (std::int64_t raw = 0; raw <= 4; ++raw) {
    const auto type = dizizoz::surveyResponseTypeFromRawValue(raw);
    ASSERT_TRUE(type) << raw;
    EXPECT_EQ(static_cast<std::int64_t>(*type), raw);
  }
  EXPECT_EQ(dizizoz::surveyResponseTypeFromRawValue(3), DiziZozSurveyResponseType::singleChoice);
  EXPECT_EQ(dizizoz::surveyResponseTypeFromRawValue(5), std::nullopt);
  EXPECT_EQ(dizizoz::surveyResponseTypeFromRawValue(-1), std::nullopt);

  for (std::int64_t raw : {0, 1}) {
    EXPECT_EQ(static_cast<std::int64_t>(*dizizoz::displaySurveyRatingTypeFromRawValue(raw)), raw);
    EXPECT_EQ(static_cast<std::int64_t>(*dizizoz::displaySurveyTextContentTypeFromRawValue(raw)), raw);
  }
  for (std::int64_t raw : {-1, 2}) {
    EXPECT_EQ(dizizoz::displaySurveyRatingTypeFromRawValue(raw), std::nullopt) << raw;
    EXPECT_EQ(dizizoz::displaySurveyTextContentTypeFromRawValue(raw), std::nullopt) << raw;
  }
}

TEST(SurveysConfigTest, ANewConfigurationRendersNothingAndKeepsTheSystemLanguage) {
  dizizoz::DiziZozSurveysConfig config;
  EXPECT_EQ(config.overrideDisplayLanguage, std::nullopt);
  ASSERT_TRUE(config.surveysDelegate);
  EXPECT_TRUE(std::dynamic_pointer_cast<dizizoz::DiziZozSurveysDefaultDelegate>(config.surveysDelegate));

  auto survey = std::make_shared<const dizizoz::DiziZozDisplaySurvey>(
      "s1", "Feedback", dizizoz::DiziZozDisplaySurvey::Questions{}, nullptr, std::nullopt, std::nullopt);
  int callbacks = 0;
  config.surveysDelegate->renderSurvey(
      survey, [&](auto) { ++callbacks; },
      [&](auto, std::int64_t, auto) -> std::shared_ptr<const dizizoz::DiziZozNextSurveyQuestion> {
        ++callbacks;
        return nullptr;
      },
      [&](auto) { ++callbacks; });
  config.surveysDelegate->updateSurvey(survey);
  config.surveysDelegate->cleanupSurveys();
  EXPECT_EQ(callbacks, 0) << "the default delegate never reports a survey shown, answered or closed";

  // Each client's options get a configuration of their own.
  dizizoz::DiziZozConfig a("phc_a"), b("phc_b");
  ASSERT_TRUE(a.surveysConfig);
  EXPECT_NE(a.surveysConfig, b.surveysConfig);
  EXPECT_TRUE(a.surveys);
}

TEST(SurveyModelTest, ASurveyKeepsItsQuestionsOfEveryKindInOrder) {
  using namespace dizizoz;
  DiziZozDisplaySurvey::Questions questions{
      std::make_shared<DiziZozDisplayOpenQuestion>("q1", "Why?", std::nullopt, std::nullopt, true,
                                                   std::nullopt),
      std::make_shared<DiziZozDisplayLinkQuestion>("q2", "Read more", "<b>docs</b>",
                                                   DiziZozDisplaySurveyTextContentType::html, false, "Go",
                                                   "https://example.com/docs"),
      std::make_shared<DiziZozDisplayRatingQuestion>("q3", "Rate us", std::nullopt, std::nullopt, false,
                                                     std::nullopt, DiziZozDisplaySurveyRatingType::emoji, 1,
                                                     5, "Bad", "Good"),
      std::make_shared<DiziZozDisplayChoiceQuestion>("q4", "Pick", std::nullopt, std::nullopt, false,
                                                     std::nullopt, std::vector<std::string>{"A", "B"}, true,
                                                     false, true),
  };
  const DiziZozDisplaySurvey survey("s1", "Feedback", questions, nullptr, std::nullopt, std::nullopt);
  ASSERT_EQ(survey.questions().size(), 4u);
  EXPECT_EQ(survey.questions()[0]->questionDescriptionContentType(),
            DiziZozDisplaySurveyTextContentType::text)
      << "no stated type: plain text";
  EXPECT_EQ(survey.questions()[1]->questionDescriptionContentType(),
            DiziZozDisplaySurveyTextContentType::html);
  const auto* link = dynamic_cast<const DiziZozDisplayLinkQuestion*>(survey.questions()[1].get());
  ASSERT_TRUE(link);
  EXPECT_EQ(link->link(), "https://example.com/docs");
  const auto* rating = dynamic_cast<const DiziZozDisplayRatingQuestion*>(survey.questions()[2].get());
  ASSERT_TRUE(rating);
  EXPECT_EQ(rating->scaleUpperBound(), 5);
  const auto* choice = dynamic_cast<const DiziZozDisplayChoiceQuestion*>(survey.questions()[3].get());
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->choices(), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(choice->isMultipleChoice());
  EXPECT_FALSE(survey.appearance());
}

}  // namespace
