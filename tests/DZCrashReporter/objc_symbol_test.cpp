#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncObjC.h"
#include "DZCrashReporter/core/DZCrashAsyncSymbol.h"
#include "DZCrashReporter/core/DZCrashMachOFile.h"
#include "tests/DZCrashReporter/MachOFixture.h"

using namespace dzcrash;
using namespace dzcrash::fixtures;

namespace {

constexpr uint32_t kTableOnly = DZCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE;
constexpr uint32_t kObjCOnly = DZCRASH_ASYNC_SYMBOL_STRATEGY_OBJC;
constexpr uint32_t kBoth = DZCRASH_ASYNC_SYMBOL_STRATEGY_ALL;

std::string methodName(bool isMeta, const std::string& cls, const std::string& method) {
  return std::string(isMeta ? "+[" : "-[") + cls + " " + method + "]";
}

// What llvm-objdump --objc-meta-data lists: every method (unslid imp, by its bracketed name) and where
// each class's read-only data and method list lie.
struct ObjCOracle {
  std::map<std::string, uint64_t> imps;
  std::map<std::string, uint64_t> roData;       // by "-[Root" / "+[Root"
  std::map<std::string, uint64_t> methodLists;  // the same keys
};

ObjCOracle parseObjCMetaData(const std::string& text,
                             const std::map<uint64_t, std::set<std::string>>& symbols) {
  std::map<std::string, uint64_t> symbolAddress;
  for (const auto& [address, names] : symbols) {
    for (const std::string& name : names) symbolAddress[name] = address;
  }
  ObjCOracle out;
  enum { kNone, kClasses, kCategories } mode = kNone;
  bool isMeta = false;
  bool categoryHead = false;
  uint64_t ro = 0;
  std::string cls, method;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Contents of", 0) == 0) {
      mode = line.find("__objc_classlist") != std::string::npos ? kClasses
             : line.find("__objc_catlist") != std::string::npos ? kCategories
                                                                : kNone;
      continue;
    }
    if (mode == kNone || line.rfind("\t\t\t", 0) == 0) continue;  // ivars
    std::istringstream wordsIn(line);
    std::vector<std::string> words;
    for (std::string w; wordsIn >> w;) words.push_back(w);
    if (words.empty()) continue;
    const std::string& key = words[0];
    const bool inList = line.rfind("\t\t", 0) == 0;
    if (std::isxdigit(static_cast<unsigned char>(line[0])) != 0) {
      isMeta = false;
      categoryHead = mode == kCategories;
    } else if (key == "Meta") {
      isMeta = true;
    } else if (key == "cls") {
      categoryHead = false;
    } else if (key == "instanceMethods" || key == "classMethods") {
      isMeta = key == "classMethods";
    } else if (key == "data" && words.size() >= 2) {
      ro = std::stoull(words[1], nullptr, 16);
    } else if (key == "name" && !inList && !categoryHead && words.size() >= 3) {
      cls = words[2];
      out.roData[(isMeta ? "+[" : "-[") + cls] = ro;
    } else if (key == "baseMethods" && words.size() >= 2) {
      out.methodLists[(isMeta ? "+[" : "-[") + cls] = std::stoull(words[1], nullptr, 16);
    } else if (key == "name" && inList && words.size() >= 3) {
      method = words[2];
    } else if (key == "imp" && words.size() >= 2) {
      const uint64_t imp =
          words[1].rfind("0x", 0) == 0 ? std::stoull(words[1], nullptr, 16) : symbolAddress.at(words[1]);
      out.imps[methodName(isMeta, cls, method)] = imp;
    }
  }
  return out;
}

// A fixture, parsed, with its oracles and one symbol cache.
class ObjCFixture {
 public:
  explicit ObjCFixture(const std::string& file) : ObjCFixture(file, readFile(kFixtures + file)) {}
  ObjCFixture(const std::string& file, std::vector<uint8_t> bytes)
      : headers(parsePrivateHeaders(readText(kFixtures + file + ".private-headers.txt"))),
        symbols(parseNm(readText(kFixtures + file + ".nm.txt"))),
        oracle(parseObjCMetaData(readText(kFixtures + file + ".objc-meta-data.txt"), symbols)),
        fixture_(file, std::move(bytes), 0) {
    DZcrash_async_symbol_cache_init(&cache_);
  }
  ~ObjCFixture() { DZcrash_async_symbol_cache_free(&cache_); }
  ObjCFixture(const ObjCFixture&) = delete;
  ObjCFixture& operator=(const ObjCFixture&) = delete;

