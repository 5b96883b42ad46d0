#pragma once

#include <cstdint>
#include <optional>

namespace dizizoz {

// How a survey text is meant to be shown. Carried for host applications; nothing in the client reads it.
enum class DiziZozDisplaySurveyTextContentType : std::int64_t { html = 0, text = 1 };

// Nothing for a raw value other than 0 or 1.
std::optional<DiziZozDisplaySurveyTextContentType> displaySurveyTextContentTypeFromRawValue(
    std::int64_t rawValue);

}  // namespace dizizoz
