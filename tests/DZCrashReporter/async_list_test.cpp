#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DZCrashReporter/core/DZCrashAsyncLinkedList.h"
#include "DZCrashReporter/core/DZCrashAsyncUnlistedImages.h"

using namespace dzcrash;
using List = async::async_list<int>;

namespace {

std::vector<int> walk(List& list) {
  std::vector<int> out;
  list.set_reading(true);
  for (auto* n = list.next(nullptr); n != nullptr; n = list.next(n)) out.push_back(n->value());
  list.set_reading(false);
  return out;
}

List::node* find(List& list, int value) {
  for (auto* n = list.next(nullptr); n != nullptr; n = list.next(n)) {
    if (n->value() == value) return n;
  }
  return nullptr;
}

}  // namespace

TEST(AsyncList, AppendPrependAndRemoveKeepTheLinksWhole) {
  List list;
  EXPECT_EQ(walk(list), std::vector<int>{});
  list.nasync_append(2);
  list.nasync_append(3);
  list.nasync_prepend(1);
  list.nasync_append(4);
  EXPECT_EQ(walk(list), (std::vector<int>{1, 2, 3, 4}));

  EXPECT_TRUE(list.nasync_remove_node(find(list, 1)));  // head
  EXPECT_TRUE(list.nasync_remove_node(find(list, 4)));  // tail
  EXPECT_EQ(walk(list), (std::vector<int>{2, 3}));
  list.nasync_append(5);  // the tail was fixed up
  list.nasync_prepend(0);
  EXPECT_EQ(walk(list), (std::vector<int>{0, 2, 3, 5}));
  EXPECT_TRUE(list.nasync_remove_node(find(list, 3)));  // middle
  EXPECT_FALSE(list.nasync_remove_node(nullptr));
  EXPECT_EQ(walk(list), (std::vector<int>{0, 2, 5}));
  for (int v : {0, 2, 5}) EXPECT_TRUE(list.nasync_remove_node(find(list, v)));
  EXPECT_EQ(walk(list), std::vector<int>{});
  list.nasync_append(9);
  EXPECT_EQ(walk(list), std::vector<int>{9});
}

TEST(AsyncList, AReaderOnARemovedNodeWalksOnIntoTheLiveList) {
  List list;
  for (int v : {1, 2, 3, 4}) list.nasync_append(v);
  list.set_reading(true);
  List::node* standing = find(list, 2);
  ASSERT_NE(standing, nullptr);
  List::node* three = find(list, 3);
  EXPECT_TRUE(list.nasync_remove_node(standing));
  EXPECT_TRUE(list.nasync_remove_node(three));
  // Parked, not freed (ASan would object), and still leading forward.
  EXPECT_EQ(standing->value(), 2);
  std::vector<int> rest;
  for (auto* n = list.next(standing); n != nullptr; n = list.next(n)) rest.push_back(n->value());
  EXPECT_EQ(rest, (std::vector<int>{3, 4}));

  // While anyone reads, a parked node is not rewritten for a new value.
  list.nasync_append(5);
  EXPECT_EQ(standing->value(), 2);
  list.set_reading(false);

  // Once nobody reads, the next append reuses a parked node.
  list.nasync_append(6);
  List::node* six = find(list, 6);
  EXPECT_TRUE(six == standing || six == three);
  EXPECT_EQ(walk(list), (std::vector<int>{1, 4, 5, 6}));
}

TEST(AsyncList, RemovedNodeIsReusedByTheNextAppend) {
  List list;
  list.nasync_append(1);
  list.nasync_append(2);
  list.set_reading(true);
  List::node* two = find(list, 2);
  list.nasync_remove_node(two);
  list.set_reading(false);
  list.nasync_append(3);
  EXPECT_EQ(find(list, 3), two);
  EXPECT_EQ(walk(list), (std::vector<int>{1, 3}));
}