  dzcrash_error_t status() const { return fixture_.status(); }
  dzcrash_async_macho* image() { return fixture_.image(); }
  dzcrash_async_symbol_cache* cache() { return &cache_; }

  dzcrash_error_t find(uint32_t strategy, uint64_t pc, Found* found) {
    *found = Found();
    return DZcrash_async_find_symbol(image(), strategy, &cache_, pc, remember, found);
  }
  uint64_t imp(const std::string& method) const {
    const auto it = oracle.imps.find(method);
    EXPECT_NE(it, oracle.imps.end()) << method;
    return it != oracle.imps.end() ? it->second : 0;
  }

  OracleHeaders headers;
  std::map<uint64_t, std::set<std::string>> symbols;
  ObjCOracle oracle;

 private:
  LoadedFixture fixture_;
  dzcrash_async_symbol_cache cache_{};
};

// Every method the parse reports, by bracketed name, with its unslid imp.
void listMethod(bool isMeta, dzcrash_async_macho_string* cls, dzcrash_async_macho_string* method,
                uint64_t imp, void* context) {
  const char* clsName = nullptr;
  const char* methodNameText = nullptr;
  ASSERT_EQ(DZcrash_async_macho_string_get_pointer(cls, &clsName), DZCRASH_OK);
  ASSERT_EQ(DZcrash_async_macho_string_get_pointer(method, &methodNameText), DZCRASH_OK);
  (*static_cast<std::map<std::string, uint64_t>*>(context))[methodName(isMeta, clsName, methodNameText)] =
      imp;
}

class ObjCFixtureTest : public ::testing::TestWithParam<const char*> {
 protected:
  std::string file() const { return std::string(GetParam()) + "/fx_objc"; }
};

std::string longClass() {
  return "Long" + std::string(296, 'x');
}

}  // namespace

TEST_P(ObjCFixtureTest, EveryMethodAgreesWithTheMetadataOracle) {
  ObjCFixture f(file());
  ASSERT_EQ(f.status(), DZCRASH_OK);
  ASSERT_EQ(f.oracle.imps.size(), 5u);
  std::map<std::string, uint64_t> listed;
  ASSERT_EQ(dzcrash_async_objc_parse(f.image(), f.cache(), listMethod, &listed), DZCRASH_OK);
  EXPECT_EQ(listed, f.oracle.imps);
}

