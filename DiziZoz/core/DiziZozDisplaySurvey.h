#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DiziZoz/core/DiziZozDisplaySurveyAppearance.h"
#include "DiziZoz/core/DiziZozDisplaySurveyQuestion.h"
#include "DiziZoz/core/Value.h"

namespace dizizoz {

// A survey as a host application would show it, identified by `id`. Immutable once made; the client
// carries the type for hosts and a later survey feature, and creates none itself.
class DiziZozDisplaySurvey {
 public:
  using Questions = std::vector<std::shared_ptr<const DiziZozDisplaySurveyQuestion>>;

  DiziZozDisplaySurvey(std::string id, std::string name, Questions questions,
                       std::shared_ptr<const DiziZozDisplaySurveyAppearance> appearance,
                       std::optional<Date> startDate, std::optional<Date> endDate)
      : id_(std::move(id)),
        name_(std::move(name)),
        questions_(std::move(questions)),
        appearance_(std::move(appearance)),
        startDate_(startDate),
        endDate_(endDate) {}

  const std::string& id() const { return id_; }
  const std::string& name() const { return name_; }
  const Questions& questions() const { return questions_; }
  // Null when the survey has no appearance of its own.
  const std::shared_ptr<const DiziZozDisplaySurveyAppearance>& appearance() const { return appearance_; }
  std::optional<Date> startDate() const { return startDate_; }
  std::optional<Date> endDate() const { return endDate_; }

 private:
  std::string id_;
  std::string name_;
  Questions questions_;
  std::shared_ptr<const DiziZozDisplaySurveyAppearance> appearance_;
  std::optional<Date> startDate_;
  std::optional<Date> endDate_;
};

}  // namespace dizizoz
