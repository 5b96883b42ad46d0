#include "DiziZoz/core/DiziZozBasicExceptionProcessor.h"

#include <cxxabi.h>

#include <typeinfo>

#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/core/TypeNames.h"

namespace dizizoz {
namespace {

Properties entry(const std::string& type, const std::optional<std::string>& message, bool handled,
                 const std::string& mechanismType) {
  Properties result{{"type", type}};
  // One stray byte would make the whole list unsendable: the type alone still says what failed.
  if (message && isValidUtf8(*message)) result["value"] = *message;
  result["mechanism"] = {{"type", mechanismType}, {"handled", handled}};
  return result;
}

}  // namespace

std::vector<Properties> DiziZozBasicExceptionProcessor::buildExceptionList(
    const std::exception_ptr& exception, bool handled, const std::string& mechanismType,
    const DiziZozErrorTrackingConfig&, const void*) {
  if (!exception) return {};
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& error) {
    return {entry(demangledTypeName(typeid(error)), std::string(error.what()), handled, mechanismType)};
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    return {entry(type ? demangledTypeName(*type) : std::string("unknown"), std::nullopt, handled,
                  mechanismType)};
  }
}

std::vector<Properties> DiziZozBasicExceptionProcessor::buildExceptionList(const std::error_code& error,
                                                                           bool handled,
                                                                           const std::string& mechanismType,
                                                                           const DiziZozErrorTrackingConfig&,
                                                                           const void*) {
  return {entry(error.category().name(), error.message(), handled, mechanismType)};
}

void DiziZozBasicExceptionProcessor::attachExceptionsAndDebugImages(
    const std::vector<Properties>& exceptionList, Properties& properties) {
  if (exceptionList.empty()) return;
  properties["$exception_list"] = exceptionList;
}

}  // namespace dizizoz