TEST_P(ObjCFixtureTest, CombinedLookupPrefersTheMethodName) {
  ObjCFixture f(file());
  ASSERT_EQ(f.status(), DZCRASH_OK);
  const std::string longMethod = methodName(false, longClass(), "method");
  struct Case {
    const char* what;
    std::string at;  // the method whose imp the pc is at
    uint64_t offset;
    uint32_t strategy;
    dzcrash_error_t expected;
    std::string name;
    uint64_t address;
  };
  const uint64_t header = f.headers.textVmaddr;
  const Case cases[] = {
      {"inside an instance method", "-[Root instanceMethod:]", 2, kBoth, DZCRASH_OK,
       "-[Root instanceMethod:]", f.imp("-[Root instanceMethod:]")},
      {"the same pc in the symbol table alone", "-[Root instanceMethod:]", 2, kTableOnly, DZCRASH_OK,
       "__mh_execute_header", header},
      {"a class method", "+[Root classMethod]", 0, kBoth, DZCRASH_OK, "+[Root classMethod]",
       f.imp("+[Root classMethod]")},
      {"a category method carries the class's name", "-[Root categoryMethod]", 1, kBoth, DZCRASH_OK,
       "-[Root categoryMethod]", f.imp("-[Root categoryMethod]")},
      {"the method wins over a symbol at its address", "-[Root other]", 0, kBoth, DZCRASH_OK, "-[Root other]",
       f.imp("-[Root other]")},
      {"the metadata alone", "-[Root other]", 0, kObjCOnly, DZCRASH_OK, "-[Root other]",
       f.imp("-[Root other]")},
      {"the symbol table alone", "-[Root other]", 0, kTableOnly, DZCRASH_OK, "_fx_alias",
       f.imp("-[Root other]")},
      {"no strategy", "-[Root other]", 0, DZCRASH_ASYNC_SYMBOL_STRATEGY_NONE, DZCRASH_NOT_FOUND, "", 0},
      {"a 300-byte class name is cut to 255 bytes", longMethod, 0, kBoth, DZCRASH_OK,
       longMethod.substr(0, 255), f.imp(longMethod)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Found found;
    ASSERT_EQ(f.find(c.strategy, f.imp(c.at) + c.offset, &found), c.expected);
    EXPECT_EQ(found.called, c.expected == DZCRASH_OK);
    if (c.expected != DZCRASH_OK) continue;
    EXPECT_EQ(found.name, c.name);
    EXPECT_EQ(found.address, c.address);
  }
  EXPECT_EQ(longMethod.substr(0, 255).back(), 'x');
}

namespace {

// The file bytes of a fixture with helpers that patch them at unslid addresses.
class Patcher {
 public:
  Patcher(const std::string& file, const OracleHeaders& headers)
      : bytes(readFile(kFixtures + file)), headers_(headers), m64_(headers.magic == "MH_MAGIC_64") {}

  size_t pointerSize() const { return m64_ ? 8 : 4; }
  uint32_t u32(uint64_t address) const {
    uint32_t v;
    std::memcpy(&v, bytes.data() + headers_.fileOffset(address), 4);
    return v;
  }
  uint64_t pointer(uint64_t address) const {
    uint64_t v = 0;
    std::memcpy(&v, bytes.data() + headers_.fileOffset(address), pointerSize());
    return v;
  }
  void put32(uint64_t address, uint32_t v) {
    std::memcpy(bytes.data() + headers_.fileOffset(address), &v, 4);
  }
  void putPointer(uint64_t address, uint64_t v) {
    std::memcpy(bytes.data() + headers_.fileOffset(address), &v, pointerSize());
  }
  std::string cString(uint64_t address) const {
    return reinterpret_cast<const char*>(bytes.data() + headers_.fileOffset(address));
  }
  // Renames a section in the load commands.
  void renameSection(const std::string& from, const std::string& to) {
    const std::string needle = from + std::string(16 - from.size(), '\0');
    const auto at = std::search(bytes.begin(), bytes.begin() + 4096, needle.begin(), needle.end());
    ASSERT_NE(at, bytes.begin() + 4096) << from;
    std::copy(to.begin(), to.end(), at);
  }

  std::vector<uint8_t> bytes;

 private:
  const OracleHeaders& headers_;
  bool m64_;
};

}  // namespace

TEST_P(ObjCFixtureTest, RelativeMethodListsNameSelectorsThroughTheirReferences) {
  const ObjCFixture reference(file());
  Patcher patch(file(), reference.headers);
  const size_t ptr = patch.pointerSize();

  // Selector references by the name they point at.
  std::map<std::string, uint64_t> selrefs;
  const OracleSection* selrefSection = reference.headers.section("__objc_selrefs");
  ASSERT_NE(selrefSection, nullptr);
  for (uint64_t at = selrefSection->addr; at < selrefSection->addr + selrefSection->size; at += ptr) {
    selrefs[patch.cString(patch.pointer(at))] = at;
  }
  ASSERT_EQ(selrefs.size(), 4u);

  // Rewrite Root's classic list (name, types, imp pointers) in place as a relative one: each entry
  // three 32-bit offsets, from its own field, to the selector reference, the types and the imp.
  const uint64_t list = reference.oracle.methodLists.at("-[Root");
  const uint32_t count = patch.u32(list + 4);
  ASSERT_EQ(count, 2u);
  std::vector<std::pair<uint64_t, uint64_t>> classic;  // name, imp
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = list + 8 + i * 3 * ptr;
    classic.emplace_back(patch.pointer(entry), patch.pointer(entry + 2 * ptr));
  }
  patch.put32(list, 0x80000000u | 12);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = list + 8 + i * 12;
    const uint64_t selref = selrefs.at(patch.cString(classic[i].first));
    patch.put32(entry, static_cast<uint32_t>(selref - entry));
    patch.put32(entry + 4, 0);
    patch.put32(entry + 8, static_cast<uint32_t>(classic[i].second - (entry + 8)));
  }

  ObjCFixture f(file(), std::move(patch.bytes));
  ASSERT_EQ(f.status(), DZCRASH_OK);
  for (const std::string method : {"-[Root instanceMethod:]", "-[Root other]"}) {
    SCOPED_TRACE(method);
    Found found;
    ASSERT_EQ(f.find(kObjCOnly, f.imp(method) + 1, &found), DZCRASH_OK);
    EXPECT_EQ(found.name, method);
    EXPECT_EQ(found.address, f.imp(method));
  }
}

