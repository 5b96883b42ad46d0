#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DZCrashReporter/capture/DZCrashProcessInfo.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncImageParser.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"
#include "DZCrashReporter/report/DZCrashLogWriter.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "DZCrashReporter/report/DZCrashReport.pb-c.h"
#include "platform/ThreadCaptureSignal.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "tests/DZCrashReporter/DecodedReport.h"
#include "tests/DZCrashReporter/MemoryReportFile.h"
#include "tests/DZCrashReporter/ReportMessage.h"
#include "tests/DZCrashReporter/WaitingThreads.h"
#include "tests/support/CaseName.h"

using namespace dzcrash;
using namespace dzcrash::test;

// Functions the report must name: each waits in a different way until a byte arrives on its pipe. They
// are exported (see tests/CMakeLists.txt) and stay out of line.
extern "C" __attribute__((noinline)) int dz_test_parked_in_read(int fd, std::atomic<int>* running) {
  running->fetch_add(1);
  char c = 0;
  const ssize_t n = read(fd, &c, 1);
  return n == 1 ? c : -1;
}

extern "C" __attribute__((noinline)) int dz_test_parked_in_poll(int fd, std::atomic<int>* running) {
  running->fetch_add(1);
  pollfd request = {fd, POLLIN, 0};
  int ready = 0;
  do {
    ready = poll(&request, 1, -1);
  } while (ready < 0 && errno == EINTR);
  char c = 0;
  return ready == 1 && read(fd, &c, 1) == 1 ? c : -1;
}

extern "C" __attribute__((noinline)) int dz_test_parked_in_epoll(int fd, std::atomic<int>* running) {
  const int poller = epoll_create1(EPOLL_CLOEXEC);
  epoll_event interest = {};
  interest.events = EPOLLIN;
  epoll_ctl(poller, EPOLL_CTL_ADD, fd, &interest);
  running->fetch_add(1);
  epoll_event event = {};
  int ready = 0;
  do {
    ready = epoll_wait(poller, &event, 1, -1);
  } while (ready < 0 && errno == EINTR);
  close(poller);
  char c = 0;
  return ready == 1 && read(fd, &c, 1) == 1 ? c : -1;
}

extern "C" __attribute__((noinline)) int dz_test_parked_with_capture_blocked(int fd,
                                                                             std::atomic<int>* running) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, platform::threadCaptureSignal());
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return dz_test_parked_in_read(fd, running);
}

namespace {

// What one write is asked to do.
struct WriteRequest {
  dzcrash_log_writer_t* writer;
  dzcrash_async_image_list* images;
  dzcrash_async_file_t* file;
  dzcrash_log_signal_info_t siginfo;
  std::jmp_buf* escape;
};

// Runs as the capture's callback: the calling thread is the crashed one, with its captured state.
dzcrash_error_t writeFromHere(dzcrash_async_thread_state* state, void* context) {
  auto* request = static_cast<WriteRequest*>(context);
  const dzcrash_error_t result = DZcrash_log_writer_write(
      request->writer, DZ_mach_thread_self(), request->images, request->file, &request->siginfo, state);
  if (request->escape != nullptr) std::longjmp(*request->escape, 1);
  return result;
}

}  // namespace

extern "C" __attribute__((noinline)) int dz_test_recurse(int depth, WriteRequest* request) {
  if (depth == 0) return DZcrash_async_thread_state_current(writeFromHere, request);
  // Read after the call, so that the recursion stays a chain of real frames.
  volatile int keep = depth;
  const int result = dz_test_recurse(depth - 1, request);
  return result + keep - keep;
}

