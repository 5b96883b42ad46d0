#pragma once

// Crash report files built from plain values with protobuf-c's own packer, for the reader's,
// formatter's and tool's tests and the fuzz seeds. A spec starts as the smallest report the reader
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

struct ProcessorSpec {
  int encoding = DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
  uint64_t type = 0;
  uint64_t subtype = 0;
};

struct SymbolSpec {
  std::string name{};
  uint64_t start = 0;
  std::optional<uint64_t> end{};
};

struct FrameSpec {
  uint64_t pc = 0;
  std::optional<SymbolSpec> symbol{};
};

struct ThreadSpec {
  uint32_t number = 0;
  bool crashed = false;
  std::vector<FrameSpec> frames{};
  std::vector<std::pair<std::string, uint64_t>> registers{};
};

struct ImageSpec {
  uint64_t base = 0;
  uint64_t size = 0;
  std::string name{};
  std::optional<std::vector<uint8_t>> uuid{};
  std::optional<ProcessorSpec> codeType{};
};

struct MachineSpec {
  std::optional<std::string> model{};
  ProcessorSpec processor;
  uint32_t processorCount = 4;
  uint32_t logicalProcessorCount = 8;
};

struct ProcessSpec {
  std::optional<std::string> name{};
  uint32_t pid = 0;
  std::optional<std::string> path{};
  std::optional<std::string> parentName{};
  uint32_t parentPid = 0;
  bool native = true;
  std::optional<uint64_t> startTime{};
};

struct MachSpec {
  uint64_t type = 0;
  std::vector<uint64_t> codes{};
};

struct ExceptionSpec {
  std::string name{};
  std::string reason{};
  std::vector<FrameSpec> frames{};
};

struct ReportInfoSpec {
  bool userRequested = false;
  std::optional<std::vector<uint8_t>> uuid{};
};

struct ReportSpec {
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
  std::optional<MachSpec> mach{};
  std::optional<MachineSpec> machine{};
  std::optional<ProcessSpec> process{};
  std::optional<ReportInfoSpec> reportInfo{};
  std::optional<ExceptionSpec> exception{};
  std::optional<std::vector<uint8_t>> customData{};
  std::vector<ThreadSpec> threads = {ThreadSpec{.number = 0, .crashed = true}};
  std::vector<ImageSpec> images = {ImageSpec{.base = 0x400000, .size = 0x1000, .name = "/usr/bin/quorvelle"}};
};

