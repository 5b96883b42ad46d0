#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/errortracking/DiziZozBinaryImageInfo.h"
#include "DiziZoz/errortracking/DiziZozDebugImageProvider.h"
#include "DiziZoz/errortracking/DiziZozExceptionProcessor.h"
#include "DiziZoz/errortracking/DiziZozStackFrame.h"
#include "DiziZoz/errortracking/DiziZozStackTraceProcessor.h"
#include "DiziZoz/errortracking/ErrorTrackingServices.h"
#include "DiziZoz/errortracking/FormattedAsUUID.h"
#include "tests/support/dizizoz/TestServices.h"

using dizizoz::DiziZozErrorTrackingConfig;
using dizizoz::DiziZozExceptionProcessor;
using dizizoz::Properties;

// The capture sites below are exported (dizizoz_test_*) so that the loader can name them in traces.
extern "C" {

__attribute__((noinline)) std::vector<Properties> dizizoz_test_capture_error(
    const std::error_code& error, const DiziZozErrorTrackingConfig& config) {
  DiziZozExceptionProcessor processor;
  auto list = processor.buildExceptionList(error, true, "generic", config, nullptr);
  asm volatile("");  // keeps the call from becoming a tail call
  return list;
}

// Stands for the client's public capture call: the trace must start at whoever called it.
__attribute__((noinline)) std::vector<Properties> dizizoz_test_client_capture(
    const std::exception_ptr& exception, const DiziZozErrorTrackingConfig& config) {
  DiziZozExceptionProcessor processor;
  auto list = processor.buildExceptionList(exception, false, "uncaught", config, __builtin_return_address(0));
  asm volatile("");
  return list;
}

__attribute__((noinline)) std::vector<Properties> dizizoz_test_application_code(
    const std::exception_ptr& exception, const DiziZozErrorTrackingConfig& config) {
  auto list = dizizoz_test_client_capture(exception, config);
  asm volatile("");
  return list;
}

__attribute__((noinline)) void dizizoz_test_application_reports(dizizoz::DiziZozSDK& client) {
  client.captureException(std::make_exception_ptr(std::runtime_error("sync failed")));
  asm volatile("");
}

__attribute__((noinline)) void dizizoz_test_throw_nested() {
  try {
    try {
      throw std::invalid_argument("innermost");
    } catch (...) {
      std::throw_with_nested(std::logic_error("middle"));
    }
  } catch (...) {
    std::throw_with_nested(std::runtime_error("outer"));
  }
}
}

namespace dizizoz {
namespace {

const Properties& innermostFrame(const Properties& entry) {
  return entry.at("stacktrace").at("frames").back();
}

std::string programPath() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

// The program's GNU build id as binutils reads it from the file.
std::string buildIdFromReadelf() {
  std::string output;
  if (FILE* pipe = popen(("readelf -n '" + programPath() + "'").c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
    pclose(pipe);
  }
  const auto at = output.find("Build ID: ");
  if (at == std::string::npos) return {};
  const auto start = at + 10;
  return output.substr(start, output.find('\n', start) - start);
}

class NamedCategory final : public std::error_category {
 public:
  NamedCategory(const char* name, std::string message) : name_(name), message_(std::move(message)) {}
  const char* name() const noexcept override { return name_; }
  std::string message(int) const override { return message_; }

 private:
  const char* name_;
  std::string message_;
};

TEST(HandledExceptions, ANestedChainGivesOneEntryPerMemberOutermostFirst) {
  std::exception_ptr caught;
  try {
    dizizoz_test_throw_nested();
  } catch (...) {
    caught = std::current_exception();
  }
  const DiziZozErrorTrackingConfig config;
  const auto list = dizizoz_test_application_code(caught, config);
  ASSERT_EQ(list.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> expected{{"std::runtime_error", "outer"},
                                                                  {"std::logic_error", "middle"},
                                                                  {"std::invalid_argument", "innermost"}};
  for (std::size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].at("type"), expected[i].first);
    EXPECT_EQ(list[i].at("value"), expected[i].second);
    EXPECT_FALSE(list[i].contains("module"));
    EXPECT_EQ(list[i].at("thread_id"), gettid());
    EXPECT_EQ(list[i].at("mechanism"),
              (Properties{{"type", "uncaught"}, {"handled", false}, {"synthetic", true}}));
    EXPECT_EQ(list[i].at("stacktrace"), list[0].at("stacktrace"));
  }
  // The trace starts at the code that called the capture, not inside it.
  const auto& frame = innermostFrame(list[0]);
  EXPECT_EQ(frame.at("function"), "dizizoz_test_application_code");
  EXPECT_EQ(frame.at("package"), programPath());
  EXPECT_EQ(frame.at("module"), std::filesystem::path(programPath()).filename().string());
  EXPECT_EQ(frame.at("in_app"), true);
  EXPECT_EQ(list[0].at("stacktrace").at("type"), "raw");
}

TEST(HandledExceptions, AnExceptionThatIsNotAStdExceptionKeepsItsType) {
  const DiziZozErrorTrackingConfig config;
  const auto list = dizizoz_test_application_code(std::make_exception_ptr(42), config);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].at("type"), "int");
  EXPECT_FALSE(list[0].contains("value"));
  EXPECT_TRUE(DiziZozExceptionProcessor()
                  .buildExceptionList(std::exception_ptr(), true, "generic", config, nullptr)
                  .empty());
}

