// The text a real crash's report gives the "$exception" event: bytes the crashed process had that are
// not UTF-8 (an exception message, the folder a library lies in), and an assert's message.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "DZCrashReporter/DZCrashReporter.h"
#include "DZCrashReporter/report/DZCrashReport.h"
#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/core/JsonUtils.h"
#include "DiziZoz/errortracking/DiziZozCrashReportProcessor.h"
#include "tests/DZCrashReporter/ChildFinish.h"
#include "tests/support/TestEnvironment.h"

namespace {

using dizizoz::Properties;
using quorvelle::test::TempDir;

// What the error-tracking integration's reporter is: no symbols, the exception hook.
dzcrash::DZCrashReporterConfig reporterConfig(const std::filesystem::path& base) {
  dzcrash::DZCrashReporterConfig config;
  config.basePath = base.string();
  config.signalHandlerType = 1;
  return config;
}

void enableReporter(const std::filesystem::path& base) {
  static auto* reporter = new dzcrash::DZCrashReporter("app", "1", std::nullopt, reporterConfig(base));
  if (auto error = reporter->enableCrashReporter()) dzcrash::test::finish(error->description());
}

// The event properties of the report the child left, as the client's capture path sanitises them;
// nothing (and a failure) when there is no report.
std::optional<Properties> eventProperties(const std::filesystem::path& base) {
  const dzcrash::DZCrashReporter reporter("app", "1", std::nullopt, reporterConfig(base));
  const auto bytes = reporter.loadPendingCrashReportData();
  if (!bytes.ok()) {
    ADD_FAILURE() << bytes.error().description();
    return std::nullopt;
  }
  auto report = dzcrash::DZCrashReport::fromData(bytes.value());
  if (!report.ok()) {
    ADD_FAILURE() << report.error().description();
    return std::nullopt;
  }
  const auto properties = dizizoz::DiziZozCrashReportProcessor::processReport(
      report.value(), dizizoz::DiziZozErrorTrackingConfig());
  return dizizoz::sanitizeDictionary(properties);
}

constexpr const char* kLatin1Message = "caf\xe9 cr\xe8me";
constexpr const char* kLatin1Folder = "d\xe9p\xf4t";

// A library copied into a folder whose name is Latin-1 calls a function that throws a Latin-1 message.
[[noreturn]] void throwLatin1ThroughALatin1Folder(const std::filesystem::path& base) {
  const std::filesystem::path library = base / kLatin1Folder / "libswap.so";
  std::filesystem::create_directories(library.parent_path());
  std::filesystem::copy_file(DZCRASH_TEST_SWAP_A, library);
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) dzcrash::test::finish(dlerror());
  auto call = reinterpret_cast<void (*)(void (*)())>(dlsym(handle, "dz_swap_a_call"));
  enableReporter(base);
  // On a thread of its own, where nothing catches the exception (the death test would).
  std::thread([call] { call([] { throw std::runtime_error(kLatin1Message); }); }).join();
  dzcrash::test::finish("no exception escaped");
}

}  // namespace

TEST(CrashEventText, BytesThatAreNotUtf8KeepTheExceptionListAndTheDebugImages) {
  TempDir base;
  EXPECT_EXIT(throwLatin1ThroughALatin1Folder(base.path()), testing::KilledBySignal(SIGABRT), "");
  const auto properties = eventProperties(base.path());
  ASSERT_TRUE(properties.has_value());
  ASSERT_TRUE(properties->contains("$exception_list")) << properties->dump();
  const Properties& entry = properties->at("$exception_list").at(0);
  EXPECT_EQ(entry.at("type"), "std::runtime_error");
  EXPECT_EQ(entry.at("value"), dizizoz::toValidUtf8(kLatin1Message));

  // The library's frame and image name its path with U+FFFD for the Latin-1 bytes.
  const std::string path = dizizoz::toValidUtf8((base / kLatin1Folder / "libswap.so").string());
  bool framed = false;
  for (const auto& frame : entry.at("stacktrace").at("frames")) framed |= frame.value("package", "") == path;
  EXPECT_TRUE(framed) << entry.dump();
  ASSERT_TRUE(properties->contains("$debug_images")) << properties->dump();
  bool imaged = false;
  for (const auto& image : properties->at("$debug_images")) imaged |= image.value("code_file", "") == path;
  EXPECT_TRUE(imaged) << properties->at("$debug_images").dump();
}

namespace {

[[noreturn]] void failAnAssertion(const std::filesystem::path& base) {
  enableReporter(base);
  __assert_fail("value == 42", "checks.cpp", 7, "void check()");
}

}  // namespace

TEST(CrashEventText, AnAssertFailureArrivesWithItsMessage) {
  TempDir base;
  EXPECT_EXIT(failAnAssertion(base.path()), testing::KilledBySignal(SIGABRT), "Assertion");
  const auto properties = eventProperties(base.path());
  ASSERT_TRUE(properties.has_value());
  const Properties& entry = properties->at("$exception_list").at(0);
  EXPECT_EQ(entry.at("type"), "SIGABRT");
  const std::string message = entry.at("mechanism").at("meta").at("signal").value("crash_info_message", "");
  EXPECT_NE(message.find("checks.cpp:7: void check(): Assertion `value == 42' failed."), std::string::npos)
      << entry.dump();
}