namespace {

// Stands in for an image format's parser: every image is 0x100 bytes long; names starting with "bad"
// fail to parse.
struct ParserLog {
  int inits = 0;
  int frees = 0;
};

dzcrash_error_t fakeInit(dzcrash_async_image* image, dzcrash_task_t, void* context) {
  ++static_cast<ParserLog*>(context)->inits;
  if (std::strncmp(image->name, "bad", 3) == 0) return DZCRASH_INVALID_DATA;
  image->size = 0x100;
  image->parsed = std::malloc(8);
  return DZCRASH_OK;
}

void fakeFree(dzcrash_async_image* image, void* context) {
  ++static_cast<ParserLog*>(context)->frees;
  std::free(image->parsed);
}

std::vector<std::string> names(dzcrash_async_image_list* list) {
  std::vector<std::string> out;
  DZcrash_async_image_list_set_reading(list, true);
  for (auto* image = DZcrash_async_image_list_next(list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(list, image)) {
    out.push_back(image->name);
  }
  DZcrash_async_image_list_set_reading(list, false);
  return out;
}

}  // namespace

TEST(ImageList, ParsesOnAppendDropsFailuresAndFindsAddresses) {
  ParserLog log;
  const dzcrash_image_parser parser = {fakeInit, fakeFree, &log};
  dzcrash_async_image_list list;
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&list, DZcrash_async_task_self(), &parser));
  DZcrash_nasync_image_list_append(&list, 0x1000, "/lib/one.so");
  DZcrash_nasync_image_list_append(&list, 0x2000, "bad.so");
  DZcrash_nasync_image_list_append(&list, 0x3000, "/lib/three.so");
  EXPECT_EQ(names(&list), (std::vector<std::string>{"/lib/one.so", "/lib/three.so"}));

  DZcrash_async_image_list_set_reading(&list, true);
  struct Case {
    uint64_t address;
    const char* image;
  };
  for (const Case& c : {Case{0x0fff, nullptr}, Case{0x1000, "/lib/one.so"}, Case{0x10ff, "/lib/one.so"},
                        Case{0x1100, nullptr}, Case{0x2050, nullptr}, Case{0x3080, "/lib/three.so"}}) {
    dzcrash_async_image* found = DZcrash_async_image_containing_address(&list, c.address);
    if (c.image == nullptr) {
      EXPECT_EQ(found, nullptr) << std::hex << c.address;
    } else {
      ASSERT_NE(found, nullptr) << std::hex << c.address;
      EXPECT_STREQ(found->name, c.image);
    }
  }
  DZcrash_async_image_list_set_reading(&list, false);

  DZcrash_nasync_image_list_remove(&list, 0x1000);
  DZcrash_nasync_image_list_remove(&list, 0x9999);
  EXPECT_EQ(names(&list), std::vector<std::string>{"/lib/three.so"});
  // The removed record stays alive until the list is freed; the free releases every parse.
  DZcrash_nasync_image_list_free(&list);
  EXPECT_EQ(log.inits, 3);
  EXPECT_EQ(log.frees, 2);
}

namespace {

std::set<uint64_t> loadedBiases() {
  std::set<uint64_t> out;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        static_cast<std::set<uint64_t>*>(data)->insert(info->dlpi_addr);
        return 0;
      },
      &out);
  return out;
}

struct Collected {
  std::set<uint64_t> biases;
  std::vector<std::string> names;
  std::vector<bool> cut;
  int stopAfter = -1;
};

bool collect(const dzcrash_async_rdebug_entry* entry, void* context) {
  auto* c = static_cast<Collected*>(context);
  c->biases.insert(entry->load_bias);
  c->names.emplace_back(entry->name);
  c->cut.push_back(entry->name_cut);
  return c->stopAfter < 0 || static_cast<int>(c->names.size()) < c->stopAfter;
}

dzcrash_error_t walk(dzcrash_task_t task, uint64_t rdebugAddress, Collected* collected) {
  static dzcrash_async_rdebug_entry entry;
  return DZcrash_async_rdebug_walk(task, rdebugAddress, &entry, collect, collected);
}

}  // namespace

