#pragma once

#include <cstdint>

namespace dizizoz {

// What a host's response handler returns: the question to show next, or that the survey is done.
class DiziZozNextSurveyQuestion {
 public:
  DiziZozNextSurveyQuestion(std::int64_t questionIndex, bool isSurveyCompleted)
      : questionIndex_(questionIndex), isSurveyCompleted_(isSurveyCompleted) {}

  std::int64_t questionIndex() const { return questionIndex_; }
  bool isSurveyCompleted() const { return isSurveyCompleted_; }

 private:
  std::int64_t questionIndex_;
  bool isSurveyCompleted_;
};

}  // namespace dizizoz
