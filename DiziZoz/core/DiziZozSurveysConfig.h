#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace dizizoz {

class DiziZozDisplaySurvey;
class DiziZozNextSurveyQuestion;
class DiziZozSurveyResponse;

// How a host application renders surveys. The client carries it in its options; it calls none of these.
class DiziZozSurveysDelegate {
 public:
  using Survey = std::shared_ptr<const DiziZozDisplaySurvey>;
  using OnShown = std::function<void(Survey)>;
  // Survey, index of the answered question, the answer; returns the next question, or null.
  using OnResponse = std::function<std::shared_ptr<const DiziZozNextSurveyQuestion>(
      Survey, std::int64_t, std::shared_ptr<const DiziZozSurveyResponse>)>;
  using OnClosed = std::function<void(Survey)>;

  virtual ~DiziZozSurveysDelegate() = default;
  virtual void renderSurvey(Survey survey, OnShown onSurveyShown, OnResponse onSurveyResponse,
                            OnClosed onSurveyClosed) = 0;
  virtual void updateSurvey(Survey survey) = 0;
  virtual void cleanupSurveys() = 0;
};

// Renders nothing.
class DiziZozSurveysDefaultDelegate final : public DiziZozSurveysDelegate {
 public:
  void renderSurvey(Survey, OnShown, OnResponse, OnClosed) override {}
  void updateSurvey(Survey) override {}
  void cleanupSurveys() override {}
};

// Survey options kept for the application; nothing in the client reads them yet.
class DiziZozSurveysConfig {
 public:
  std::shared_ptr<DiziZozSurveysDelegate> surveysDelegate = std::make_shared<DiziZozSurveysDefaultDelegate>();
  std::optional<std::string> overrideDisplayLanguage;
};

}  // namespace dizizoz
