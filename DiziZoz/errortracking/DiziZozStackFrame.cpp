#include "DiziZoz/errortracking/DiziZozStackFrame.h"

#include <cinttypes>
#include <cstdio>

namespace dizizoz {

std::string hexAddress(std::uint64_t address) {
  char text[2 + 16 + 1];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, address);
  return text;
}

Properties DiziZozStackFrame::toDictionary() const {
  Properties frame{
      {"instruction_addr", hexAddress(instructionAddress)}, {"platform", "apple"}, {"in_app", inApp}};
  if (module) frame["module"] = *module;
  if (package) frame["package"] = *package;
  if (imageAddress) frame["image_addr"] = hexAddress(*imageAddress);
  if (function) frame["function"] = *function;
  if (symbolAddress) frame["symbol_addr"] = hexAddress(*symbolAddress);
  return frame;
}

}  // namespace dizizoz