TEST(ImageList, LoadedObjectsAreFedOnceAndTheLinkerMapAgrees) {
  dzcrash_async_image_list list;
  ASSERT_TRUE(DZcrash_nasync_image_list_init(&list, DZcrash_async_task_self(), nullptr));
  const size_t added = DZcrash_nasync_image_list_add_loaded(&list);
  EXPECT_GE(added, 2u);
  EXPECT_EQ(DZcrash_nasync_image_list_add_loaded(&list), 0u) << "objects already listed are not added twice";
  const std::vector<std::string> listed = names(&list);
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof(exe) - 1), 0);
  EXPECT_EQ(listed.front(), exe);
  EXPECT_TRUE(std::any_of(listed.begin(), listed.end(),
                          [](const std::string& n) { return n.find("libc.so") != std::string::npos; }));
  // The header of a shared object lies at its load address: dladdr agrees with the list.
  Dl_info info = {};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&::write), &info), 0);
  bool found = false;
  DZcrash_async_image_list_set_reading(&list, true);
  for (auto* image = DZcrash_async_image_list_next(&list, nullptr); image != nullptr;
       image = DZcrash_async_image_list_next(&list, image)) {
    found = found || image->header_address == reinterpret_cast<uint64_t>(info.dli_fbase);
  }
  DZcrash_async_image_list_set_reading(&list, false);
  EXPECT_TRUE(found);
  DZcrash_nasync_image_list_free(&list);

  Collected walked;
  EXPECT_EQ(walk(DZcrash_async_task_self(), DZcrash_async_rdebug_address(), &walked), DZCRASH_OK);
  EXPECT_EQ(walked.biases, loadedBiases());
  EXPECT_TRUE(std::any_of(walked.names.begin(), walked.names.end(),
                          [](const std::string& n) { return n.find("libc.so") != std::string::npos; }));
}

TEST(ImageList, LinkerMapWalkSurvivesBrokenAndCyclicMaps) {
  // A fake r_debug and link maps laid out as this host lays them out, served by a buffer task.
  constexpr uint64_t kBase = 0x5000'0000;
  struct Fake {
    r_debug debug;
    link_map maps[3];
    char names[3][16];
  } fake = {};
  auto at = [&](const void* p) {
    return kBase + static_cast<uint64_t>(static_cast<const char*>(p) - reinterpret_cast<const char*>(&fake));
  };
  std::strcpy(fake.names[0], "");
  std::strcpy(fake.names[1], "/lib/a.so");
  std::strcpy(fake.names[2], "/lib/b.so");
  for (int i = 0; i < 3; ++i) {
    fake.maps[i].l_addr = 0x1000u * static_cast<unsigned>(i + 1);
    fake.maps[i].l_name = reinterpret_cast<char*>(at(fake.names[i]));
    fake.maps[i].l_next = i < 2 ? reinterpret_cast<link_map*>(at(&fake.maps[i + 1])) : nullptr;
  }
  fake.debug.r_map = reinterpret_cast<link_map*>(at(&fake.maps[0]));
  const dzcrash_task_region region = {kBase, &fake, sizeof(fake), true};
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, &region, 1);

  Collected all;
  EXPECT_EQ(walk(&task, kBase, &all), DZCRASH_OK);
  EXPECT_EQ(all.names, (std::vector<std::string>{"", "/lib/a.so", "/lib/b.so"}));
  EXPECT_EQ(all.biases, (std::set<uint64_t>{0x1000, 0x2000, 0x3000}));

  Collected stopped;
  stopped.stopAfter = 1;
  EXPECT_EQ(walk(&task, kBase, &stopped), DZCRASH_OK);
  EXPECT_EQ(stopped.names.size(), 1u);

  // A map that points into nothing ends the walk with the read's error.
  fake.maps[1].l_next = reinterpret_cast<link_map*>(0x10);
  Collected broken;
  EXPECT_EQ(walk(&task, kBase, &broken), DZCRASH_NOT_FOUND);
  EXPECT_EQ(broken.names.size(), 2u);

  // A cycle is cut off instead of looping for ever.
  fake.maps[1].l_next = reinterpret_cast<link_map*>(at(&fake.maps[0]));
  Collected cyclic;
  EXPECT_EQ(walk(&task, kBase, &cyclic), DZCRASH_OK);
  EXPECT_EQ(cyclic.names.size(), 4096u);

  // An unreadable name leaves the entry nameless rather than failing the walk.
  fake.maps[1].l_next = nullptr;
  fake.maps[1].l_name = reinterpret_cast<char*>(0x20);
  Collected nameless;
  EXPECT_EQ(walk(&task, kBase, &nameless), DZCRASH_OK);
  EXPECT_EQ(nameless.names, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(nameless.cut, (std::vector<bool>{false, false}));
}