#if defined(__x86_64__)
// Calls fn(arg) as its last instruction: the return address is the first byte of dz_test_after_call.
extern "C" void dz_test_ends_in_call(void (*fn)(void*), void* arg);
extern "C" char dz_test_after_call[];
__asm__(R"(
  .pushsection .text
  .globl dz_test_ends_in_call
  .type dz_test_ends_in_call, @function
dz_test_ends_in_call:
  pushq %rbp
  movq %rsp, %rbp
  movq %rdi, %rax
  movq %rsi, %rdi
  callq *%rax
  .size dz_test_ends_in_call, .-dz_test_ends_in_call
  .globl dz_test_after_call
  .type dz_test_after_call, @function
dz_test_after_call:
  ud2
  .size dz_test_after_call, .-dz_test_after_call
  .popsection
)");
#endif

namespace {

// The images as the dynamic linker describes them, read here without the crash reporter's readers.
struct OracleImage {
  uint64_t size = 0;
  std::string name;
  std::string buildId;
};

int collectImage(dl_phdr_info* info, size_t, void* data) {
  auto* out = static_cast<std::map<uint64_t, OracleImage>*>(data);
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  std::optional<uint64_t> header;
  uint64_t textEnd = 0;
  OracleImage image;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    const uint64_t at = info->dlpi_addr + ph.p_vaddr;
    if (ph.p_type == PT_LOAD && ph.p_offset == 0) header = at;
    if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X) != 0)
      textEnd = std::max(textEnd, (at + ph.p_memsz + page - 1) & ~(page - 1));
    if (ph.p_type == PT_NOTE && image.buildId.empty()) {
      for (uint64_t offset = 0; offset + sizeof(ElfW(Nhdr)) <= ph.p_memsz;) {
        const auto* note = reinterpret_cast<const ElfW(Nhdr)*>(at + offset);
        const uint64_t name = offset + sizeof(*note);
        const uint64_t desc = name + ((note->n_namesz + 3) & ~3u);
        if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 &&
            std::string(reinterpret_cast<const char*>(at + name)) == "GNU") {
          for (uint32_t b = 0; b < note->n_descsz; ++b) {
            char hex[3];
            std::snprintf(hex, sizeof(hex), "%02x", reinterpret_cast<const uint8_t*>(at + desc)[b]);
            image.buildId += hex;
          }
        }
        offset = desc + ((note->n_descsz + 3) & ~3u);
      }
    }
  }
  if (!header) return 0;
  image.size = textEnd - *header;
  image.name = info->dlpi_name != nullptr && info->dlpi_name[0] != '\0'
                   ? info->dlpi_name
                   : std::filesystem::read_symlink("/proc/self/exe").string();
  (*out)[*header] = image;
  return 0;
}

std::map<uint64_t, OracleImage> loadedImages() {
  std::map<uint64_t, OracleImage> images;
  dl_iterate_phdr(collectImage, &images);
  return images;
}

// The top-level fields of a report file in order: number, where the entry (its tag) starts, and where
// the value starts and ends.
struct TopLevelField {
  uint32_t field;
  size_t head;
  size_t start;
  size_t end;
};

std::vector<TopLevelField> topLevelFields(const std::vector<uint8_t>& bytes) {
  std::vector<TopLevelField> fields;
  size_t at = 8;
  auto varint = [&]() {
    uint64_t value = 0;
    for (int shift = 0; at < bytes.size(); shift += 7) {
      const uint8_t byte = bytes[at++];
      value |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) break;
    }
    return value;
  };
  while (at < bytes.size()) {
    const size_t head = at;
    const uint64_t tag = varint();
    EXPECT_EQ(tag & 7, 2u) << "every top-level field is length-delimited";
    const uint64_t length = varint();
    fields.push_back({static_cast<uint32_t>(tag >> 3), head, at, at + length});
    at += length;
  }
  return fields;
}

// The bytes of the first top-level field `field` (tag and length excluded).
std::vector<uint8_t> topLevelField(const std::vector<uint8_t>& bytes, uint32_t field) {
  for (const TopLevelField& f : topLevelFields(bytes)) {
    if (f.field == field)
      return {bytes.begin() + static_cast<long>(f.start), bytes.begin() + static_cast<long>(f.end)};
  }
  return {};
}

