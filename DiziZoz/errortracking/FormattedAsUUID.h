#pragma once

#include <string>
#include <string_view>

namespace dizizoz {

// Identifier text in the service's UUID form: without its "-", upper-cased and, when exactly 32
// characters remain, grouped 8-4-4-4-12 with "-" between the groups. Any other text comes back unchanged
// (a 20-byte GNU build id stays 40 hex digits).
std::string formattedAsUUID(std::string_view text);

}  // namespace dizizoz