INSTANTIATE_TEST_SUITE_P(Architectures, ObjCFixtureTest, ::testing::Values("x86_64", "arm64", "arm64_32"));

TEST(ObjCSymbols, DamagedMetadataGivesErrorsAndTheSymbolTableStillAnswers) {
  const std::string file = "x86_64/fx_objc";
  const ObjCFixture reference(file);
  const uint64_t classlist = reference.headers.section("__objc_classlist")->addr;
  const uint64_t catlist = reference.headers.section("__objc_catlist")->addr;
  const uint64_t rootList = reference.oracle.methodLists.at("-[Root");
  const uint64_t rootRO = reference.oracle.roData.at("-[Root");
  struct Case {
    const char* what;
    void (*patch)(Patcher&, uint64_t at);
    uint64_t at;
    dzcrash_error_t findMethod;  // DZcrash_async_objc_find_method
    dzcrash_error_t objcOnly;    // the combined lookup with the metadata alone
  };
  const Case cases[] = {
      {"a class pointer outside __objc_data",
       [](Patcher& p, uint64_t at) { p.putPointer(at, p.pointer(at) - 0x1000); }, classlist,
       DZCRASH_INVALID_DATA, DZCRASH_NOT_FOUND},
      {"a method count past its mapping", [](Patcher& p, uint64_t at) { p.put32(at + 4, 0x10000); }, rootList,
       DZCRASH_INVALID_DATA, DZCRASH_NOT_FOUND},
      {"entries narrower than their fields", [](Patcher& p, uint64_t at) { p.put32(at, 8); }, rootList,
       DZCRASH_INVALID_DATA, DZCRASH_NOT_FOUND},
      {"a category outside __objc_const",
       [](Patcher& p, uint64_t at) { p.putPointer(at, p.pointer(at) + 0x100000); }, catlist,
       DZCRASH_INVALID_DATA, DZCRASH_NOT_FOUND},
      // The method is found, but its name cannot be read: the lookup has nothing to report.
      {"an unreadable class name", [](Patcher& p, uint64_t at) { p.putPointer(at + 24, 0x7FFF0000); }, rootRO,
       DZCRASH_OK, DZCRASH_INTERNAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Patcher patch(file, reference.headers);
    c.patch(patch, c.at);
    ObjCFixture f(file, std::move(patch.bytes));
    ASSERT_EQ(f.status(), DZCRASH_OK);
    const uint64_t pc = f.imp("-[Root instanceMethod:]") + 2;
    Found found;
    EXPECT_EQ(
        DZcrash_async_objc_find_method(
            f.image(), f.cache(), pc,
            [](bool, dzcrash_async_macho_string*, dzcrash_async_macho_string*, uint64_t, void*) {}, nullptr),
        c.findMethod);
    EXPECT_EQ(f.find(kObjCOnly, pc, &found), c.objcOnly);
    EXPECT_FALSE(found.called);
    ASSERT_EQ(f.find(kBoth, pc, &found), DZCRASH_OK);
    EXPECT_EQ(found.name, "__mh_execute_header");
  }
}

TEST(ObjCSymbols, ImagesWithoutAClassOrCategoryListNameTheRest) {
  const std::string file = "x86_64/fx_objc";
  const ObjCFixture reference(file);
  struct Case {
    const char* section;
    const char* method;
  };
  for (const Case& c : {Case{"__objc_catlist", "-[Root instanceMethod:]"},
                        Case{"__objc_classlist", "-[Root categoryMethod]"}}) {
    SCOPED_TRACE(c.section);
    Patcher patch(file, reference.headers);
    std::string renamed = c.section;
    renamed.back() = 'X';
    patch.renameSection(c.section, renamed);
    ObjCFixture f(file, std::move(patch.bytes));
    ASSERT_EQ(f.status(), DZCRASH_OK);
    Found found;
    ASSERT_EQ(f.find(kObjCOnly, f.imp(c.method), &found), DZCRASH_OK);
    EXPECT_EQ(found.name, c.method);
  }
}

TEST(ObjCSymbols, OneCacheServesImagesInTurn) {
  ObjCFixture x86("x86_64/fx_objc");
  ObjCFixture arm("arm64_32/fx_objc");
  ASSERT_EQ(x86.status(), DZCRASH_OK);
  ASSERT_EQ(arm.status(), DZCRASH_OK);
  dzcrash_async_symbol_cache cache;
  DZcrash_async_symbol_cache_init(&cache);
  struct Step {
    ObjCFixture* f;
    const char* method;
  };
  for (const Step& step : {Step{&x86, "-[Root instanceMethod:]"}, Step{&arm, "+[Root classMethod]"},
                           Step{&arm, "-[Root categoryMethod]"}, Step{&x86, "-[Root categoryMethod]"},
                           Step{&arm, "-[Root instanceMethod:]"}}) {
    SCOPED_TRACE(step.method);
    Found found;
    ASSERT_EQ(DZcrash_async_find_symbol(step.f->image(), kObjCOnly, &cache, step.f->imp(step.method),
                                        remember, &found),
              DZCRASH_OK);
    EXPECT_EQ(found.name, step.method);
    EXPECT_EQ(found.address, step.f->imp(step.method));
    EXPECT_EQ(cache.last_image, step.f->image());
  }
  EXPECT_EQ(cache.class_cache_size, DZCRASH_OBJC_CLASS_CACHE_SLOTS);
  DZcrash_async_symbol_cache_free(&cache);
  EXPECT_FALSE(cache.objc_const_mapped);
  EXPECT_EQ(cache.class_cache_keys, nullptr);
}

namespace {

// First-generation metadata: the i386 object's sections laid out as an image, at kObjC1Base + 0x1000
// plus their object address, behind a header with a __TEXT segment over everything and an __OBJC
// segment with the object's __OBJC sections. The object's local pointer relocations are applied, so
// that its pointers follow the move.
constexpr uint64_t kObjC1Base = 0x10000;
constexpr uint64_t kObjC1Sections = 0x1000;
constexpr uint64_t kObjC1Delta = kObjC1Base + kObjC1Sections;

struct ObjC1Image {
  std::vector<uint8_t> bytes;  // shown at kObjC1Base
  uint64_t moduleInfo = 0;

  uint32_t u32(uint64_t address) const {
    uint32_t v;
    std::memcpy(&v, bytes.data() + (address - kObjC1Base), 4);
    return v;
  }
  void put32(uint64_t address, uint32_t v) { std::memcpy(bytes.data() + (address - kObjC1Base), &v, 4); }
};

uint32_t get32(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

ObjC1Image layOutObjC1Object(const std::vector<uint8_t>& object) {
  constexpr size_t kHeader = 28, kSegment = 56, kSection = 68;
  EXPECT_EQ(get32(object, 0), DZCRASH_MH_MAGIC);
  EXPECT_EQ(get32(object, kHeader), DZCRASH_LC_SEGMENT);
  const uint32_t nsects = get32(object, kHeader + 48);
  const uint32_t vmsize = get32(object, kHeader + 28);

  ObjC1Image image;
  image.bytes.assign(kObjC1Sections + vmsize + 0x100, 0);
  std::vector<uint8_t> objcSections;
  for (uint32_t i = 0; i < nsects; ++i) {
    const size_t header = kHeader + kSegment + i * kSection;
    const std::string segname(reinterpret_cast<const char*>(object.data() + header + 16));
    const uint32_t addr = get32(object, header + 32), size = get32(object, header + 36);
    const uint32_t offset = get32(object, header + 40), reloff = get32(object, header + 48);
    const uint32_t nreloc = get32(object, header + 52);
    std::copy_n(object.begin() + offset, size, image.bytes.begin() + kObjC1Sections + addr);
    for (uint32_t r = 0; r < nreloc; ++r) {
      const uint32_t word0 = get32(object, reloff + r * 8), word1 = get32(object, reloff + r * 8 + 4);
      const bool scattered = (word0 & 0x80000000u) != 0;
      const uint32_t type = scattered ? (word0 >> 24) & 0xF : word1 >> 28;
      const uint32_t length = scattered ? (word0 >> 28) & 3 : (word1 >> 25) & 3;
      const bool pcrel = scattered ? ((word0 >> 30) & 1) != 0 : ((word1 >> 24) & 1) != 0;
      const bool external = !scattered && ((word1 >> 27) & 1) != 0;
      const uint32_t address = scattered ? word0 & 0xFFFFFF : word0;
      // Plain 32-bit pointers to the object's own sections; differences and calls move with them.
      if (type != 0 || length != 2 || pcrel || external) continue;
      const uint64_t at = kObjC1Delta + addr + address;
      image.put32(at, image.u32(at) + static_cast<uint32_t>(kObjC1Delta));
    }
    if (segname == "__OBJC") {
      if (std::string(reinterpret_cast<const char*>(object.data() + header)) == "__module_info") {
        image.moduleInfo = kObjC1Delta + addr;
      }
      std::vector<uint8_t> section(object.begin() + header, object.begin() + header + kSection);
      const uint32_t moved = addr + static_cast<uint32_t>(kObjC1Delta);
      std::memcpy(section.data() + 32, &moved, 4);
      objcSections.insert(objcSections.end(), section.begin(), section.end());
    }
  }

  auto segment = [](const char* name, uint32_t vmaddr, uint32_t size, uint32_t sections) {
    std::vector<uint8_t> cmd(kSegment, 0);
    const uint32_t fields[] = {DZCRASH_LC_SEGMENT, static_cast<uint32_t>(kSegment + sections * kSection)};
    std::memcpy(cmd.data(), fields, sizeof(fields));
    std::memcpy(cmd.data() + 8, name, std::strlen(name));
    const uint32_t layout[] = {vmaddr, size, 0, size, 5, 5, sections, 0};
    std::memcpy(cmd.data() + 24, layout, sizeof(layout));
    return cmd;
  };
  const auto total = static_cast<uint32_t>(image.bytes.size());
  std::vector<uint8_t> commands = segment("__TEXT", kObjC1Base, total, 0);
  std::vector<uint8_t> objc =
      segment("__OBJC", kObjC1Delta, vmsize, static_cast<uint32_t>(objcSections.size() / kSection));
  commands.insert(commands.end(), objc.begin(), objc.end());
  commands.insert(commands.end(), objcSections.begin(), objcSections.end());
  const uint32_t header[] = {DZCRASH_MH_MAGIC, 7, 3, 2, 2, static_cast<uint32_t>(commands.size()), 0};
  std::memcpy(image.bytes.data(), header, sizeof(header));
  EXPECT_LT(kHeader + commands.size(), kObjC1Sections);
  std::copy(commands.begin(), commands.end(), image.bytes.begin() + kHeader);
  return image;
}

// The classes and metaclasses the module's symbol table lists.
std::vector<uint64_t> objc1Classes(const ObjC1Image& image, uint64_t moduleInfo) {
  std::vector<uint64_t> out;
  const uint32_t symtab = image.u32(moduleInfo + 12);
  const uint16_t count = static_cast<uint16_t>(image.u32(symtab + 8) & 0xFFFF);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t cls = image.u32(symtab + 12 + 4 * i);
    out.push_back(cls);
    out.push_back(image.u32(cls));
  }
  return out;
}

// The class methods the first-generation oracle lists (it has no categories to give), by name.
std::map<std::string, uint64_t> parseObjC1MetaData(const std::string& text) {
  std::map<std::string, uint64_t> out;
  std::istringstream in(text);
  std::string line, cls, method;
  bool isMeta = false;
  while (std::getline(in, line)) {
    std::istringstream wordsIn(line);
    std::vector<std::string> words;
    for (std::string w; wordsIn >> w;) words.push_back(w);
    if (words.empty()) continue;
    if (words[0] == "Category") break;
    if (words[0].rfind("defs[", 0) == 0) isMeta = false;
    if (words[0] == "Meta") isMeta = true;
    if (words[0] == "name" && words.size() >= 3) cls = words[2];
    if (words[0] == "method_name" && words.size() >= 3) method = words[2];
    if (words[0] == "method_imp") out[methodName(isMeta, cls, method)] = std::stoull(words[1], nullptr, 16);
  }
  return out;
}

}  // namespace

TEST(ObjCSymbols, FirstGenerationMetadataNamesClassAndInstanceMethods) {
  const std::string file = "i386/fx_objc1.o";
  const std::map<std::string, uint64_t> methods =
      parseObjC1MetaData(readText(kFixtures + file + ".objc-meta-data.txt"));
  ASSERT_EQ(methods.size(), 4u);
  const ObjC1Image laidOut = layOutObjC1Object(readFile(kFixtures + file));
  ASSERT_NE(laidOut.moduleInfo, 0u);
  constexpr uint64_t kInfo = 16, kMethodLists = 28;
  constexpr uint32_t kOneList = 0x4000;

  // On disk a class's method field points at its one list, but only the runtime sets the flag that
  // says so. With the flag set every list is read as one; without it, Root's instance methods come
  // through an array of lists ended by -1, built in the image's spare tail.
  for (const bool array : {false, true}) {
    SCOPED_TRACE(array ? "an array of lists" : "one list per class");
    ObjC1Image image = laidOut;
    const std::vector<uint64_t> classes = objc1Classes(image, image.moduleInfo);
    ASSERT_EQ(classes.size(), 4u);
    for (const uint64_t cls : classes) image.put32(cls + kInfo, image.u32(cls + kInfo) | kOneList);
    if (array) {
      const uint64_t root = classes[0];
      const uint64_t tail = kObjC1Base + image.bytes.size() - 8;
      image.put32(tail, image.u32(root + kMethodLists));
      image.put32(tail + 4, 0xFFFFFFFFu);
      image.put32(root + kMethodLists, static_cast<uint32_t>(tail));
      image.put32(root + kInfo, image.u32(root + kInfo) & ~kOneList);
    }

    const dzcrash_task_region region = {kObjC1Base, image.bytes.data(), image.bytes.size(), true};
    dzcrash_task task;
    DZcrash_task_init_buffer(&task, &region, 1);
    dzcrash_async_macho macho;
    ASSERT_EQ(DZcrash_nasync_macho_init(&macho, &task, "fx_objc1", kObjC1Base), DZCRASH_OK);
    dzcrash_async_symbol_cache cache;
    DZcrash_async_symbol_cache_init(&cache);
    for (const auto& [name, imp] : methods) {
      SCOPED_TRACE(name);
      // The image has no symbol table: the metadata answers alone, whichever strategies are asked.
      for (const uint32_t strategy : {kObjCOnly, kBoth}) {
        Found found;
        ASSERT_EQ(
            DZcrash_async_find_symbol(&macho, strategy, &cache, kObjC1Delta + imp + 1, remember, &found),
            DZCRASH_OK);
        EXPECT_EQ(found.name, name.substr(0, 255));
        EXPECT_EQ(found.address, kObjC1Delta + imp);
      }
    }
    EXPECT_FALSE(cache.got_objc2_info);
    DZcrash_async_symbol_cache_free(&cache);
    DZcrash_nasync_macho_free(&macho);
  }
}
