// Writes the crash report fuzzer's seed files into the directory given as the only argument: a few
// well-formed reports that between them reach every section of the reader and the formatter.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/DZCrashReporter/CrashReportFixture.h"

using namespace dzcrash::test;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: crash_report_seeds DIRECTORY\n");
    return 2;
  }
  constexpr ProcessorShape kX86_64{.type = 0x1000007, .subtype = 3};
  std::vector<ReportShape> seeds(4);

  ReportShape& full = seeds[1];
  full.operatingSystem = 0;
  full.osBuild = "23C71";
  full.appMarketingVersion = "1.4";
  full.crashInfoMessage = "assertion failed";
  full.mach = MachShape{.type = 1, .codes = {1, 0x10}};
  full.machine = MachineShape{.model = "PC", .processor = kX86_64};
  full.process =
      ProcessShape{.name = "quorvelle", .pid = 42, .path = "/usr/bin/quorvelle", .parentName = "sh"};
  full.reportInfo = ReportInfoShape{.uuid = std::vector<uint8_t>(16, 0x5a)};
  full.customData = std::vector<uint8_t>{'{', '}'};
  full.exception = ExceptionShape{.name = "E", .reason = "R", .frames = {{.pc = 0x400010}}};
  full.threads = {
      ThreadShape{.number = 0,
                  .crashed = true,
                  .frames = {{.pc = 0x400010,
                              .symbol = SymbolShape{.name = "_main", .start = 0x400000, .end = 0x400100}},
                             {.pc = 0x9000}},
                  .registers = {{"rip", 0x400010}, {"rsp", 0x7ffc0000}, {"rbp", 0}, {"rax", 1}, {"rbx", 2}}},
      ThreadShape{.number = 1, .frames = {{.pc = 0x7f0000000100}}},
  };
  full.images = {
      ImageShape{.base = 0x400000,
                 .size = 0x2000,
                 .name = "/usr/bin/quorvelle",
                 .uuid = std::vector<uint8_t>(20, 1),
                 .codeType = kX86_64},
      ImageShape{.base = 0x7f0000000000, .size = 0, .name = "/lib/libc.so.6"},
      ImageShape{.base = 0x7f0000000000, .size = 0x1000, .name = "/lib/libc.so.6"},
  };

  ReportShape& arm32 = seeds[2];
  arm32.architecture = 5;
  arm32.threads[0].registers = {{"r12", 1}, {"pc", 2}};
  arm32.images[0].codeType = ProcessorShape{.type = 12, .subtype = 9};

  ReportShape& arm64e = seeds[3];
  arm64e.machine = MachineShape{.processor = {.type = 0x100000c, .subtype = 2}};
  arm64e.threads[0].frames = {{.pc = 0x8e23000000401000}};

  for (size_t i = 0; i < seeds.size(); ++i) {
    const std::vector<uint8_t> bytes = packReportFile(seeds[i]);
    const std::string path = std::string(argv[1]) + "/seed_" + std::to_string(i) + ".dzcrash";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "crash_report_seeds: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
