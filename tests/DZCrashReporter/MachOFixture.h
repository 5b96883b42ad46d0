#pragma once

// Shared by the Mach-O reader tests: the committed fixture binaries, the texts the llvm tools printed
// about them, and a fixture laid out at a slide and parsed.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncMachOImage.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"

namespace dzcrash::fixtures {

inline const std::string kFixtures = std::string(QUORVELLE_SOURCE_DIR) + "/tests/fixtures/macho/";
// Where the tests place every fixture's __TEXT: far from its own vmaddr, so that a missing slide shows.
constexpr uint64_t kSlide = 0x7000000;

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What llvm-objdump --private-headers says about an image.
struct OracleSection {
  std::string sectname, segname;
  uint64_t addr = 0, size = 0, offset = 0;
};
struct OracleHeaders {
  std::string magic, cputype;
  uint32_t ncmds = 0, sizeofcmds = 0;
  uint64_t textVmaddr = 0, textVmsize = 0;
  std::vector<OracleSection> sections;

  const OracleSection* section(const std::string& name) const {
    for (const OracleSection& s : sections) {
      if (s.sectname == name) return &s;
    }
    ADD_FAILURE() << "no section " << name;
    return nullptr;
  }
  // Where an unslid address of a section lies in the file.
  size_t fileOffset(uint64_t address) const {
    for (const OracleSection& s : sections) {
      if (address >= s.addr && address < s.addr + s.size) return s.offset + (address - s.addr);
    }
    ADD_FAILURE() << "no section holds " << address;
    return 0;
  }
};

inline OracleHeaders parsePrivateHeaders(const std::string& text) {
  OracleHeaders out;
  std::istringstream in(text);
  std::string line;
  std::string segname;
  bool inSegment = false;
  OracleSection* section = nullptr;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "magic") {
      std::getline(in, line);
      std::istringstream values(line);
      std::string subtype, caps, filetype;
      values >> out.magic >> out.cputype >> subtype >> caps >> filetype >> out.ncmds >> out.sizeofcmds;
    } else if (key == "cmd") {
      inSegment = false;
      section = nullptr;
    } else if (key == "segname" && section == nullptr) {
      words >> segname;
      inSegment = true;
    } else if (key == "Section") {
      out.sections.emplace_back();
      section = &out.sections.back();
    } else if (key == "sectname" && section != nullptr) {
      words >> section->sectname;
    } else if (key == "segname" && section != nullptr) {
      words >> section->segname;
    } else if ((key == "addr" || key == "size") && section != nullptr) {
      std::string value;
      words >> value;
      (key == "addr" ? section->addr : section->size) = std::stoull(value, nullptr, 16);
    } else if (key == "offset" && section != nullptr) {
      words >> section->offset;
    } else if ((key == "vmaddr" || key == "vmsize") && inSegment && segname == "__TEXT") {
      std::string value;
      words >> value;
      (key == "vmaddr" ? out.textVmaddr : out.textVmsize) = std::stoull(value, nullptr, 16);
    }
  }
  return out;
}

// llvm-nm -n: defined symbols by address (several names may share one).
inline std::map<uint64_t, std::set<std::string>> parseNm(const std::string& text) {
  std::map<uint64_t, std::set<std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string address, type, name;
    if (!(words >> address >> type >> name) || type == "U") continue;
    out[std::stoull(address, nullptr, 16)].insert(name);
  }
  return out;
}

// What a symbol lookup's callback was given.
struct Found {
  bool called = false;
  uint64_t address = 0;
  std::string name;
};

inline void remember(uint64_t address, const char* name, void* context) {
  auto* found = static_cast<Found*>(context);
  found->called = true;
  found->address = address;
  found->name = name;
}

// A fixture (or bytes patched from one) laid out at a slide and parsed. Images whose pointers the
// loader would have to rebase (Objective-C metadata) are read at slide 0.
class LoadedFixture {
 public:
  explicit LoadedFixture(const std::string& name) : LoadedFixture(name, readFile(kFixtures + name)) {}
  LoadedFixture(const std::string& name, std::vector<uint8_t> bytes, uint64_t slide = kSlide) {
    std::string error;
    auto probe = DZCrashMachOFile::fromBytes(bytes, DZCrashMachOFile::kAtTextVmaddr, &error);
    EXPECT_NE(probe, nullptr) << name << ": " << error;
    if (probe == nullptr) return;
    file_ = DZCrashMachOFile::fromBytes(std::move(bytes), probe->headerAddress() + slide, &error);
    status_ = DZcrash_nasync_macho_init(&image_, file_->task(), name.c_str(), file_->headerAddress());
  }
  ~LoadedFixture() {
    if (status_ == DZCRASH_OK) DZcrash_nasync_macho_free(&image_);
  }
  LoadedFixture(const LoadedFixture&) = delete;
  LoadedFixture& operator=(const LoadedFixture&) = delete;

  dzcrash_error_t status() const { return status_; }
  dzcrash_async_macho* image() { return &image_; }

 private:
  std::unique_ptr<DZCrashMachOFile> file_;
  dzcrash_async_macho image_{};
  dzcrash_error_t status_ = DZCRASH_UNKNOWN;
};

}  // namespace dzcrash::fixtures
