#pragma once

// Crash report files built from plain values with protobuf-c's own packer, for the reader's,
// formatter's and tool's tests and the fuzz seeds. A shape starts as the smallest report the reader
// accepts; tests change, drop or bend any part of it before packing.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DZCrashReporter/report/DZCrashReport.pb-c.h"

namespace dzcrash::test {

struct ProcessorShape {
  int encoding = DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
  uint64_t type = 0;
  uint64_t subtype = 0;
};

struct SymbolShape {
  std::string name{};
  uint64_t start = 0;
  std::optional<uint64_t> end{};
};

struct FrameShape {
  uint64_t pc = 0;
  std::optional<SymbolShape> symbol{};
};

struct ThreadShape {
  uint32_t number = 0;
  bool crashed = false;
  std::vector<FrameShape> frames{};
  std::vector<std::pair<std::string, uint64_t>> registers{};
};

struct ImageShape {
  uint64_t base = 0;
  uint64_t size = 0;
  std::string name{};
  std::optional<std::vector<uint8_t>> uuid{};
  std::optional<ProcessorShape> codeType{};
};

struct MachineShape {
  std::optional<std::string> model{};
  ProcessorShape processor;
  uint32_t processorCount = 4;
  uint32_t logicalProcessorCount = 8;
};

struct ProcessShape {
  std::optional<std::string> name{};
  uint32_t pid = 0;
  std::optional<std::string> path{};
  std::optional<std::string> parentName{};
  uint32_t parentPid = 0;
  bool native = true;
  std::optional<uint64_t> startTime{};
};

struct MachShape {
  uint64_t type = 0;
  std::vector<uint64_t> codes{};
};

struct ExceptionShape {
  std::string name{};
  std::string reason{};
  std::vector<FrameShape> frames{};
};

struct ReportInfoShape {
  bool userRequested = false;
  std::optional<std::vector<uint8_t>> uuid{};
};

struct ReportShape {
  std::optional<int> operatingSystem = DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
  std::string osVersion = "6.1.0";
  std::optional<std::string> osBuild{};
  int architecture = DZCRASH__ARCHITECTURE__X86_64;
  int64_t timestamp = 1700000000;
  std::string appIdentifier = "com.quorvelle.app";
  std::string appVersion = "42";
  std::optional<std::string> appMarketingVersion{};
  std::string signalName = "SIGSEGV";
  std::string signalCode = "SEGV_MAPERR";
  uint64_t signalAddress = 0;
  std::optional<std::string> crashInfoMessage{};
  std::optional<MachShape> mach{};
  std::optional<MachineShape> machine{};
  std::optional<ProcessShape> process{};
  std::optional<ReportInfoShape> reportInfo{};
  std::optional<ExceptionShape> exception{};
  std::optional<std::vector<uint8_t>> customData{};
  std::vector<ThreadShape> threads = {ThreadShape{.number = 0, .crashed = true}};
  std::vector<ImageShape> images = {
      ImageShape{.base = 0x400000, .size = 0x1000, .name = "/usr/bin/quorvelle"}};
};

namespace detail {

// Owns every C structure of one packing; the structures point into each other and into the strings.
class Packer {
 public:
  std::vector<uint8_t> pack(const ReportShape& shape) {
    Dzcrash__CrashReport report = DZCRASH__CRASH_REPORT__INIT;

    auto& system = make<Dzcrash__CrashReport__SystemInfo>();
    dzcrash__crash_report__system_info__init(&system);
    if (shape.operatingSystem) {
      system.has_operating_system = 1;
      system.operating_system =
          static_cast<Dzcrash__CrashReport__SystemInfo__OperatingSystem>(*shape.operatingSystem);
    }
    system.os_version = text(shape.osVersion);
    system.os_build = text(shape.osBuild);
    system.architecture = static_cast<Dzcrash__Architecture>(shape.architecture);
    system.timestamp = shape.timestamp;
    report.system_info = &system;

    auto& app = make<Dzcrash__CrashReport__ApplicationInfo>();
    dzcrash__crash_report__application_info__init(&app);
    app.identifier = text(shape.appIdentifier);
    app.version = text(shape.appVersion);
    app.marketing_version = text(shape.appMarketingVersion);
    report.application_info = &app;

    auto& signal = make<Dzcrash__CrashReport__Signal>();
    dzcrash__crash_report__signal__init(&signal);
    signal.name = text(shape.signalName);
    signal.code = text(shape.signalCode);
    signal.address = shape.signalAddress;
    signal.crash_info_message = text(shape.crashInfoMessage);
    if (shape.mach) {
      auto& mach = make<Dzcrash__CrashReport__Signal__MachException>();
      dzcrash__crash_report__signal__mach_exception__init(&mach);
      mach.type = shape.mach->type;
      auto& codes = make<std::vector<uint64_t>>(shape.mach->codes);
      mach.n_codes = codes.size();
      mach.codes = codes.data();
      signal.mach_exception = &mach;
    }
    report.signal = &signal;

    if (shape.machine) {
      auto& machine = make<Dzcrash__CrashReport__MachineInfo>();
      dzcrash__crash_report__machine_info__init(&machine);
      machine.model = text(shape.machine->model);
      machine.processor = processor(shape.machine->processor);
      machine.processor_count = shape.machine->processorCount;
      machine.logical_processor_count = shape.machine->logicalProcessorCount;
      report.machine_info = &machine;
    }

    if (shape.process) {
      auto& process = make<Dzcrash__CrashReport__ProcessInfo>();
      dzcrash__crash_report__process_info__init(&process);
      process.process_name = text(shape.process->name);
      process.process_id = shape.process->pid;
      process.process_path = text(shape.process->path);
      process.parent_process_name = text(shape.process->parentName);
      process.parent_process_id = shape.process->parentPid;
      process.native = shape.process->native;
      if (shape.process->startTime) {
        process.has_start_time = 1;
        process.start_time = *shape.process->startTime;
      }
      report.process_info = &process;
    }

    if (shape.reportInfo) {
      auto& info = make<Dzcrash__CrashReport__ReportInfo>();
      dzcrash__crash_report__report_info__init(&info);
      info.user_requested = shape.reportInfo->userRequested;
      if (shape.reportInfo->uuid) {
        info.has_uuid = 1;
        info.uuid = bytes(*shape.reportInfo->uuid);
      }
      report.report_info = &info;
    }

    if (shape.exception) {
      auto& exception = make<Dzcrash__CrashReport__Exception>();
      dzcrash__crash_report__exception__init(&exception);
      exception.name = text(shape.exception->name);
      exception.reason = text(shape.exception->reason);
      frames(shape.exception->frames, exception.n_frames, exception.frames);
      report.exception = &exception;
    }

    if (shape.customData) {
      report.has_custom_data = 1;
      report.custom_data = bytes(*shape.customData);
    }

    auto& threads = make<std::vector<Dzcrash__CrashReport__Thread*>>();
    for (const ThreadShape& t : shape.threads) {
      auto& thread = make<Dzcrash__CrashReport__Thread>();
      dzcrash__crash_report__thread__init(&thread);
      thread.thread_number = t.number;
      thread.crashed = t.crashed;
      frames(t.frames, thread.n_frames, thread.frames);
      auto& registers = make<std::vector<Dzcrash__CrashReport__Thread__RegisterValue*>>();
      for (const auto& [name, value] : t.registers) {
        auto& reg = make<Dzcrash__CrashReport__Thread__RegisterValue>();
        dzcrash__crash_report__thread__register_value__init(&reg);
        reg.name = text(name);
        reg.value = value;
        registers.push_back(&reg);
      }
      thread.n_registers = registers.size();
      thread.registers = registers.data();
      threads.push_back(&thread);
    }
    report.n_threads = threads.size();
    report.threads = threads.data();

    auto& images = make<std::vector<Dzcrash__CrashReport__BinaryImage*>>();
    for (const ImageShape& i : shape.images) {
      auto& image = make<Dzcrash__CrashReport__BinaryImage>();
      dzcrash__crash_report__binary_image__init(&image);
      image.base_address = i.base;
      image.size = i.size;
      image.name = text(i.name);
      if (i.uuid) {
        image.has_uuid = 1;
        image.uuid = bytes(*i.uuid);
      }
      if (i.codeType) image.code_type = processor(*i.codeType);
      images.push_back(&image);
    }
    report.n_binary_images = images.size();
    report.binary_images = images.data();

    std::vector<uint8_t> out(dzcrash__crash_report__get_packed_size(&report));
    dzcrash__crash_report__pack(&report, out.data());
    return out;
  }