class LiveReport : public ::testing::Test {
 protected:
  void SetUp() override {
    const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
    ASSERT_TRUE(DZcrash_nasync_image_list_init(&images_, DZcrash_async_task_self(), &parser));
    listReady_ = true;
    DZcrash_nasync_image_list_add_loaded(&images_);
    ASSERT_EQ(initWriter(DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL), DZCRASH_OK);
  }
  void TearDown() override {
    if (writerReady_) DZcrash_log_writer_free(&writer_);
    if (listReady_) DZcrash_nasync_image_list_free(&images_);
  }

  dzcrash_error_t initWriter(uint32_t strategy) {
    if (writerReady_) DZcrash_log_writer_free(&writer_);
    writerReady_ = true;
    return DZcrash_log_writer_init(&writer_, "com.quorvelle.tests", "42", "1.2", strategy, true);
  }

  // Writes a report of this process from the calling thread, which is reported as the crashed one.
  std::vector<uint8_t> write(uint64_t limit = 0, dzcrash_async_image_list* images = nullptr,
                             const dzcrash_log_bsd_signal_info_t& bsd = {SIGTRAP, TRAP_BRKPT, 0},
                             const dzcrash_log_mach_signal_info_t* mach = nullptr) {
    MemoryReportFile out(limit);
    WriteRequest request = {
        &writer_, images != nullptr ? images : &images_, out.file(), {&bsd, mach}, nullptr};
    EXPECT_EQ(DZcrash_async_thread_state_current(writeFromHere, &request), DZCRASH_OK);
    return out.bytes();
  }

  dzcrash_async_image_list images_{};
  dzcrash_log_writer_t writer_;
  bool listReady_ = false;
  bool writerReady_ = false;
};

}  // namespace