struct ErrorCase {
  const char* name;
  const char* category;
  std::string message;
  int code;
  std::string value;
  std::optional<std::string> module;
};

class ErrorCodes : public testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorCodes, GiveTypeModuleAndValueWithTheCode) {
  const auto& c = GetParam();
  const NamedCategory category(c.category, c.message);
  const DiziZozErrorTrackingConfig config;
  const auto list = dizizoz_test_capture_error(std::error_code(c.code, category), config);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].at("type"), c.category);
  EXPECT_EQ(list[0].at("value"), c.value);
  if (c.module) {
    EXPECT_EQ(list[0].at("module"), *c.module);
  } else {
    EXPECT_FALSE(list[0].contains("module"));
  }
  EXPECT_EQ(list[0].at("mechanism"),
            (Properties{{"type", "generic"}, {"handled", true}, {"synthetic", true}}));
  EXPECT_EQ(innermostFrame(list[0]).at("function"), "dizizoz_test_capture_error");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ErrorCodes,
    testing::Values(ErrorCase{"DottedDomain", "A.B.C", "Disk full", 7, "Disk full (Code: 7)", "A.B"},
                    ErrorCase{"PlainDomain", "generic", "Disk full", 28, "Disk full (Code: 28)",
                              std::nullopt},
                    ErrorCase{"LeadingDot", ".hidden", "x", 1, "x (Code: 1)", std::nullopt},
                    ErrorCase{"EmptyDescription", "io", "", 5, "Error (Code: 5)", std::nullopt},
                    ErrorCase{"NegativeCode", "io", "bad", -3, "bad (Code: -3)", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct InAppCase {
  const char* name;
  std::vector<std::string> includes, excludes;
  bool byDefault;
  const char* module;
  std::optional<std::string> package;
  bool inApp;
};

class InApp : public testing::TestWithParam<InAppCase> {};

TEST_P(InApp, FirstMatchingRuleWins) {
  const auto& c = GetParam();
  DiziZozErrorTrackingConfig config;
  config.inAppIncludes = c.includes;
  config.inAppExcludes = c.excludes;
  config.inAppByDefault = c.byDefault;
  EXPECT_EQ(DiziZozStackTraceProcessor::isInApp(c.module, c.package, config), c.inApp);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, InApp,
    testing::Values(
        InAppCase{"IncludesBeatExcludes", {"App"}, {"AppKit"}, false, "AppKit", std::nullopt, true},
        InAppCase{"ExcludesBeatDefault", {}, {"Vendor"}, true, "VendorLib", std::nullopt, false},
        InAppCase{
            "IncludesBeatSystemPrefix", {"libsystem"}, {}, false, "libsystem_c.dylib", "/usr/lib/x", true},
        InAppCase{"SystemPrefixInApplicationFolder",
                  {},
                  {},
                  true,
                  "libsystem_c.dylib",
                  "/opt/app/libsystem_c.dylib",
                  false},
        InAppCase{"SystemPathOutsideEveryList",
                  {},
                  {},
                  true,
                  "libfoo.so",
                  "/usr/lib/x86_64-linux-gnu/libfoo.so",
                  false},
        InAppCase{"LoaderLibraryPath", {}, {}, true, "libc.so.6", "/lib/x86_64-linux-gnu/libc.so.6", false},
        InAppCase{"DefaultTrue", {}, {}, true, "quorvelle", "/usr/bin/quorvelle", true},
        InAppCase{"DefaultFalse", {}, {}, false, "quorvelle", "/usr/bin/quorvelle", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StackTraceProcessor, SystemPaths) {
  const std::vector<std::pair<std::optional<std::string>, bool>> cases{
      {std::nullopt, false},
      {"/System/Library/Frameworks/X", true},
      {"/usr/lib/libc.so", true},
      {"/lib/x86_64-linux-gnu/libc.so.6", true},
      {"/lib64/ld-linux-x86-64.so.2", true},
      {"/Volumes/Disk/System/Library/X", true},
      {"/opt/root/usr/lib/libz.so", true},
      {"/home/me/app/lib/libfoo.so", false},
      {"/usr/bin/quorvelle", false},
      {"", false},
  };
  for (const auto& [path, system] : cases) {
    EXPECT_EQ(DiziZozStackTraceProcessor::isSystemPath(path), system) << path.value_or("(none)");
  }
}

TEST(StackTraceProcessor, FormattedAsUUID) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"0123456789abcdef0123456789abcdef", "01234567-89AB-CDEF-0123-456789ABCDEF"},
      {"01234567-89ab-cdef-0123-456789abcdef", "01234567-89AB-CDEF-0123-456789ABCDEF"},
      {"0123-4567-89ab-cdef-0123-4567-89ab-cdef", "01234567-89AB-CDEF-0123-456789ABCDEF"},
      {"abc", "abc"},
      {"", ""},
      {"0123456789abcdef0123456789abcdef01234567", "0123456789abcdef0123456789abcdef01234567"},
  };
  for (const auto& [input, output] : cases) EXPECT_EQ(formattedAsUUID(input), output) << input;
}

TEST(StackTraceProcessor, AnAddressTheLoaderCannotPlaceGivesNoFrame) {
  const DiziZozErrorTrackingConfig config;
  const auto here = reinterpret_cast<std::uintptr_t>(&dizizoz_test_capture_error);
  const auto frames = DiziZozStackTraceProcessor::symbolicateAddresses({1, here}, config, true);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].function, "dizizoz_test_capture_error");
  EXPECT_EQ(frames[0].symbolAddress, here);
}