 private:
  template <class T, class... Args>
  T& make(Args&&... args) {
    auto* owned = new T(std::forward<Args>(args)...);
    owners_.emplace_back(owned, [](void* p) { delete static_cast<T*>(p); });
    return *owned;
  }

  char* text(const std::string& value) { return make<std::string>(value).data(); }
  char* text(const std::optional<std::string>& value) { return value ? text(*value) : nullptr; }

  ProtobufCBinaryData bytes(const std::vector<uint8_t>& value) {
    auto& copy = make<std::vector<uint8_t>>(value);
    return ProtobufCBinaryData{copy.size(), copy.data()};
  }

  Dzcrash__CrashReport__Processor* processor(const ProcessorShape& shape) {
    auto& cpu = make<Dzcrash__CrashReport__Processor>();
    dzcrash__crash_report__processor__init(&cpu);
    cpu.has_encoding = 1;
    cpu.encoding = static_cast<Dzcrash__CrashReport__Processor__TypeEncoding>(shape.encoding);
    cpu.type = shape.type;
    cpu.subtype = shape.subtype;
    return &cpu;
  }

  void frames(const std::vector<FrameShape>& shapes, size_t& count,
              Dzcrash__CrashReport__Thread__StackFrame**& out) {
    auto& list = make<std::vector<Dzcrash__CrashReport__Thread__StackFrame*>>();
    for (const FrameShape& f : shapes) {
      auto& frame = make<Dzcrash__CrashReport__Thread__StackFrame>();
      dzcrash__crash_report__thread__stack_frame__init(&frame);
      frame.pc = f.pc;
      if (f.symbol) {
        auto& symbol = make<Dzcrash__CrashReport__Symbol>();
        dzcrash__crash_report__symbol__init(&symbol);
        symbol.name = text(f.symbol->name);
        symbol.start_address = f.symbol->start;
        if (f.symbol->end) {
          symbol.has_end_address = 1;
          symbol.end_address = *f.symbol->end;
        }
        frame.symbol = &symbol;
      }
      list.push_back(&frame);
    }
    count = list.size();
    out = list.data();
  }

  std::deque<std::unique_ptr<void, void (*)(void*)>> owners_;
};

}  // namespace detail

// The serialised dzcrash.CrashReport alone.
inline std::vector<uint8_t> packReportMessage(const ReportShape& shape) {
  return detail::Packer().pack(shape);
}

// A whole report file: the "dzcrash" header, version 1, then the message.
inline std::vector<uint8_t> packReportFile(const ReportShape& shape) {
  std::vector<uint8_t> file = {'d', 'z', 'c', 'r', 'a', 's', 'h', 1};
  const std::vector<uint8_t> message = packReportMessage(shape);
  file.insert(file.end(), message.begin(), message.end());
  return file;
}

}  // namespace dzcrash::test