TEST_F(LiveReport, RecordsTheProcessItsThreadsAndItsImages) {
  WaitingThreads threads({dz_test_parked_in_read, dz_test_parked_in_poll, dz_test_parked_in_epoll});
  const std::vector<pid_t> listed = processThreads();
  const std::vector<uint8_t> bytes = write();
  EXPECT_EQ(threads.releaseAll('k'), (std::vector<int>{'k', 'k', 'k'}));
  const DZCrashReport report = decode(bytes);

  ASSERT_TRUE(report.hasProcessInfo());
  const DZCrashReportProcessInfo& process = *report.processInfo();
  const auto self = DZCrashProcessInfo::currentProcessInfo();
  EXPECT_EQ(process.processID(), static_cast<uint64_t>(getpid()));
  EXPECT_EQ(process.parentProcessID(), static_cast<uint64_t>(getppid()));
  EXPECT_EQ(process.processPath(), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(process.processName(), self->processName());
  EXPECT_EQ(process.parentProcessName(), DZCrashProcessInfo::forProcess(getppid())->processName());
  ASSERT_TRUE(process.processStartTime().has_value());
  EXPECT_EQ(process.processStartTime()->time_since_epoch().count(), self->startTime().tv_sec);
  EXPECT_TRUE(process.native());

  ASSERT_TRUE(report.hasMachineInfo());
  const DZCrashReportMachineInfo& machine = *report.machineInfo();
  EXPECT_EQ(machine.processorInfo(),
            DZCrashReportProcessorInfo(DZCrashReportProcessorTypeEncodingMach, 0x1000007, 3));
  EXPECT_EQ(machine.logicalProcessorCount(), static_cast<uint64_t>(sysconf(_SC_NPROCESSORS_CONF)));
  EXPECT_GE(machine.processorCount(), 1u);
  EXPECT_LE(machine.processorCount(), machine.logicalProcessorCount());
  std::string model;
  std::getline(std::ifstream("/sys/class/dmi/id/product_name"), model);
  EXPECT_EQ(machine.modelName().value_or(""), model);

  utsname names;
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(report.systemInfo().operatingSystemBuild(), std::string(names.release));
  EXPECT_EQ(std::string(names.release).rfind(report.systemInfo().operatingSystemVersion(), 0), 0u);
  EXPECT_EQ(report.applicationInfo().applicationIdentifier(), "com.quorvelle.tests");
  EXPECT_EQ(report.applicationInfo().applicationMarketingVersion(), "1.2");
  ASSERT_TRUE(report.uuidRef().has_value());
  EXPECT_NE(*report.uuidRef(), (std::array<uint8_t, 16>{}));
  EXPECT_EQ(report.signalInfo().name(), "SIGTRAP");
  EXPECT_EQ(report.signalInfo().code(), "TRAP_BRKPT");

  // One thread per /proc/self/task entry, numbered in order; only the crashed one has registers.
  ASSERT_EQ(report.threads().size(), listed.size());
  size_t crashed = 0;
  for (size_t i = 0; i < report.threads().size(); ++i) {
    const DZCrashReportThreadInfo& thread = report.threads()[i];
    EXPECT_EQ(thread.threadNumber(), static_cast<int64_t>(i));
    EXPECT_FALSE(thread.stackFrames().empty()) << "thread " << i;
    if (!thread.crashed()) {
      EXPECT_TRUE(thread.registers().empty()) << "thread " << i;
      continue;
    }
    ++crashed;
    ASSERT_EQ(thread.registers().size(), 21u);
    EXPECT_EQ(thread.registers()[0].registerName(), "rip");
    EXPECT_EQ(thread.registers()[0].registerValue(), thread.stackFrames()[0].instructionPointer());
    EXPECT_EQ(thread.registers()[20].registerName(), "gs");
  }
  EXPECT_EQ(crashed, 1u);
  for (const char* function :
       {"dz_test_parked_in_read", "dz_test_parked_in_poll", "dz_test_parked_in_epoll"}) {
    size_t naming = 0;
    for (const auto& thread : report.threads()) naming += symbolsOf(thread).count(function);
    EXPECT_EQ(naming, 1u) << function;
  }

  // The images are the dynamic linker's objects, with their code extent and build id.
  const std::map<uint64_t, OracleImage> oracle = loadedImages();
  EXPECT_EQ(report.images().size(), oracle.size());
  for (const auto& image : report.images()) {
    const auto found = oracle.find(image.imageBaseAddress());
    ASSERT_NE(found, oracle.end()) << image.imageName();
    EXPECT_EQ(image.imageName(), found->second.name);
    EXPECT_EQ(image.imageSize(), found->second.size) << image.imageName();
    EXPECT_EQ(image.imageUUID().value_or(""), found->second.buildId) << image.imageName();
    ASSERT_TRUE(image.codeType().has_value());
    EXPECT_EQ(*image.codeType(),
              DZCrashReportProcessorInfo(DZCrashReportProcessorTypeEncodingMach, 0x1000007, 3));
  }
}

TEST_F(LiveReport, CutsADeepStackAt512Frames) {
  MemoryReportFile out;
  const dzcrash_log_bsd_signal_info_t bsd = {SIGSEGV, SEGV_MAPERR, 0x10};
  WriteRequest request = {&writer_, &images_, out.file(), {&bsd, nullptr}, nullptr};
  ASSERT_EQ(dz_test_recurse(1000, &request), DZCRASH_OK);
  const DZCrashReport report = decode(out.bytes());
  const DZCrashReportThreadInfo* crashed = nullptr;
  for (const auto& thread : report.threads()) {
    if (thread.crashed()) crashed = &thread;
  }
  ASSERT_NE(crashed, nullptr);
  ASSERT_EQ(crashed->stackFrames().size(), 512u);
  for (size_t i = 1; i < crashed->stackFrames().size(); ++i) {
    const auto& symbol = crashed->stackFrames()[i].symbolInfo();
    ASSERT_TRUE(symbol.has_value()) << "frame " << i;
    EXPECT_EQ(symbol->symbolName(), "dz_test_recurse") << "frame " << i;
  }
}

TEST_F(LiveReport, WithoutSymbolicationNoFrameHasASymbol) {
  ASSERT_EQ(initWriter(DZCRASH_ASYNC_SYMBOL_STRATEGY_NONE), DZCRASH_OK);
  WaitingThreads threads({dz_test_parked_in_read});
  const DZCrashReport report = decode(write());
  threads.releaseAll();
  for (const auto& thread : report.threads()) {
    EXPECT_FALSE(thread.stackFrames().empty());
    EXPECT_TRUE(symbolsOf(thread).empty());
  }
}

TEST_F(LiveReport, AThreadThatBlocksTheCaptureSignalGetsNumberAndFlagOnly) {
  WaitingThreads threads({dz_test_parked_in_read, dz_test_parked_with_capture_blocked});
  const auto start = std::chrono::steady_clock::now();
  const std::vector<uint8_t> bytes = write();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(threads.releaseAll('k'), (std::vector<int>{'k', 'k'}));
  // A loose bound that only a wait without end would break.
  EXPECT_LT(took, std::chrono::seconds(5));

  const DZCrashReport report = decode(bytes);
  ASSERT_EQ(report.threads().size(), processThreads().size() + 2);
  size_t bare = 0;
  for (const auto& thread : report.threads()) {
    if (thread.stackFrames().empty()) {
      ++bare;
      EXPECT_FALSE(thread.crashed());
      EXPECT_TRUE(thread.registers().empty());
    }
  }
  EXPECT_EQ(bare, 1u);
}

TEST_F(LiveReport, LeavesOutCustomDataThatWouldPassTheLimit) {
  const std::vector<uint8_t> plain = write();
  const std::vector<uint8_t> big(64 * 1024, 0xAB);
  ASSERT_TRUE(DZcrash_log_writer_set_custom_data(&writer_, big.data(), big.size()));
  // Room for everything but the custom data.
  const std::vector<uint8_t> capped = write(plain.size() + 512);
  EXPECT_LE(capped.size(), plain.size() + 512);
  const DZCrashReport report = decode(capped);
  EXPECT_FALSE(report.customData().has_value());
  EXPECT_EQ(report.threads().size(), decode(plain).threads().size());
  EXPECT_EQ(report.images().size(), decode(plain).images().size());

  // With room, it is written whole.
  EXPECT_EQ(decode(write()).customData(), big);
}

TEST_F(LiveReport, LeavesOutSurplusThreadsButKeepsTheCrashedOneAndTheImages) {
  WaitingThreads threads(std::vector<WaitingFunction>(12, dz_test_parked_in_read));
  // Written from a thread started last, so that the crashed thread comes last in the task list.
  std::vector<uint8_t> plain;
  std::thread([&] { plain = write(); }).join();
  const DZCrashReport full = decode(plain);
  const size_t allThreads = full.threads().size();

  // Room for the sections before the threads, half of the threads' bytes, one image and the signal.
  size_t threadBytes = 0;
  size_t threadsEnd = 0;
  size_t smallestImage = SIZE_MAX;
  size_t signalBytes = 0;
  for (const TopLevelField& f : topLevelFields(plain)) {
    const size_t entry = f.end - f.head;
    if (f.field == 3) {
      threadBytes += entry;
      threadsEnd = f.end;
    }
    if (f.field == 4) smallestImage = std::min(smallestImage, entry);
    if (f.field == 6) signalBytes = entry;
  }
  const uint64_t limit = threadsEnd - threadBytes / 2 + smallestImage + signalBytes;
  std::vector<uint8_t> capped;
  std::thread([&] { capped = write(limit); }).join();
  threads.releaseAll();
  EXPECT_LE(capped.size(), limit);
  const DZCrashReport report = decode(capped);
  EXPECT_LT(report.threads().size(), allThreads);
  EXPECT_GT(report.threads().size(), 0u);
  const DZCrashReportThreadInfo& last = report.threads().back();
  EXPECT_TRUE(last.crashed());
  EXPECT_EQ(last.registers().size(), 21u);
  for (size_t i = 0; i < report.threads().size(); ++i)
    EXPECT_EQ(report.threads()[i].threadNumber(), static_cast<int64_t>(i));
  EXPECT_FALSE(report.images().empty());
  EXPECT_EQ(report.signalInfo().name(), "SIGTRAP");
}

namespace {

struct SignalCase {
  std::string name;
  dzcrash_log_bsd_signal_info_t bsd;
  std::vector<uint64_t> machCodes;
  std::string signalName;
  std::string codeName;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << c.name;
}

const SignalCase kSignalCases[] = {
    {"segmentation fault with Mach codes", {SIGSEGV, SEGV_MAPERR, 0x10}, {1, 0x10}, "SIGSEGV", "SEGV_MAPERR"},
    {"unknown signal and code", {77, 99, 0}, {}, "#77", "#99"},
    {"negative code", {SIGABRT, -42, 0}, {}, "SIGABRT", "#-42"},
};

class ReportSignal : public LiveReport, public ::testing::WithParamInterface<SignalCase> {};

}  // namespace

// The section the writer encodes field by field equals protobuf-c's packing of the decoded message.
TEST_P(ReportSignal, SectionEqualsProtobufCsOwnPacking) {
  const SignalCase& c = GetParam();
  // An image list holding a Mach-O image with a crash-information message.
  std::string error;
  auto fixture = DZCrashMachOFile::load(QUORVELLE_SOURCE_DIR "/tests/fixtures/macho/x86_64/fx_exe",
                                        DZCrashMachOFile::kAtTextVmaddr, &error);
  ASSERT_NE(fixture, nullptr) << error;
  dzcrash_async_image_list machoList{};
  const dzcrash_image_parser parser = DZcrash_image_parser_by_magic();
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&machoList, fixture->task(), &parser));
  DZcrash_nasync_image_list_append(&machoList, fixture->headerAddress(), "fx_exe");

  const dzcrash_log_mach_signal_info_t mach = {1, c.machCodes.data(), c.machCodes.size()};
  const std::vector<uint8_t> bytes = write(0, &machoList, c.bsd, c.machCodes.empty() ? nullptr : &mach);
  DZcrash_nasync_image_list_free(&machoList);

  const ReportMessage message = unpack(bytes);
  ASSERT_NE(message, nullptr);
  ASSERT_NE(message->signal, nullptr);
  std::vector<uint8_t> packed(protobuf_c_message_get_packed_size(&message->signal->base));
  protobuf_c_message_pack(&message->signal->base, packed.data());
  EXPECT_EQ(topLevelField(bytes, 6), packed);

  EXPECT_STREQ(message->signal->name, c.signalName.c_str());
  EXPECT_STREQ(message->signal->code, c.codeName.c_str());
  EXPECT_EQ(message->signal->address, c.bsd.address);
  EXPECT_STREQ(message->signal->crash_info_message, "fixture message");
  if (c.machCodes.empty()) {
    EXPECT_EQ(message->signal->mach_exception, nullptr);
  } else {
    ASSERT_NE(message->signal->mach_exception, nullptr);
    EXPECT_EQ(std::vector<uint64_t>(
                  message->signal->mach_exception->codes,
                  message->signal->mach_exception->codes + message->signal->mach_exception->n_codes),
              c.machCodes);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportSignal, ::testing::ValuesIn(kSignalCases),
                         quorvelle::test::NamedCase());

