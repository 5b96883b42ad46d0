#include "DZCrashReporter/report/DZCrashReport.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "DZCrashReporter/report/DZCrashReport.pb-c.h"
#include "DZCrashReporter/report/DZCrashReportFormat.h"

namespace dzcrash {
namespace {

template <class T>
using Result = DZCrashReporterResult<T>;

// The generated C message types, by their schema names.
using Report = Dzcrash__CrashReport;
using PbSystemInfo = Dzcrash__CrashReport__SystemInfo;
using PbApplicationInfo = Dzcrash__CrashReport__ApplicationInfo;
using PbProcessor = Dzcrash__CrashReport__Processor;
using PbMachineInfo = Dzcrash__CrashReport__MachineInfo;
using PbProcessInfo = Dzcrash__CrashReport__ProcessInfo;
using PbThread = Dzcrash__CrashReport__Thread;
using PbStackFrame = Dzcrash__CrashReport__Thread__StackFrame;
using PbRegisterValue = Dzcrash__CrashReport__Thread__RegisterValue;
using PbBinaryImage = Dzcrash__CrashReport__BinaryImage;
using PbException = Dzcrash__CrashReport__Exception;
using PbSignal = Dzcrash__CrashReport__Signal;
using PbMachException = Dzcrash__CrashReport__Signal__MachException;

// On arm64e the top bits of a code address carry its pointer-authentication signature.
constexpr uint64_t kArm64Type = 0x100000c;
constexpr uint64_t kArm64eSubtype = 2;
constexpr uint64_t kArm64eAddressMask = (uint64_t{1} << 36) - 1;

// An enumeration field as the number the file holds. protobuf-c stores whatever number it reads, also
// ones the enumeration does not name (negative ones among them), and loading such a number as the C
// enumeration type is undefined in C++: the bytes are copied out instead.
template <class Enum>
int enumValue(const Enum& field) {
  static_assert(sizeof(Enum) == sizeof(int));
  int value = 0;
  std::memcpy(&value, &field, sizeof(value));
  return value;
}

DZCrashReporterError invalid(std::string text) {
  return DZCrashReporterError(DZCrashReporterErrorCode::invalidCrashReport, std::move(text));
}

std::optional<std::string> optionalString(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

std::optional<std::chrono::sys_seconds> optionalDate(int64_t seconds) {
  if (seconds == 0) return std::nullopt;
  return std::chrono::sys_seconds(std::chrono::seconds(seconds));
}

struct MessageFree {
  void operator()(Report* report) const { dzcrash__crash_report__free_unpacked(report, nullptr); }
};

// The report's processor as each architecture value stands for it, when the report has no machine
// section to say.
std::optional<DZCrashReportProcessorInfo> processorOfArchitecture(int architecture) {
  struct Entry {
    int architecture;
    uint64_t type;
    uint64_t subtype;
  };
  static constexpr Entry kTable[] = {
      {DZCRASH__ARCHITECTURE__X86_32, 7, 3},        {DZCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
      {DZCRASH__ARCHITECTURE__ARMV6, 12, 6},        {DZCRASH__ARCHITECTURE__PPC, 18, 0},
      {DZCRASH__ARCHITECTURE__PPC64, 0x1000012, 0}, {DZCRASH__ARCHITECTURE__ARMV7, 12, 9},
  };
  for (const Entry& entry : kTable) {
    if (entry.architecture == architecture)
      return DZCrashReportProcessorInfo(DZCrashReportProcessorTypeEncodingMach, entry.type, entry.subtype);
  }
  return std::nullopt;
}

Result<DZCrashReportProcessorInfo> extractProcessor(const PbProcessor* processor) {
  if (processor == nullptr) return invalid("Crash report is missing processor info section");
  return DZCrashReportProcessorInfo(enumValue(processor->encoding), processor->type, processor->subtype);
}

// Rules that every stack frame of one report shares.
struct FrameRule {
  bool stripPointerAuthentication = false;
};

Result<DZCrashReportStackFrameInfo> extractFrame(const PbStackFrame* frame, FrameRule rule) {
  if (frame == nullptr) return invalid("Crash report is missing stack frame information");
  std::optional<DZCrashReportSymbolInfo> symbol;
  if (frame->symbol != nullptr) {
    if (frame->symbol->name == nullptr) return invalid("Crash report is missing symbol information");
    symbol.emplace(frame->symbol->name, frame->symbol->start_address,
                   frame->symbol->has_end_address ? frame->symbol->end_address : 0);
  }
  const uint64_t pc = rule.stripPointerAuthentication ? (frame->pc & kArm64eAddressMask) : frame->pc;
  return DZCrashReportStackFrameInfo(pc, std::move(symbol));
}

Result<std::vector<DZCrashReportStackFrameInfo>> extractFrames(size_t count, PbStackFrame* const* frames,
                                                               FrameRule rule) {
  std::vector<DZCrashReportStackFrameInfo> out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    auto frame = extractFrame(frames[i], rule);
    if (!frame.ok()) return frame.error();
    out.push_back(std::move(frame).value());
  }
  return out;
}

Result<DZCrashReportMachineInfo> extractMachineInfo(const PbMachineInfo* machine) {
  if (machine == nullptr) return invalid("Crash report is missing Machine Information section");
  auto processor = extractProcessor(machine->processor);
  if (!processor.ok()) return processor.error();
  return DZCrashReportMachineInfo(optionalString(machine->model), processor.value(), machine->processor_count,
                                  machine->logical_processor_count);
}

Result<DZCrashReportSystemInfo> extractSystemInfo(
    const PbSystemInfo* system, const std::optional<DZCrashReportProcessorInfo>& machineCpu) {
  if (system == nullptr) return invalid("Crash report is missing System Information section");
  if (system->os_version == nullptr)
    return invalid("Crash report is missing System Information OS version field");
  const int architecture = enumValue(system->architecture);
  std::optional<DZCrashReportProcessorInfo> processor = machineCpu;
  if (!processor) processor = processorOfArchitecture(architecture);
  if (!processor) return invalid("Crash report has an unknown architecture");
  return DZCrashReportSystemInfo(enumValue(system->operating_system), system->os_version,
                                 optionalString(system->os_build), architecture, *processor,
                                 optionalDate(system->timestamp));
}

Result<DZCrashReportApplicationInfo> extractApplicationInfo(const PbApplicationInfo* app) {
  if (app == nullptr) return invalid("Crash report is missing Application Information section");
  if (app->identifier == nullptr)
    return invalid("Crash report is missing Application Information app identifier field");
  if (app->version == nullptr)
    return invalid("Crash report is missing Application Information app version field");
  return DZCrashReportApplicationInfo(app->identifier, app->version, optionalString(app->marketing_version));
}

Result<DZCrashReportProcessInfo> extractProcessInfo(const PbProcessInfo* process) {
  if (process == nullptr) return invalid("Crash report is missing Process Information section");
  std::optional<std::chrono::sys_seconds> startTime;
  if (process->has_start_time)
    startTime = std::chrono::sys_seconds(std::chrono::seconds(static_cast<int64_t>(process->start_time)));
  return DZCrashReportProcessInfo(optionalString(process->process_name), process->process_id,
                                  optionalString(process->process_path), startTime,
                                  optionalString(process->parent_process_name), process->parent_process_id,
                                  process->native != 0);
}

Result<DZCrashReportSignalInfo> extractSignalInfo(const PbSignal* signal) {
  if (signal == nullptr) return invalid("Crash report is missing Signal Information section");
  if (signal->name == nullptr) return invalid("Crash report is missing signal name field");
  if (signal->code == nullptr) return invalid("Crash report is missing signal code field");
  return DZCrashReportSignalInfo(signal->name, signal->code, signal->address,
                                 optionalString(signal->crash_info_message));
}

Result<DZCrashReportMachExceptionInfo> extractMachExceptionInfo(const PbMachException* mach) {
  if (mach == nullptr) return invalid("Crash report is missing Mach Exception Information section");
  if (mach->n_codes > DZCrashReportMachExceptionCodesMax)
    return invalid("Crash report includes too many Mach Exception codes");
  return DZCrashReportMachExceptionInfo(mach->type,
                                        std::vector<uint64_t>(mach->codes, mach->codes + mach->n_codes));
}

Result<DZCrashReportThreadInfo> extractThread(const PbThread* thread, FrameRule rule) {
  if (thread == nullptr) return invalid("Crash report is missing thread state information");
  auto frames = extractFrames(thread->n_frames, thread->frames, rule);
  if (!frames.ok()) return frames.error();
  std::vector<DZCrashReportRegisterInfo> registers;
  registers.reserve(thread->n_registers);
  for (size_t i = 0; i < thread->n_registers; ++i) {
    const PbRegisterValue* value = thread->registers[i];
    if (value == nullptr || value->name == nullptr) return invalid("Missing register name in register value");
    registers.emplace_back(value->name, value->value);
  }
  return DZCrashReportThreadInfo(thread->thread_number, std::move(frames).value(), thread->crashed != 0,
                                 std::move(registers));
}

Result<DZCrashReportBinaryImageInfo> extractImage(const PbBinaryImage* image) {
  if (image == nullptr || image->name == nullptr) return invalid("Missing image name in image record");
  std::optional<std::vector<uint8_t>> uuid;
  if (image->has_uuid && image->uuid.len > 0)
    uuid.emplace(image->uuid.data, image->uuid.data + image->uuid.len);
  std::optional<DZCrashReportProcessorInfo> codeType;
  if (image->code_type != nullptr) {
    auto processor = extractProcessor(image->code_type);
    if (!processor.ok()) return processor.error();
    codeType = processor.value();
  }
  return DZCrashReportBinaryImageInfo(codeType, image->base_address, image->size, image->name, uuid);
}

Result<DZCrashReportExceptionInfo> extractExceptionInfo(const PbException* exception, FrameRule rule) {
  if (exception == nullptr) return invalid("Crash report is missing Exception Information section");
  if (exception->name == nullptr) return invalid("Crash report is missing exception name field");
  if (exception->reason == nullptr) return invalid("Crash report is missing exception reason field");
  std::optional<std::vector<DZCrashReportStackFrameInfo>> frames;
  if (exception->n_frames > 0) {
    auto decoded = extractFrames(exception->n_frames, exception->frames, rule);
    if (!decoded.ok()) return decoded.error();
    frames = std::move(decoded).value();
  }
  return DZCrashReportExceptionInfo(exception->name, exception->reason, std::move(frames));
}

// Says which of the header's rules the bytes broke.
DZCrashReporterError headerError(std::span<const uint8_t> data) {
  if (data.size() <= DZCRASH_REPORT_FILE_HEADER_SIZE) return invalid("Could not decode truncated crash log");
  if (std::memcmp(data.data(), DZCRASH_REPORT_FILE_MAGIC, sizeof(DZCRASH_REPORT_FILE_MAGIC)) != 0)
    return invalid("Could not decode invalid crash log header");
  return invalid("Could not decode unsupported crash report version: " +
                 std::to_string(data[sizeof(DZCRASH_REPORT_FILE_MAGIC)]));
}

}  // namespace

DZCrashReport::DZCrashReport(
    DZCrashReportSystemInfo systemInfo, std::optional<DZCrashReportMachineInfo> machineInfo,
    DZCrashReportApplicationInfo applicationInfo, std::optional<DZCrashReportProcessInfo> processInfo,
    DZCrashReportSignalInfo signalInfo, std::optional<DZCrashReportMachExceptionInfo> machExceptionInfo,
    std::vector<DZCrashReportThreadInfo> threads, std::vector<DZCrashReportBinaryImageInfo> images,
    std::optional<DZCrashReportExceptionInfo> exceptionInfo, std::optional<std::vector<uint8_t>> customData,
    std::optional<std::array<uint8_t, 16>> uuidRef)
    : systemInfo_(std::move(systemInfo)),
      machineInfo_(std::move(machineInfo)),
      applicationInfo_(std::move(applicationInfo)),
      processInfo_(std::move(processInfo)),
      signalInfo_(std::move(signalInfo)),
      machExceptionInfo_(std::move(machExceptionInfo)),
      threads_(std::move(threads)),
      images_(std::move(images)),
      exceptionInfo_(std::move(exceptionInfo)),
      customData_(std::move(customData)),
      uuidRef_(uuidRef) {}

DZCrashReporterResult<DZCrashReport> DZCrashReport::fromData(std::span<const uint8_t> data) {
  size_t offset = 0;
  if (DZcrash_report_header_check(data.data(), data.size(), &offset) != DZCRASH_OK) return headerError(data);
  const size_t messageSize = data.size() - offset;
  const std::unique_ptr<Report, MessageFree> message(
      dzcrash__crash_report__unpack(nullptr, messageSize, data.data() + offset));
  if (!message)
    return invalid("Could not decode crash report with size of " + std::to_string(messageSize) + " bytes.");

  // The sections are built in a fixed order, so that a report broken in several ways always gives the
  // same first error.
  std::optional<std::array<uint8_t, 16>> uuid;
  if (message->report_info != nullptr && message->report_info->has_uuid) {
    const ProtobufCBinaryData& bytes = message->report_info->uuid;
    if (bytes.len != 16) return invalid("Report UUID value is not a standard 16 bytes");
    uuid.emplace();
    std::memcpy(uuid->data(), bytes.data, 16);
  }

  std::optional<DZCrashReportMachineInfo> machineInfo;
  if (message->machine_info != nullptr) {
    auto machine = extractMachineInfo(message->machine_info);
    if (!machine.ok()) return machine.error();
    machineInfo = std::move(machine).value();
  }
  std::optional<DZCrashReportProcessorInfo> machineCpu;
  if (machineInfo) machineCpu = machineInfo->processorInfo();

  auto systemInfo = extractSystemInfo(message->system_info, machineCpu);
  if (!systemInfo.ok()) return systemInfo.error();

  auto applicationInfo = extractApplicationInfo(message->application_info);
  if (!applicationInfo.ok()) return applicationInfo.error();

  std::optional<DZCrashReportProcessInfo> processInfo;
  if (message->process_info != nullptr) {
    auto process = extractProcessInfo(message->process_info);
    if (!process.ok()) return process.error();
    processInfo = std::move(process).value();
  }

  auto signalInfo = extractSignalInfo(message->signal);
  if (!signalInfo.ok()) return signalInfo.error();

  std::optional<DZCrashReportMachExceptionInfo> machExceptionInfo;
  if (message->signal->mach_exception != nullptr) {
    auto mach = extractMachExceptionInfo(message->signal->mach_exception);
    if (!mach.ok()) return mach.error();
    machExceptionInfo = std::move(mach).value();
  }

  // Only arm64e signs code addresses; on any other processor the high bits are part of the address.
  const FrameRule frameRule{.stripPointerAuthentication = machineCpu && machineCpu->type() == kArm64Type &&
                                                          machineCpu->subtype() == kArm64eSubtype};

  if (message->n_threads == 0) return invalid("Crash report is missing thread state information");
  std::vector<DZCrashReportThreadInfo> threads;
  threads.reserve(message->n_threads);
  for (size_t i = 0; i < message->n_threads; ++i) {
    auto thread = extractThread(message->threads[i], frameRule);
    if (!thread.ok()) return thread.error();
    threads.push_back(std::move(thread).value());
  }

  if (message->n_binary_images == 0) return invalid("Crash report is missing binary image information");
  std::vector<DZCrashReportBinaryImageInfo> images;
  images.reserve(message->n_binary_images);
  for (size_t i = 0; i < message->n_binary_images; ++i) {
    auto image = extractImage(message->binary_images[i]);
    if (!image.ok()) return image.error();
    images.push_back(std::move(image).value());
  }

  std::optional<DZCrashReportExceptionInfo> exceptionInfo;
  if (message->exception != nullptr) {
    auto exception = extractExceptionInfo(message->exception, frameRule);
    if (!exception.ok()) return exception.error();
    exceptionInfo = std::move(exception).value();
  }

  std::optional<std::vector<uint8_t>> customData;
  if (message->has_custom_data) {
    const ProtobufCBinaryData& bytes = message->custom_data;
    customData.emplace(bytes.data, bytes.data + bytes.len);
  }

  return DZCrashReport(std::move(systemInfo).value(), std::move(machineInfo),
                       std::move(applicationInfo).value(), std::move(processInfo),
                       std::move(signalInfo).value(), std::move(machExceptionInfo), std::move(threads),
                       std::move(images), std::move(exceptionInfo), std::move(customData), uuid);
}

const DZCrashReportBinaryImageInfo* DZCrashReport::imageForAddress(uint64_t address) const {
  for (const DZCrashReportBinaryImageInfo& image : images_) {
    // Written as a distance from the base so that an image ending at the top of the address space
    // (base + size wrapping to 0) still holds its addresses.
    if (address >= image.imageBaseAddress() && address - image.imageBaseAddress() < image.imageSize())
      return &image;
  }
  return nullptr;
}

}  // namespace dzcrash
