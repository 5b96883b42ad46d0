#include "DiziZoz/errortracking/FormattedAsUUID.h"

#include <cctype>

namespace dizizoz {

std::string formattedAsUUID(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if (c != '-') digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.size() != 32) return std::string(text);
  return digits.substr(0, 8) + '-' + digits.substr(8, 4) + '-' + digits.substr(12, 4) + '-' +
         digits.substr(16, 4) + '-' + digits.substr(20);
}

}  // namespace dizizoz