TEST_F(LiveReport, WritesTheUncaughtExceptionOnce) {
  const uint64_t stack[] = {reinterpret_cast<uint64_t>(&dz_test_parked_in_poll) + 8,
                            reinterpret_cast<uint64_t>(&dz_test_recurse) + 4};
  ASSERT_EQ(DZcrash_log_writer_set_exception(&writer_, "std::runtime_error", nullptr, stack, 2), DZCRASH_OK);
  EXPECT_EQ(DZcrash_log_writer_set_exception(&writer_, "second", "ignored", nullptr, 0),
            DZCRASH_INVALID_ARGUMENT);
  const DZCrashReport report = decode(write());
  ASSERT_TRUE(report.hasExceptionInfo());
  EXPECT_EQ(report.exceptionInfo()->exceptionName(), "std::runtime_error");
  EXPECT_EQ(report.exceptionInfo()->exceptionReason(), "");
  ASSERT_TRUE(report.exceptionInfo()->stackFrames().has_value());
  const auto& frames = *report.exceptionInfo()->stackFrames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].instructionPointer(), stack[0]);
  EXPECT_EQ(frames[0].symbolInfo()->symbolName(), "dz_test_parked_in_poll");
  EXPECT_EQ(frames[1].symbolInfo()->symbolName(), "dz_test_recurse");
}