// The smallest image the ELF reader takes: a header and one load segment of code from offset 0.
struct TinyElf {
  Elf64_Ehdr header;
  Elf64_Phdr code;
};

TinyElf tinyElf() {
  TinyElf elf = {};
  std::memcpy(elf.header.e_ident, ELFMAG, SELFMAG);
  elf.header.e_ident[EI_CLASS] = ELFCLASS64;
  elf.header.e_ident[EI_DATA] = ELFDATA2LSB;
  elf.header.e_machine = EM_X86_64;
  elf.header.e_phoff = offsetof(TinyElf, code);
  elf.header.e_phentsize = sizeof(Elf64_Phdr);
  elf.header.e_phnum = 1;
  elf.code.p_type = PT_LOAD;
  elf.code.p_flags = PF_R | PF_X;
  elf.code.p_memsz = 0x1000;
  return elf;
}

// A path is read whole up to the longest the system opens; one that goes on past it, or stops being
// readable part of the way, is read as far as it can be and said to be cut, and so is the record the
// search for loaded images makes of it.
TEST(ImageList, LinkerMapWalkReadsLongPathsWholeAndSaysWhenOneIsCut) {
  constexpr uint64_t kBase = 0x5000'0000;
  constexpr uint64_t kNames = 0x6000'0000;
  constexpr uint64_t kImages = 0x7000'0000;
  constexpr uint64_t kStride = 0x10'0000;
  const TinyElf image = tinyElf();
  const std::string longest = "/" + std::string(DZCRASH_ASYNC_PATH_MAX - 2, 'p');
  const std::string endless(DZCRASH_ASYNC_PATH_MAX + 100, 'q');
  const std::string stopping = "/lib/stops-here";  // its region ends before its NUL
  const std::string names[] = {longest + '\0', endless, stopping};
  struct Fake {
    r_debug debug;
    link_map maps[3];
  } fake = {};
  auto at = [&](const void* p) {
    return kBase + static_cast<uint64_t>(static_cast<const char*>(p) - reinterpret_cast<const char*>(&fake));
  };
  std::vector<dzcrash_task_region> regions = {{kBase, &fake, sizeof(fake), true}};
  for (int i = 0; i < 3; ++i) {
    const uint64_t address = kNames + static_cast<uint64_t>(i) * kStride;
    regions.push_back({address, names[i].data(), names[i].size(), true});
    regions.push_back({kImages + static_cast<uint64_t>(i) * kStride, &image, sizeof(image), true});
    fake.maps[i].l_addr = kImages + static_cast<uint64_t>(i) * kStride;
    fake.maps[i].l_name = reinterpret_cast<char*>(address);
    fake.maps[i].l_next = i < 2 ? reinterpret_cast<link_map*>(at(&fake.maps[i + 1])) : nullptr;
  }
  fake.debug.r_map = reinterpret_cast<link_map*>(at(&fake.maps[0]));
  dzcrash_task task;
  DZcrash_task_init_buffer(&task, regions.data(), regions.size());

  Collected walked;
  EXPECT_EQ(walk(&task, kBase, &walked), DZCRASH_OK);
  ASSERT_EQ(walked.names.size(), 3u);
  EXPECT_EQ(walked.names[0], longest);
  EXPECT_EQ(walked.names[1], endless.substr(0, DZCRASH_ASYNC_PATH_MAX - 1));
  EXPECT_EQ(walked.names[2], stopping);
  EXPECT_EQ(walked.cut, (std::vector<bool>{false, true, true}));

  // Default-initialised: like the crash path's, most of it is never touched.
  const std::unique_ptr<dzcrash_async_unlisted_images> found(new dzcrash_async_unlisted_images);
  ASSERT_TRUE(DZcrash_async_find_loaded_images(nullptr, &task, kBase, found.get()));
  ASSERT_EQ(found->count, 3u);
  EXPECT_EQ(std::string(found->images[0].name), longest);
  EXPECT_EQ(std::string(found->images[1].name),
            endless.substr(0, DZCRASH_ASYNC_PATH_MAX - 1) + DZCRASH_ASYNC_CUT_PATH_MARK);
  EXPECT_EQ(std::string(found->images[2].name), stopping + DZCRASH_ASYNC_CUT_PATH_MARK);
  EXPECT_EQ(found->images[2].header_address, kImages + 2 * kStride);
}
