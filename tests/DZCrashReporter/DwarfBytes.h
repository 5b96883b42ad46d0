#pragma once

// Little-endian byte strings for call-frame information tests: fixed-size values, LEB128 values,
// strings, and CIE/FDE records whose length fields are filled in when they are closed. A Memory places
// byte strings at chosen addresses in a buffer task.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DZCrashReporter/core/DZCrashAsyncTask.h"

namespace dzcrash::test {

// Every test section is little-endian.
inline const dzcrash_async_byteorder_t* le() {
  return DZcrash_async_byteorder_little_endian();
}

class DwarfBytes {
 public:
  DwarfBytes& u8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  DwarfBytes& u16(uint16_t v) { return raw(&v, 2); }
  DwarfBytes& u32(uint32_t v) { return raw(&v, 4); }
  DwarfBytes& u64(uint64_t v) { return raw(&v, 8); }
  DwarfBytes& uleb(uint64_t v) {
    do {
      uint8_t byte = v & 0x7F;
      v >>= 7;
      if (v != 0) byte |= 0x80;
      bytes_.push_back(byte);
    } while (v != 0);
    return *this;
  }
  DwarfBytes& sleb(int64_t v) {
    bool more = true;
    while (more) {
      uint8_t byte = v & 0x7F;
      v >>= 7;
      more = !((v == 0 && (byte & 0x40) == 0) || (v == -1 && (byte & 0x40) != 0));
      if (more) byte |= 0x80;
      bytes_.push_back(byte);
    }
    return *this;
  }
  DwarfBytes& str(const std::string& s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
    return *this;
  }
  DwarfBytes& bytes(std::initializer_list<uint8_t> list) {
    bytes_.insert(bytes_.end(), list.begin(), list.end());
    return *this;
  }
  DwarfBytes& raw(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
    return *this;
  }

  // Starts a record with a 32-bit length (or the 64-bit escape and a 64-bit length); close() fills it.
  // Returns the record's offset.
  size_t open(bool m64 = false) {
    const size_t at = size();
    if (m64) {
      u32(0xFFFFFFFFu).u64(0);
    } else {
      u32(0);
    }
    open_.push_back({at, m64});
    return at;
  }
  DwarfBytes& close() {
    const Open record = open_.back();
    open_.pop_back();
    const size_t header = record.m64 ? 12 : 4;
    const uint64_t length = size() - record.at - header;
    if (record.m64) {
      std::memcpy(&bytes_[record.at + 4], &length, 8);
    } else {
      const uint32_t length32 = static_cast<uint32_t>(length);
      std::memcpy(&bytes_[record.at], &length32, 4);
    }
    return *this;
  }

  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& data() const { return bytes_; }
  uint8_t& operator[](size_t i) { return bytes_[i]; }

 private:
  struct Open {
    size_t at;
    bool m64;
  };
  std::vector<uint8_t> bytes_;
  std::vector<Open> open_;
};

// Byte strings at chosen addresses, read through one buffer task.
class Memory {
 public:
  Memory& place(uint64_t address, std::vector<uint8_t> bytes) {
    blocks_.push_back({address, std::move(bytes)});
    regions_.clear();
    for (const Block& block : blocks_) {
      regions_.push_back({block.address, block.bytes.data(), block.bytes.size(), true});
    }
    DZcrash_task_init_buffer(&task_, regions_.data(), regions_.size());
    return *this;
  }
  dzcrash_task_t task() const { return &task_; }

 private:
  struct Block {
    uint64_t address;
    std::vector<uint8_t> bytes;
  };
  std::vector<Block> blocks_;
  std::vector<dzcrash_task_region> regions_;
  dzcrash_task task_{};
};

}  // namespace dzcrash::test