namespace detail {

// Owns every C structure of one packing; the structures point into each other and into the strings.
class Packer {
 public:
  std::vector<uint8_t> pack(const ReportSpec& spec) {
    Dzcrash__CrashReport report = DZCRASH__CRASH_REPORT__INIT;

    auto& system = make<Dzcrash__CrashReport__SystemInfo>();
    dzcrash__crash_report__system_info__init(&system);
    if (spec.operatingSystem) {
      system.has_operating_system = 1;
      system.operating_system =
          static_cast<Dzcrash__CrashReport__SystemInfo__OperatingSystem>(*spec.operatingSystem);
    }
    system.os_version = text(spec.osVersion);
    system.os_build = text(spec.osBuild);
    system.architecture = static_cast<Dzcrash__Architecture>(spec.architecture);
    system.timestamp = spec.timestamp;
    report.system_info = &system;

    auto& app = make<Dzcrash__CrashReport__ApplicationInfo>();
    dzcrash__crash_report__application_info__init(&app);
    app.identifier = text(spec.appIdentifier);
    app.version = text(spec.appVersion);
    app.marketing_version = text(spec.appMarketingVersion);
    report.application_info = &app;

    auto& signal = make<Dzcrash__CrashReport__Signal>();
    dzcrash__crash_report__signal__init(&signal);
    signal.name = text(spec.signalName);
    signal.code = text(spec.signalCode);
    signal.address = spec.signalAddress;
    signal.crash_info_message = text(spec.crashInfoMessage);
    if (spec.mach) {
      auto& mach = make<Dzcrash__CrashReport__Signal__MachException>();
      dzcrash__crash_report__signal__mach_exception__init(&mach);
      mach.type = spec.mach->type;
      auto& codes = make<std::vector<uint64_t>>(spec.mach->codes);
      mach.n_codes = codes.size();
      mach.codes = codes.data();
      signal.mach_exception = &mach;
    }
    report.signal = &signal;

    if (spec.machine) {
      auto& machine = make<Dzcrash__CrashReport__MachineInfo>();
      dzcrash__crash_report__machine_info__init(&machine);
      machine.model = text(spec.machine->model);
      machine.processor = processor(spec.machine->processor);
      machine.processor_count = spec.machine->processorCount;
      machine.logical_processor_count = spec.machine->logicalProcessorCount;
      report.machine_info = &machine;
    }

    if (spec.process) {
      auto& process = make<Dzcrash__CrashReport__ProcessInfo>();
      dzcrash__crash_report__process_info__init(&process);
      process.process_name = text(spec.process->name);
      process.process_id = spec.process->pid;
      process.process_path = text(spec.process->path);
      process.parent_process_name = text(spec.process->parentName);
      process.parent_process_id = spec.process->parentPid;
      process.native = spec.process->native;
      if (spec.process->startTime) {
        process.has_start_time = 1;
        process.start_time = *spec.process->startTime;
      }
      report.process_info = &process;
    }

    if (spec.reportInfo) {
      auto& info = make<Dzcrash__CrashReport__ReportInfo>();
      dzcrash__crash_report__report_info__init(&info);
      info.user_requested = spec.reportInfo->userRequested;
      if (spec.reportInfo->uuid) {
        info.has_uuid = 1;
        info.uuid = bytes(*spec.reportInfo->uuid);
      }
      report.report_info = &info;
    }

    if (spec.exception) {
      auto& exception = make<Dzcrash__CrashReport__Exception>();
      dzcrash__crash_report__exception__init(&exception);
      exception.name = text(spec.exception->name);
      exception.reason = text(spec.exception->reason);
      frames(spec.exception->frames, exception.n_frames, exception.frames);
      report.exception = &exception;
    }

    if (spec.customData) {
      report.has_custom_data = 1;
      report.custom_data = bytes(*spec.customData);
    }

    auto& threads = make<std::vector<Dzcrash__CrashReport__Thread*>>();
    for (const ThreadSpec& t : spec.threads) {
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
    for (const ImageSpec& i : spec.images) {
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

  Dzcrash__CrashReport__Processor* processor(const ProcessorSpec& spec) {
    auto& cpu = make<Dzcrash__CrashReport__Processor>();
    dzcrash__crash_report__processor__init(&cpu);
    cpu.has_encoding = 1;
    cpu.encoding = static_cast<Dzcrash__CrashReport__Processor__TypeEncoding>(spec.encoding);
    cpu.type = spec.type;
    cpu.subtype = spec.subtype;
    return &cpu;
  }

  void frames(const std::vector<FrameSpec>& specs, size_t& count,
              Dzcrash__CrashReport__Thread__StackFrame**& out) {
    auto& list = make<std::vector<Dzcrash__CrashReport__Thread__StackFrame*>>();
    for (const FrameSpec& f : specs) {
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
inline std::vector<uint8_t> packReportMessage(const ReportSpec& spec) {
  return detail::Packer().pack(spec);
}

// A whole report file: the "dzcrash" header, version 1, then the message.
inline std::vector<uint8_t> packReportFile(const ReportSpec& spec) {
  std::vector<uint8_t> file = {'d', 'z', 'c', 'r', 'a', 's', 'h', 1};
  const std::vector<uint8_t> message = packReportMessage(spec);
  file.insert(file.end(), message.begin(), message.end());
  return file;
}

}  // namespace dzcrash::test
