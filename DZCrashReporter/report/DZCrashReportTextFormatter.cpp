#include "DZCrashReporter/report/DZCrashReportTextFormatter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <vector>

#include "DZCrashReporter/DZCrashReporterLog.h"
#include "DZCrashReporter/report/DZCrashReportFormat.h"

namespace dzcrash {
namespace {

constexpr std::string_view kAbsent = "???";

// Mach-O processor types that reports name.
constexpr uint64_t kCpuX86 = 7;
constexpr uint64_t kCpuArm = 12;
constexpr uint64_t kCpuPowerPC = 18;
constexpr uint64_t kCpuX86_64 = 0x1000007;
constexpr uint64_t kCpuArm64 = 0x100000c;
// The high byte of a subtype holds capability bits, not the model.
constexpr uint64_t kCpuSubtypeModelMask = 0x00ffffff;

// Operating-system values whose symbol names carry the C underscore prefix.
constexpr int kOsMacOS = 0;
constexpr int kOsIPhoneOS = 1;
constexpr int kOsIPhoneSimulator = 2;
constexpr int kOsAppleTVOS = 4;
// The value this system's own reports carry: their symbols are ELF names, which have no prefix.
constexpr int kOsThisSystem = DZCRASH_HOST_OPERATING_SYSTEM;

constexpr int kFrameImageNameWidth = 35;
constexpr int kRegistersPerLine = 4;

[[gnu::format(printf, 2, 3)]] void appendf(std::string& out, const char* format, ...) {
  char buffer[128];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (n <= 0) return;
  if (static_cast<size_t>(n) < sizeof(buffer)) {
    out.append(buffer, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  out.append(big.data(), static_cast<size_t>(n));
}

std::string_view orAbsent(const std::optional<std::string>& text) {
  return text ? std::string_view(*text) : kAbsent;
}

std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return std::string(path);
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Characters, not bytes: a UTF-8 name is padded to the same column as an ASCII one.
void appendPadded(std::string& out, std::string_view text, int width) {
  out.append(text);
  const auto characters = std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
  if (characters < width) out.append(static_cast<size_t>(width - characters), ' ');
}

std::string dateText(std::chrono::sys_seconds date) {
  const std::time_t seconds = static_cast<std::time_t>(date.time_since_epoch().count());
  std::tm parts{};
  char text[64];
  if (gmtime_r(&seconds, &parts) == nullptr ||
      std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S +0000", &parts) == 0)
    return std::to_string(date.time_since_epoch().count()) + " seconds since 1970-01-01 00:00:00 +0000";
  return text;
}

std::string uuidText(const std::array<uint8_t, 16>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    appendf(out, "%02X", bytes[i]);
  }
  return out;
}

std::string operatingSystemName(int operatingSystem) {
  switch (operatingSystem) {
    case kOsMacOS:
      return "Mac OS X";
    case kOsIPhoneOS:
      return "iPhone OS";
    case kOsIPhoneSimulator:
      return "Mac OS X";
    case kOsAppleTVOS:
      return "Apple tvOS";
    default:
      return "Unknown (" + std::to_string(operatingSystem) + ")";
  }
}

struct CodeType {
  std::string name;
  bool lp64;
};

std::optional<CodeType> knownCodeType(const DZCrashReportProcessorInfo& processor) {
  if (processor.typeEncoding() != DZCrashReportProcessorTypeEncodingMach) return std::nullopt;
  switch (processor.type()) {
    case kCpuX86:
      return CodeType{"X86", false};
    case kCpuArm:
      return CodeType{"ARM", false};
    case kCpuPowerPC:
      return CodeType{"PPC", false};
    case kCpuX86_64:
      return CodeType{"X86-64", true};
    case kCpuArm64:
      return CodeType{"ARM-64", true};
    default:
      return std::nullopt;
  }
}

// The images know the code that crashed better than the host does (a 32-bit process on a 64-bit host).
CodeType reportCodeType(const DZCrashReport& report) {
  for (const DZCrashReportBinaryImageInfo& image : report.images()) {
    if (!image.codeType()) continue;
    if (auto known = knownCodeType(*image.codeType())) return *known;
  }
  const DZCrashReportProcessorInfo& host = report.systemInfo().processorInfo();
  if (auto known = knownCodeType(host)) return *known;
  if (host.typeEncoding() != DZCrashReportProcessorTypeEncodingMach) return {"Unknown", true};
  return {"Unknown (" + std::to_string(host.type()) + ")", true};
}

std::string imageArchitecture(const std::optional<DZCrashReportProcessorInfo>& codeType) {
  if (!codeType || codeType->typeEncoding() != DZCrashReportProcessorTypeEncodingMach) return "???";
  const uint64_t subtype = codeType->subtype() & kCpuSubtypeModelMask;
  switch (codeType->type()) {
    case kCpuX86:
      return "i386";
    case kCpuX86_64:
      return "x86_64";
    case kCpuPowerPC:
      return "powerpc";
    case kCpuArm:
      switch (subtype) {
        case 6:
          return "armv6";
        case 9:
          return "armv7";
        case 11:
          return "armv7s";
        default:
          return "arm-unknown";
      }
    case kCpuArm64:
      switch (subtype) {
        case 0:
          return "arm64";
        case 1:
          return "armv8";
        case 2:
          return "arm64e";
        default:
          return "arm64-unknown";
      }
    default:
      return "???";
  }
}

// Symbol names as the linker sees them: the C underscore comes off on the systems known to add one.
// Elsewhere (ELF symbols among them) the name is already the source name.
std::string displayedSymbolName(const std::string& name, int operatingSystem) {
  if (name.size() <= 1 || name.front() != '_') return name;
  switch (operatingSystem) {
    case kOsMacOS:
    case kOsIPhoneOS:
    case kOsIPhoneSimulator:
    case kOsAppleTVOS:
      return name.substr(1);
    case kOsThisSystem:
      return name;
    default:
      DZCrashReporterLog("Symbol \"" + name + "\" prefix rules are unknown for this OS!");
      return name;
  }
}

// Length of the well-formed UTF-8 sequence at the start of `bytes` and its code point; 0 when the
// bytes do not start one, with `consumed` the bytes of the ill-formed start (at least 1).
size_t decodeUtf8(std::string_view bytes, char32_t& codePoint, size_t& consumed) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  consumed = 1;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  char32_t value = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if (i >= bytes.size()) return 0;
    const unsigned char next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    value = (value << 6) | (next & 0x3F);
    consumed = i + 1;
  }
  codePoint = value;
  return length;
}

std::string encodeText(std::string_view text, DZCrashReportStringEncoding encoding) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t codePoint = 0;
    size_t consumed = 0;
    const size_t length = decodeUtf8(text.substr(i), codePoint, consumed);
    if (length == 0) {
      out.append(encoding == DZCrashReportStringEncoding::utf8 ? "\xEF\xBF\xBD" : "?");
      i += consumed;
      continue;
    }
    if (encoding == DZCrashReportStringEncoding::ascii && codePoint >= 0x80)
      out.push_back('?');
    else
      out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

void appendFrames(std::string& out, const std::vector<DZCrashReportStackFrameInfo>& frames,
                  const DZCrashReport& report, bool lp64) {
  for (size_t i = 0; i < frames.size(); ++i)
    out += DZCrashReportTextFormatter::formatStackFrame(frames[i], static_cast<int64_t>(i), report, lp64);
}

}  // namespace

std::string DZCrashReportTextFormatter::formatReport(const DZCrashReport& report) const {
  return encodeText(stringValueForCrashReport(report, format_), encoding_);
}

std::string DZCrashReportTextFormatter::stringValueForCrashReport(const DZCrashReport& report,
                                                                  DZCrashReportTextFormat) {
  std::string out;
  const CodeType codeType = reportCodeType(report);
  const bool lp64 = codeType.lp64;
  const auto& process = report.processInfo();
  const auto& app = report.applicationInfo();
  const auto& system = report.systemInfo();

  out += "Incident Identifier: ";
  out += report.uuidRef() ? uuidText(*report.uuidRef()) : std::string(kAbsent);
  out += "\nHardware Model:      ";
  out += report.machineInfo() ? orAbsent(report.machineInfo()->modelName()) : kAbsent;
  out += "\n";

  out += "Process:         ";
  out += process ? orAbsent(process->processName()) : kAbsent;
  out += " [";
  out += process ? std::to_string(process->processID()) : std::string(kAbsent);
  out += "]\nPath:            ";
  out += process ? orAbsent(process->processPath()) : kAbsent;
  out += "\nIdentifier:      " + app.applicationIdentifier();
  out += "\nVersion:         ";
  if (app.applicationMarketingVersion())
    out += *app.applicationMarketingVersion() + " (" + app.applicationVersion() + ")";
  else
    out += app.applicationVersion();
  out += "\nCode Type:       " + codeType.name;
  out += "\nParent Process:  ";
  out += process ? orAbsent(process->parentProcessName()) : kAbsent;
  out += " [";
  out += process ? std::to_string(process->parentProcessID()) : std::string(kAbsent);
  out += "]\n\n";

  out += "Date/Time:       ";
  out += system.timestamp() ? dateText(*system.timestamp()) : std::string(kAbsent);
  out += "\nOS Version:      " + operatingSystemName(system.operatingSystem()) + " " +
         system.operatingSystemVersion() + " (";
  out += orAbsent(system.operatingSystemBuild());
  out += ")\nReport Version:  104\n\n";

  const DZCrashReportSignalInfo& signal = report.signalInfo();
  out += "Exception Type:  " + signal.name() + "\n";
  out += "Exception Codes: " + signal.code();
  appendf(out, " at 0x%" PRIx64 "\n", signal.address());
  const auto& threads = report.threads();
  const auto crashed =
      std::find_if(threads.begin(), threads.end(), [](const auto& t) { return t.crashed(); });
  if (crashed != threads.end()) appendf(out, "Crashed Thread:  %" PRId64 "\n", crashed->threadNumber());
  out += "\n";

  if (const auto& exception = report.exceptionInfo()) {
    out += "Application Specific Information:\n";
    out += "*** Terminating app due to uncaught exception '" + exception->exceptionName() + "', reason: '" +
           exception->exceptionReason() + "'\n\n";
    if (exception->stackFrames()) {
      out += "Last Exception Backtrace:\n";
      appendFrames(out, *exception->stackFrames(), report, lp64);
      out += "\n";
    }
  }

  for (const DZCrashReportThreadInfo& thread : threads) {
    appendf(out, thread.crashed() ? "Thread %" PRId64 " Crashed:\n" : "Thread %" PRId64 ":\n",
            thread.threadNumber());
    appendFrames(out, thread.stackFrames(), report, lp64);
    out += "\n";
  }

  if (crashed != threads.end()) {
    appendf(out, "Thread %" PRId64 " crashed with ", crashed->threadNumber());
    out += codeType.name + " Thread State:\n";
    const bool arm32 = codeType.name == "ARM";
    const auto& registers = crashed->registers();
    for (size_t i = 0; i < registers.size(); ++i) {
      const std::string& name = registers[i].registerName();
      const char* shown = arm32 && name == "r12" ? "ip" : name.c_str();
      appendf(out, lp64 ? "%6s: 0x%016" PRIx64 " " : "%6s: 0x%08" PRIx64 " ", shown,
              registers[i].registerValue());
      if ((i + 1) % kRegistersPerLine == 0) out += "\n";
    }
    if (registers.size() % kRegistersPerLine != 0) out += "\n";
    out += "\n";
  }

  out += "Binary Images:\n";
  std::vector<const DZCrashReportBinaryImageInfo*> images;
  for (const auto& image : report.images()) images.push_back(&image);
  std::stable_sort(images.begin(), images.end(), [](const auto* a, const auto* b) {
    return a->imageBaseAddress() < b->imageBaseAddress();
  });
  const std::optional<std::string>* processPath = process ? &process->processPath() : nullptr;
  const DZCrashReportBinaryImageInfo* previous = nullptr;
  for (const DZCrashReportBinaryImageInfo* image : images) {
    // An image recorded twice (loaded again at the same address) is listed once.
    if (previous != nullptr && previous->imageBaseAddress() == image->imageBaseAddress()) continue;
    previous = image;
    const uint64_t base = image->imageBaseAddress();
    const uint64_t end = image->imageSize() == 0 ? base : base + image->imageSize() - 1;
    appendf(out, lp64 ? "%#18" PRIx64 " - %#18" PRIx64 " " : "%#10" PRIx64 " - %#10" PRIx64 " ", base, end);
    const bool isMain = processPath != nullptr && *processPath && **processPath == image->imageName();
    out += isMain ? "+" : " ";
    out += lastPathComponent(image->imageName()) + " " + imageArchitecture(image->codeType()) + "  <";
    out += orAbsent(image->imageUUID());
    out += "> " + image->imageName() + "\n";
  }
  return out;
}

std::string DZCrashReportTextFormatter::formatStackFrame(const DZCrashReportStackFrameInfo& frame,
                                                         int64_t frameIndex, const DZCrashReport& report,
                                                         bool lp64) {
  const uint64_t pc = frame.instructionPointer();
  const DZCrashReportBinaryImageInfo* image = report.imageForAddress(pc);
  std::string out;
  appendf(out, "%-4" PRId64, frameIndex);
  appendPadded(out, image != nullptr ? lastPathComponent(image->imageName()) : std::string(kAbsent),
               kFrameImageNameWidth);
  appendf(out, " 0x%0*" PRIx64 " ", lp64 ? 16 : 8, pc);
  if (const auto& symbol = frame.symbolInfo()) {
    out += displayedSymbolName(symbol->symbolName(), report.systemInfo().operatingSystem());
    appendf(out, " + %" PRId64 "\n", static_cast<int64_t>(pc - symbol->startAddress()));
    return out;
  }
  if (image == nullptr) {
    if (pc != 0) {
      std::string line;
      appendf(line, "Cannot find image for 0x%" PRIx64, pc);
      DZCrashReporterLog(line);
    }
    out += "0x0 + 0\n";
    return out;
  }
  appendf(out, "0x%" PRIx64 " + %" PRId64 "\n", image->imageBaseAddress(),
          static_cast<int64_t>(pc - image->imageBaseAddress()));
  return out;
}

}  // namespace dzcrash