TEST_F(LiveReport, CustomDataIsOneWholeValueWhileItIsReplaced) {
  std::atomic<bool> stop{false};
  // Value n is n bytes, each n: a torn or freed value shows as a wrong length or a mixed byte. The
  // replacer stays out of the writes' thread capture, so that it goes on replacing while each write
  // reads the value (a value freed meanwhile is a use after free that AddressSanitizer reports).
  std::thread replacer([&] {
    sigset_t capture;
    sigemptyset(&capture);
    sigaddset(&capture, platform::threadCaptureSignal());
    pthread_sigmask(SIG_BLOCK, &capture, nullptr);
    for (uint8_t n = 1; !stop.load(); n = static_cast<uint8_t>(n % 200 + 1)) {
      const std::vector<uint8_t> value(n, n);
      DZcrash_log_writer_set_custom_data(&writer_, value.data(), value.size());
    }
  });
  for (int i = 0; i < 20; ++i) {
    const auto data = decode(write()).customData();
    if (!data) continue;
    ASSERT_FALSE(data->empty());
    EXPECT_EQ(data->size(), static_cast<size_t>((*data)[0]));
    EXPECT_EQ(std::count(data->begin(), data->end(), (*data)[0]), static_cast<long>(data->size()));
  }
  stop.store(true);
  replacer.join();
  DZcrash_log_writer_set_custom_data(&writer_, nullptr, 0);
  EXPECT_FALSE(decode(write()).customData().has_value());
}