TEST(StackFrameAndImage, Dictionaries) {
  DiziZozStackFrame bare{.instructionAddress = 0x1234};
  EXPECT_EQ(
      bare.toDictionary(),
      (Properties{{"instruction_addr", "0x0000000000001234"}, {"platform", "apple"}, {"in_app", false}}));
  const DiziZozStackFrame full{.instructionAddress = 0xABCDEF,
                               .module = "m",
                               .package = "/p/m",
                               .imageAddress = 0x1000,
                               .inApp = true,
                               .function = "f",
                               .symbolAddress = 0xABCD00};
  EXPECT_EQ(full.toDictionary().dump(), Properties({{"instruction_addr", "0x0000000000abcdef"},
                                                    {"platform", "apple"},
                                                    {"in_app", true},
                                                    {"module", "m"},
                                                    {"package", "/p/m"},
                                                    {"image_addr", "0x0000000000001000"},
                                                    {"function", "f"},
                                                    {"symbol_addr", "0x0000000000abcd00"}})
                                            .dump());

  DiziZozBinaryImageInfo image{.name = "/usr/bin/x", .vmAddress = 0, .address = 0x7f0000000000, .size = 4096};
  EXPECT_EQ(image.toDictionary(), (Properties{{"type", "elf"},
                                              {"code_file", "/usr/bin/x"},
                                              {"image_addr", "0x00007f0000000000"},
                                              {"image_size", 4096}}));
  image.vmAddress = 0x400000;
  image.uuid = "AB";
  image.arch = "x86_64";
  image.format = DiziZozBinaryImageFormat::macho;
  const auto dictionary = image.toDictionary();
  EXPECT_EQ(dictionary.at("type"), "macho");
  EXPECT_EQ(dictionary.at("image_vmaddr"), "0x0000000000400000");
  EXPECT_EQ(dictionary.at("debug_id"), "AB");
  EXPECT_EQ(dictionary.at("arch"), "x86_64");
}

