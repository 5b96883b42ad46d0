#include "DiziZoz/errortracking/DiziZozExceptionProcessor.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <set>
#include <typeinfo>

#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/core/TypeNames.h"
#include "DiziZoz/errortracking/DiziZozDebugImageProvider.h"
#include "DiziZoz/errortracking/DiziZozStackTraceProcessor.h"

namespace dizizoz {
namespace {

// Deep enough for any handled failure worth reading; deeper traces keep their innermost frames.
constexpr int maxTraceDepth = 256;

// The calling thread's return addresses, innermost first, starting at the frame that returns to
// `callSite` (all of them when that frame is not found).
std::vector<std::uint64_t> returnAddressesFrom(const void* callSite) {
  std::array<void*, maxTraceDepth> buffer{};
  const int depth = backtrace(buffer.data(), maxTraceDepth);
  const auto begin = buffer.begin();
  const auto end = begin + std::max(depth, 0);
  auto start = std::find(begin, end, callSite);
  if (start == end) start = begin;
  std::vector<std::uint64_t> addresses;
  for (auto it = start; it != end; ++it) addresses.push_back(reinterpret_cast<std::uintptr_t>(*it));
  return addresses;
}

// {"frames": outermost first, "type": "raw"}, or nothing when no address could be placed.
std::optional<Properties> buildStacktrace(const void* callSite, const DiziZozErrorTrackingConfig& config) {
  const auto frames =
      DiziZozStackTraceProcessor::symbolicateAddresses(returnAddressesFrom(callSite), config, true);
  if (frames.empty()) return std::nullopt;
  Properties list = Properties::array();
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) list.push_back(it->toDictionary());
  return Properties{{"frames", std::move(list)}, {"type", "raw"}};
}

void finishEntry(Properties& entry, bool handled, const std::string& mechanismType,
                 const std::optional<Properties>& stacktrace) {
  entry["thread_id"] = static_cast<std::int64_t>(gettid());
  entry["mechanism"] = {{"type", mechanismType}, {"handled", handled}, {"synthetic", true}};
  if (stacktrace) entry["stacktrace"] = *stacktrace;
}

// std::throw_with_nested throws the library's wrapper type deriving from what the caller threw; the
// caller's own type is the one worth reporting.
std::string thrownTypeName(const std::type_info& type) {
  constexpr std::string_view wrapper = "std::_Nested_exception<";
  std::string name = demangledTypeName(type);
  if (name.starts_with(wrapper) && name.ends_with('>') && name.size() > wrapper.size() + 1) {
    return name.substr(wrapper.size(), name.size() - wrapper.size() - 1);
  }
  return name;
}

Properties exceptionEntry(const std::type_info* type, const char* what) {
  Properties entry = Properties::object();
  if (type) {
    if (auto name = thrownTypeName(*type); !name.empty()) entry["type"] = std::move(name);
  }
  // One stray byte would make the whole event unsendable: the type alone still says what failed.
  if (what && what[0] != '\0' && isValidUtf8(what)) entry["value"] = what;
  return entry;
}

// The members of the exception's nested chain, outermost first, as entries without the common keys.
std::vector<Properties> nestedChain(std::exception_ptr current) {
  std::vector<Properties> entries;
  std::set<const void*> visited;
  while (current) {
    std::exception_ptr next;
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& error) {
      if (!visited.insert(&error).second) break;
      entries.push_back(exceptionEntry(&typeid(error), error.what()));
      if (const auto* nested = dynamic_cast<const std::nested_exception*>(&error))
        next = nested->nested_ptr();
    } catch (const std::nested_exception& nested) {
      if (!visited.insert(&nested).second) break;
      entries.push_back(exceptionEntry(abi::__cxa_current_exception_type(), nullptr));
      next = nested.nested_ptr();
    } catch (...) {
      entries.push_back(exceptionEntry(abi::__cxa_current_exception_type(), nullptr));
    }
    current = next;
  }
  return entries;
}

}  // namespace

__attribute__((noinline)) std::vector<Properties> DiziZozExceptionProcessor::buildExceptionList(
    const std::exception_ptr& exception, bool handled, const std::string& mechanismType,
    const DiziZozErrorTrackingConfig& config, const void* callSite) {
  if (!exception) return {};
  if (!callSite) callSite = __builtin_return_address(0);
  auto entries = nestedChain(exception);
  const auto stacktrace = buildStacktrace(callSite, config);
  for (auto& entry : entries) finishEntry(entry, handled, mechanismType, stacktrace);
  return entries;
}

__attribute__((noinline)) std::vector<Properties> DiziZozExceptionProcessor::buildExceptionList(
    const std::error_code& error, bool handled, const std::string& mechanismType,
    const DiziZozErrorTrackingConfig& config, const void* callSite) {
  if (!callSite) callSite = __builtin_return_address(0);
  const std::string domain = error.category().name();
  std::string message = error.message();
  if (message.empty() || !isValidUtf8(message)) message = "Error";
  Properties entry{{"type", domain}, {"value", message + " (Code: " + std::to_string(error.value()) + ")"}};
  if (const auto dot = domain.rfind('.'); dot != std::string::npos && dot > 0) {
    entry["module"] = domain.substr(0, dot);
  }
  finishEntry(entry, handled, mechanismType, buildStacktrace(callSite, config));
  return {std::move(entry)};
}

void DiziZozExceptionProcessor::attachExceptionsAndDebugImages(const std::vector<Properties>& exceptionList,
                                                               Properties& properties) {
  if (exceptionList.empty()) return;
  properties["$exception_list"] = exceptionList;
  auto images = DiziZozDebugImageProvider::getDebugImages(exceptionList);
  if (!images.empty()) properties["$debug_images"] = std::move(images);
}

}  // namespace dizizoz