TEST_F(LiveReport, ThePlatformsWorkerThreadsAnswerTheCapture) {
  platform::ThreadSerialQueue queue("dz-report-queue");
  platform::CurlHttpClient http;
  queue.sync([] {});
  const DZCrashReport report = decode(write());
  for (const auto& thread : report.threads()) {
    EXPECT_FALSE(thread.stackFrames().empty()) << "thread " << thread.threadNumber();
  }
  EXPECT_EQ(report.threads().size(), processThreads().size());
}

TEST_F(LiveReport, FindsAndUnwindsImagesLoadedAfterTheListWasFilled) {
  void* library = dlopen(DZCRASH_TEST_LATE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto wait = reinterpret_cast<WaitingFunction>(dlsym(library, "dz_late_wait"));
  ASSERT_NE(wait, nullptr);
  {
    WaitingThreads threads({wait});
    const DZCrashReport report = decode(write());
    threads.releaseAll();

    const std::map<uint64_t, OracleImage> oracle = loadedImages();
    const DZCrashReportBinaryImageInfo* late = nullptr;
    for (const auto& image : report.images()) {
      if (image.imageName().find("dzcrash_test_late") != std::string::npos) late = &image;
    }
    ASSERT_NE(late, nullptr);
    ASSERT_EQ(oracle.count(late->imageBaseAddress()), 1u);
    EXPECT_EQ(late->imageSize(), oracle.at(late->imageBaseAddress()).size);
    EXPECT_EQ(late->imageUUID().value_or(""), oracle.at(late->imageBaseAddress()).buildId);
    EXPECT_EQ(report.images().size(), oracle.size());
    size_t naming = 0;
    for (const auto& thread : report.threads()) naming += symbolsOf(thread).count("dz_late_wait");
    EXPECT_EQ(naming, 1u);
  }
  dlclose(library);
}

// A list that was never filled (a live report before the reporter is enabled) leaves every image to
// the write's own search; the walk still unwinds through their tables instead of skipping frames.
TEST_F(LiveReport, UnwindsThroughImagesFoundOnlyAtWriteTime) {
  WaitingThreads threads({dz_test_parked_in_read});
  dzcrash_async_image_list unfilled{};
  const DZCrashReport report = decode(write(0, &unfilled));
  threads.releaseAll();
  size_t naming = 0;
  for (const auto& thread : report.threads()) naming += symbolsOf(thread).count("dz_test_parked_in_read");
  EXPECT_EQ(naming, 1u);
}

// The crash path writes on an alternate signal stack of 64 KiB plus the system's minimum; a write with
// every reader and symbols on fits in that.
TEST_F(LiveReport, AWriteFitsTheAlternateSignalStack) {
  WaitingThreads threads({dz_test_parked_in_read, dz_test_parked_in_poll});
  size_t size = 64 * 1024 + static_cast<size_t>(sysconf(_SC_MINSIGSTKSZ));
#if defined(__SANITIZE_ADDRESS__)
  // Instrumented frames carry red zones.
  size *= 4;
#endif
  // This process's threads and the one that writes.
  const size_t expected = processThreads().size() + 1;
  std::vector<uint8_t> bytes;
  std::function<void()> run = [&] { bytes = write(); };
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, size), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void* context) -> void* {
                  (*static_cast<std::function<void()>*>(context))();
                  return nullptr;
                },
                &run),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  threads.releaseAll();
  const DZCrashReport report = decode(bytes);
  EXPECT_EQ(report.threads().size(), expected);
  for (const auto& thread : report.threads()) EXPECT_FALSE(thread.stackFrames().empty());
}