TEST(DebugImages, BothHexSpellingsNameTheProgramOnceAndBadTextsAreIgnored) {
  const DiziZozErrorTrackingConfig config;
  const auto frames = DiziZozStackTraceProcessor::symbolicateAddresses(
      {reinterpret_cast<std::uintptr_t>(&dizizoz_test_capture_error)}, config, false);
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_TRUE(frames[0].imageAddress);
  const std::uint64_t base = *frames[0].imageAddress;
  char upper[32];
  std::snprintf(upper, sizeof upper, "0X%llX", static_cast<unsigned long long>(base));

  const auto images = DiziZozDebugImageProvider::getDebugImagesForFrames({{{"image_addr", hexAddress(base)}},
                                                                          {{"image_addr", upper}},
                                                                          {{"image_addr", "0xnothex"}},
                                                                          {{"image_addr", "0x"}},
                                                                          {{"image_addr", 12}},
                                                                          {{"function", "no image"}}});
  ASSERT_EQ(images.size(), 1u);
  const auto& image = images[0];
  EXPECT_EQ(image.at("type"), "elf");
  EXPECT_EQ(image.at("code_file"), programPath());
  EXPECT_EQ(image.at("image_addr"), hexAddress(base));
  const std::string buildId = buildIdFromReadelf();
  ASSERT_FALSE(buildId.empty());
  EXPECT_EQ(image.at("debug_id"), formattedAsUUID(buildId));
  // The code extent covers the program's functions.
  const auto size = image.at("image_size").get<std::uint64_t>();
  EXPECT_GT(base + size, reinterpret_cast<std::uintptr_t>(&dizizoz_test_capture_error));

  EXPECT_TRUE(DiziZozDebugImageProvider::getDebugImagesForFrames({{{"image_addr", "zzz"}}}).empty());
  EXPECT_TRUE(DiziZozDebugImageProvider::getDebugImagesForFrames({}).empty());
}

TEST(DebugImages, AttachAddsTheListAndTheImagesOfItsFrames) {
  const DiziZozErrorTrackingConfig config;
  DiziZozExceptionProcessor processor;
  Properties untouched{{"$exception_level", "error"}};
  processor.attachExceptionsAndDebugImages({}, untouched);
  EXPECT_EQ(untouched, (Properties{{"$exception_level", "error"}}));

  const auto list = dizizoz_test_capture_error(std::make_error_code(std::errc::io_error), config);
  Properties properties{{"$exception_level", "error"}};
  processor.attachExceptionsAndDebugImages(list, properties);
  EXPECT_EQ(properties.at("$exception_list"), list);
  const auto& images = properties.at("$debug_images");
  EXPECT_TRUE(std::any_of(images.begin(), images.end(),
                          [](const Properties& image) { return image.at("code_file") == programPath(); }));
  // Every frame's image is described, once.
  std::set<std::string> frameImages, described;
  for (const auto& frame : list[0].at("stacktrace").at("frames")) {
    if (frame.contains("image_addr")) frameImages.insert(frame.at("image_addr").get<std::string>());
  }
  for (const auto& image : images) described.insert(image.at("image_addr").get<std::string>());
  EXPECT_EQ(described, frameImages);
  EXPECT_EQ(described.size(), images.size());
}

TEST(HandledExceptions, AnExceptionCapturedThroughTheClientCarriesTracesImagesAndSteps) {
  test::TestServices ts;
  auto services = ts.services();
  addErrorTrackingServices(services);
  auto options = std::make_shared<DiziZozConfig>("phc_handled_exceptions");
  options->disableFlushOnBackgroundForTesting = true;
  auto client = DiziZozSDK::create(options, services);
  client->setup(options);
  client->addExceptionStep("opened sync", Properties{{"account", 2}});

  dizizoz_test_application_reports(*client);

  const auto events = ts.lastEventQueue()->records();
  ASSERT_FALSE(events.empty());
  const auto& event = events.back();
  ASSERT_EQ(event.event, "$exception");
  const auto& properties = event.properties;
  EXPECT_EQ(properties.at("$exception_level"), "error");
  const auto& list = properties.at("$exception_list");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].at("type"), "std::runtime_error");
  EXPECT_EQ(list[0].at("value"), "sync failed");
  EXPECT_EQ(list[0].at("mechanism"),
            (Properties{{"type", "generic"}, {"handled", true}, {"synthetic", true}}));
  // None of the client's own frames: the trace starts in the code that called captureException.
  const auto& frame = innermostFrame(list[0]);
  EXPECT_EQ(frame.at("function"), "dizizoz_test_application_reports");
  EXPECT_EQ(frame.at("in_app"), true);

  const auto& images = properties.at("$debug_images");
  const auto program = std::find_if(images.begin(), images.end(), [&](const Properties& image) {
    return image.at("image_addr") == frame.at("image_addr");
  });
  ASSERT_NE(program, images.end());
  EXPECT_EQ(program->at("code_file"), programPath());
  EXPECT_EQ(program->at("debug_id"), formattedAsUUID(buildIdFromReadelf()));

  const auto& steps = properties.at("$exception_steps");
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].at("$message"), "opened sync");
  EXPECT_EQ(steps[0].at("account"), 2);
}

}  // namespace
}  // namespace dizizoz
