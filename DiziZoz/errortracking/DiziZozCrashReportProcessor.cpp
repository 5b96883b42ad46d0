#include "DiziZoz/errortracking/DiziZozCrashReportProcessor.h"

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.h"
#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/errortracking/DiziZozBinaryImageInfo.h"
#include "DiziZoz/errortracking/DiziZozStackFrame.h"
#include "DiziZoz/errortracking/DiziZozStackTraceProcessor.h"
#include "DiziZoz/errortracking/FormattedAsUUID.h"

namespace dizizoz::DiziZozCrashReportProcessor {
namespace {

using dzcrash::DZCrashReport;
using dzcrash::DZCrashReportStackFrameInfo;
using dzcrash::DZCrashReportThreadInfo;

// libstdc++'s matcher recurses once per character of the subject: a longer message could exhaust the
// stack at start-up. Runtime fatal-error messages are far shorter.
constexpr std::size_t maxMatchedMessageLength = 4096;

constexpr std::uint64_t cpuTypeArm = 12;
constexpr std::uint64_t cpuTypeX86_64 = 0x1000007;
constexpr std::uint64_t cpuTypeArm64 = 0x100000C;
constexpr std::uint64_t cpuSubtypeArmV7 = 9;
constexpr std::uint64_t cpuSubtypeArmV7s = 11;

// The report's operating systems whose images are Mach-O; this system's reports name none of them.
constexpr std::array<int, 4> machOperatingSystems{0, 1, 2, 4};

const std::map<std::uint64_t, std::string_view>& machExceptionNames() {
  static const std::map<std::uint64_t, std::string_view> names{
      {1, "EXC_BAD_ACCESS"},    {2, "EXC_BAD_INSTRUCTION"}, {3, "EXC_ARITHMETIC"}, {4, "EXC_EMULATION"},
      {5, "EXC_SOFTWARE"},      {6, "EXC_BREAKPOINT"},      {7, "EXC_SYSCALL"},    {8, "EXC_MACH_SYSCALL"},
      {9, "EXC_RPC_ALERT"},     {10, "EXC_CRASH"},          {11, "EXC_RESOURCE"},  {12, "EXC_GUARD"},
      {13, "EXC_CORPSE_NOTIFY"}};
  return names;
}

using CodeNames = std::map<std::int64_t, std::string_view>;

const std::map<std::uint64_t, CodeNames>& exceptionCodeNameMappings() {
  static const std::map<std::uint64_t, CodeNames> mappings{
      {1,
       {{0, "KERN_SUCCESS"},
        {1, "KERN_INVALID_ADDRESS"},
        {2, "KERN_PROTECTION_FAILURE"},
        {3, "KERN_NO_SPACE"},
        {4, "KERN_INVALID_ARGUMENT"},
        {5, "KERN_FAILURE"},
        {6, "KERN_RESOURCE_SHORTAGE"},
        {7, "KERN_NOT_RECEIVER"},
        {8, "KERN_NO_ACCESS"},
        {9, "KERN_MEMORY_FAILURE"},
        {10, "KERN_MEMORY_ERROR"},
        {11, "KERN_ALREADY_IN_SET"},
        {12, "KERN_NOT_IN_SET"},
        {13, "KERN_NAME_EXISTS"},
        {14, "KERN_ABORTED"},
        {15, "KERN_INVALID_NAME"},
        {16, "KERN_INVALID_TASK"},
        {17, "KERN_INVALID_RIGHT"},
        {18, "KERN_INVALID_VALUE"},
        {19, "KERN_UREFS_OVERFLOW"},
        {20, "KERN_INVALID_CAPABILITY"},
        {21, "KERN_RIGHT_EXISTS"},
        {22, "KERN_INVALID_HOST"},
        {23, "KERN_MEMORY_PRESENT"},
        {24, "KERN_MEMORY_DATA_MOVED"},
        {25, "KERN_MEMORY_RESTART_COPY"},
        {26, "KERN_INVALID_PROCESSOR_SET"},
        {27, "KERN_POLICY_LIMIT"},
        {28, "KERN_INVALID_POLICY"},
        {29, "KERN_INVALID_OBJECT"},
        {30, "KERN_ALREADY_WAITING"},
        {31, "KERN_DEFAULT_SET"},
        {32, "KERN_EXCEPTION_PROTECTED"},
        {33, "KERN_INVALID_LEDGER"},
        {34, "KERN_INVALID_MEMORY_CONTROL"},
        {35, "KERN_INVALID_SECURITY"},
        {36, "KERN_NOT_DEPRESSED"},
        {37, "KERN_TERMINATED"},
        {38, "KERN_LOCK_SET_DESTROYED"},
        {39, "KERN_LOCK_UNSTABLE"},
        {40, "KERN_LOCK_OWNED"},
        {41, "KERN_LOCK_OWNED_SELF"},
        {42, "KERN_SEMAPHORE_DESTROYED"},
        {43, "KERN_RPC_SERVER_TERMINATED"},
        {44, "KERN_RPC_TERMINATE_ORPHAN"},
        {45, "KERN_RPC_CONTINUE_ORPHAN"},
        {46, "KERN_NOT_SUPPORTED"},
        {47, "KERN_NODE_DOWN"},
        {48, "KERN_NOT_WAITING"},
        {49, "KERN_OPERATION_TIMED_OUT"},
        {50, "KERN_CODESIGN_ERROR"},
        {257, "EXC_ARM_DA_ALIGN"},
        {258, "EXC_ARM_DA_DEBUG"},
        {259, "EXC_ARM_SP_ALIGN"},
        {260, "EXC_ARM_SWP"},
        {261, "EXC_ARM_PAC_FAIL"}}},
      {2, {{1, "EXC_ARM_UNDEFINED"}, {2, "EXC_ARM_SME_DISALLOWED"}}},
      {3,
       {{0, "EXC_ARM_FP_UNDEFINED"},
        {1, "EXC_ARM_FP_IO"},
        {2, "EXC_ARM_FP_DZ"},
        {3, "EXC_ARM_FP_OF"},
        {4, "EXC_ARM_FP_UF"},
        {5, "EXC_ARM_FP_IX"},
        {6, "EXC_ARM_FP_ID"}}},
      {6, {{1, "EXC_ARM_BREAKPOINT"}}}};
  return mappings;
}

// An expression that does not compile is kept as nothing and never matches.
std::optional<std::regex> compiled(const char* pattern) {
  try {
    return std::regex(pattern, std::regex::ECMAScript | std::regex::icase);
  } catch (const std::regex_error&) {
    return std::nullopt;
  }
}

const std::optional<std::regex>& swiftFatalErrorRegex() {
  static const auto regex =
      compiled(R"(^(Assertion failed|Fatal error|Precondition failed): ((.+): )?file .+, line \d+$)");
  return regex;
}

const std::optional<std::regex>& swiftSourceLocationFatalErrorRegex() {
  static const auto regex =
      compiled(R"(^.+\.swift:\d+: (Assertion failed|Fatal error|Precondition failed): .+$)");
  return regex;
}

std::optional<std::string> firstGroup(const std::optional<std::regex>& regex, const std::string& message) {
  std::smatch match;
  if (!regex || !std::regex_match(message, match, *regex) || !match[1].matched) return std::nullopt;
  return match[1].str();
}

// A report's strings are the bytes the crashed process had (an exception message, a folder name):
// every one becomes text, with U+FFFD for what is not UTF-8, before it goes into a property, where a
// single invalid byte would cost the whole value.
std::string text(const std::string& bytes) {
  return toValidUtf8(bytes);
}

std::optional<std::string> nonEmpty(const std::string& bytes) {
  return bytes.empty() ? std::nullopt : std::optional(text(bytes));
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view space = " \t\n\r\v\f";
  const auto first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The report format makes the signal a required part; a report whose signal has neither name nor code
// carries none in substance, and its Mach exception (when it has one) describes the crash instead.
bool hasSignal(const dzcrash::DZCrashReportSignalInfo& signal) {
  return !signal.name().empty() || !signal.code().empty();
}

std::string lastPathComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const DZCrashReportThreadInfo* findCrashedThread(const DZCrashReport& report) {
  const auto& threads = report.threads();
  const auto crashed =
      std::find_if(threads.begin(), threads.end(), [](const auto& t) { return t.crashed(); });
  if (crashed != threads.end()) return &*crashed;
  return threads.empty() ? nullptr : &threads.front();
}

std::vector<DiziZozStackFrame> buildStackFrames(const DZCrashReport& report,
                                                const DZCrashReportThreadInfo* crashedThread,
                                                const DiziZozErrorTrackingConfig& config) {
  const std::vector<DZCrashReportStackFrameInfo>* source = nullptr;
  if (report.hasExceptionInfo() && report.exceptionInfo()->stackFrames() &&
      !report.exceptionInfo()->stackFrames()->empty()) {
    source = &*report.exceptionInfo()->stackFrames();
  } else if (crashedThread) {
    source = &crashedThread->stackFrames();
  }
  std::vector<DiziZozStackFrame> frames;
  if (!source) return frames;
  for (const auto& sourceFrame : *source) {
    // This system's addresses carry no pointer-authentication bits: they are used as recorded.
    DiziZozStackFrame frame;
    frame.instructionAddress = sourceFrame.instructionPointer();
    if (const auto* image = report.imageForAddress(sourceFrame.instructionPointer())) {
      frame.imageAddress = image->imageBaseAddress();
      if (!image->imageName().empty()) {
        // The full path, as on the handled road: "package" means one thing in every event.
        frame.package = text(image->imageName());
        frame.module = lastPathComponent(*frame.package);
      }
    }
    if (const auto& symbol = sourceFrame.symbolInfo()) {
      if (!symbol->symbolName().empty()) frame.function = text(symbol->symbolName());
      frame.symbolAddress = symbol->startAddress();
    }
    frame.inApp = frame.module && DiziZozStackTraceProcessor::isInApp(*frame.module, frame.package, config);
    frames.push_back(std::move(frame));
  }
  return frames;
}

std::optional<Properties> buildExceptionInfo(const DZCrashReport& report,
                                             const std::vector<DiziZozStackFrame>& frames,
                                             const DZCrashReportThreadInfo* crashedThread) {
  Properties exception = Properties::object();
  Properties mechanism = Properties::object();
  if (report.hasExceptionInfo()) {
    if (auto name = nonEmpty(report.exceptionInfo()->exceptionName())) exception["type"] = *name;
    if (auto reason = nonEmpty(report.exceptionInfo()->exceptionReason())) exception["value"] = *reason;
    mechanism = {{"type", "nsexception"}, {"handled", false}, {"synthetic", false}};
  } else if (hasSignal(report.signalInfo())) {
    const auto& signal = report.signalInfo();
    std::optional<std::string> crashInfoMessage;
    if (signal.crashInfoMessage())
      crashInfoMessage = nonEmpty(std::string(trimmed(text(*signal.crashInfoMessage()))));
    const auto fatalErrorType = crashInfoMessage ? parseSwiftFatalErrorType(*crashInfoMessage) : std::nullopt;
    if (fatalErrorType) {
      exception["type"] = *fatalErrorType;
      exception["value"] = *crashInfoMessage;
    } else {
      if (!signal.name().empty()) exception["type"] = text(signal.name());
      if (auto message = signalMessage(signal)) exception["value"] = *message;
    }
    Properties meta = Properties::object();
    if (!signal.code().empty()) meta["code"] = text(signal.code());
    if (!signal.name().empty()) meta["name"] = text(signal.name());
    if (crashInfoMessage) meta["crash_info_message"] = *crashInfoMessage;
    mechanism = {{"type", "signal"}, {"handled", false}, {"synthetic", false}, {"meta", {{"signal", meta}}}};
  } else if (const auto& mach = report.machExceptionInfo()) {
    exception["type"] = machExceptionName(mach->type());
    exception["value"] = machExceptionMessage(*mach);
    Properties meta{{"exception", mach->type()}};
    if (!mach->codes().empty()) meta["code"] = mach->codes()[0];
    if (mach->codes().size() >= 2) meta["subcode"] = mach->codes()[1];
    mechanism = {
        {"type", "mach_exception"}, {"handled", false}, {"synthetic", false}, {"meta", {{"mach", meta}}}};
  } else {
    return std::nullopt;
  }
  exception["mechanism"] = std::move(mechanism);
  if (!frames.empty()) {
    Properties list = Properties::array();
    for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) list.push_back(frame->toDictionary());
    exception["stacktrace"] = {{"frames", std::move(list)}, {"type", "raw"}};
  }
  if (crashedThread) exception["thread_id"] = crashedThread->threadNumber();
  return exception;
}

std::optional<std::string> archName(const std::optional<dzcrash::DZCrashReportProcessorInfo>& codeType) {
  if (!codeType) return std::nullopt;
  switch (codeType->type()) {
    case cpuTypeArm:
      if (codeType->subtype() == cpuSubtypeArmV7) return "armv7";
      if (codeType->subtype() == cpuSubtypeArmV7s) return "armv7s";
      return "arm";
    case cpuTypeX86_64:
      return "x86_64";
    case cpuTypeArm64:
      return "arm64";
    default:
      return std::nullopt;
  }
}

std::vector<Properties> buildDebugImages(const DZCrashReport& report,
                                         const std::vector<DiziZozStackFrame>& frames) {
  std::set<std::uint64_t> wanted;
  for (const auto& frame : frames) {
    if (frame.imageAddress) wanted.insert(*frame.imageAddress);
  }
  std::vector<Properties> images;
  if (wanted.empty()) return images;
  const int os = report.systemInfo().operatingSystem();
  const auto format =
      std::find(machOperatingSystems.begin(), machOperatingSystems.end(), os) != machOperatingSystems.end()
          ? DiziZozBinaryImageFormat::macho
          : DiziZozBinaryImageFormat::elf;
  for (const auto& image : report.images()) {
    if (!wanted.contains(image.imageBaseAddress()) || image.imageName().empty()) continue;
    DiziZozBinaryImageInfo info;
    info.name = text(image.imageName());
    if (image.imageUUID()) info.uuid = formattedAsUUID(*image.imageUUID());
    info.address = image.imageBaseAddress();
    info.size = image.imageSize();
    info.arch = archName(image.codeType());
    info.format = format;
    images.push_back(info.toDictionary());
  }
  return images;
}

}  // namespace

Properties processReport(const dzcrash::DZCrashReport& report, const DiziZozErrorTrackingConfig& config) {
  Properties properties{{"$exception_level", "fatal"}};
  const auto* crashedThread = findCrashedThread(report);
  const auto frames = buildStackFrames(report, crashedThread, config);
  if (auto exception = buildExceptionInfo(report, frames, crashedThread)) {
    properties["$exception_list"] = Properties::array({std::move(*exception)});
  }
  if (auto images = buildDebugImages(report, frames); !images.empty()) properties["$debug_images"] = images;
  return properties;
}

std::optional<std::string> parseSwiftFatalErrorType(std::string_view message) {
  if (message.size() > maxMatchedMessageLength) return std::nullopt;
  const std::string subject(message);
  if (auto kind = firstGroup(swiftFatalErrorRegex(), subject)) return kind;
  return firstGroup(swiftSourceLocationFatalErrorRegex(), subject);
}

std::optional<std::string> signalMessage(const dzcrash::DZCrashReportSignalInfo& signal) {
  if (signal.name().empty() || signal.code().empty()) return std::nullopt;
  return text(signal.name()) + " (code " + text(signal.code()) + ") at address " +
         hexAddress(signal.address());
}

std::string machExceptionName(std::uint64_t type) {
  const auto& names = machExceptionNames();
  const auto name = names.find(type);
  return name != names.end() ? std::string(name->second) : "EXC_UNKNOWN_" + std::to_string(type);
}

std::string machExceptionMessage(const dzcrash::DZCrashReportMachExceptionInfo& exception) {
  std::string message = machExceptionName(exception.type());
  const auto& codes = exception.codes();
  if (codes.empty()) return message;
  const auto code = static_cast<std::int64_t>(codes[0]);
  std::string codeText = std::to_string(code);
  const auto& mappings = exceptionCodeNameMappings();
  if (const auto table = mappings.find(exception.type()); table != mappings.end()) {
    if (const auto name = table->second.find(code); name != table->second.end()) {
      codeText = std::string(name->second) + " (" + codeText + ")";
    }
  }
  message += ", Code " + codeText;
  if (codes.size() >= 2) message += ", Subcode " + hexAddress(codes[1]);
  return message;
}

}  // namespace dizizoz::DiziZozCrashReportProcessor