#if defined(__x86_64__)
namespace {
std::jmp_buf gEscape;
void captureAndLeave(void* request) {
  DZcrash_async_thread_state_current(writeFromHere, request);
  // Code after the call keeps it a call (no tail jump), so that this function is the walk's first frame.
  __asm__ volatile("" ::: "memory");
}
}  // namespace

// A call that ends its function returns to the next function's first byte; the frame is still named
// after the function that made the call.
TEST_F(LiveReport, ACallThatEndsItsFunctionNamesTheCaller) {
  MemoryReportFile out;
  const dzcrash_log_bsd_signal_info_t bsd = {SIGTRAP, TRAP_BRKPT, 0};
  static WriteRequest request;
  request = {&writer_, &images_, out.file(), {&bsd, nullptr}, &gEscape};
  if (setjmp(gEscape) == 0) {
    dz_test_ends_in_call(captureAndLeave, &request);
    FAIL() << "returned into a function that cannot return";
  }
  const DZCrashReport report = decode(out.bytes());
  const uint64_t afterCall = reinterpret_cast<uint64_t>(dz_test_after_call);
  bool seen = false;
  for (const auto& thread : report.threads()) {
    for (const auto& frame : thread.stackFrames()) {
      if (frame.instructionPointer() != afterCall) continue;
      seen = true;
      ASSERT_TRUE(frame.symbolInfo().has_value());
      EXPECT_EQ(frame.symbolInfo()->symbolName(), "dz_test_ends_in_call");
    }
  }
  EXPECT_TRUE(seen);
}
#endif
