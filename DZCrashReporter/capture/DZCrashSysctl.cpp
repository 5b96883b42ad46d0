#include "DZCrashReporter/capture/DZCrashSysctl.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace dzcrash {

namespace {

// "kernel.osrelease" -> "/proc/sys/kernel/osrelease"; names that could leave the tree are refused.
bool pathOf(const char* name, std::string* path) {
  if (name == nullptr || name[0] == '\0' || std::strstr(name, "..") != nullptr || std::strchr(name, '/')) {
    return false;
  }
  *path = "/proc/sys/";
  for (const char* c = name; *c != '\0'; ++c) path->push_back(*c == '.' ? '/' : *c);
  return true;
}

}  // namespace

char* DZcrash_sysctl_string(const char* name) {
  std::string path;
  if (!pathOf(name, &path)) {
    errno = ENOENT;
    return nullptr;
  }
  FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return nullptr;
  size_t capacity = 256;
  size_t length = 0;
  char* value = static_cast<char*>(std::malloc(capacity));
  while (value != nullptr) {
    length += std::fread(value + length, 1, capacity - length - 1, file);
    if (length < capacity - 1) break;
    capacity *= 2;
    char* grown = static_cast<char*>(std::realloc(value, capacity));
    if (grown == nullptr) std::free(value);
    value = grown;
  }
  const bool failed = value == nullptr || std::ferror(file) != 0;
  const int savedErrno = value == nullptr ? ENOMEM : errno;
  std::fclose(file);
  if (failed) {
    std::free(value);
    errno = savedErrno != 0 ? savedErrno : EIO;
    return nullptr;
  }
  while (length > 0 && value[length - 1] == '\n') --length;
  value[length] = '\0';
  return value;
}

bool DZcrash_sysctl_int(const char* name, int32_t* result) {
  char* text = DZcrash_sysctl_string(name);
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  const bool ok = end != text && *end == '\0' && errno == 0 && value >= INT32_MIN && value <= INT32_MAX;
  std::free(text);
  if (ok) *result = static_cast<int32_t>(value);
  return ok;
}

size_t DZcrash_sysctl_valid_utf8_bytes_max(const uint8_t* string, size_t limit) {
  size_t count = 0;
  if (limit > 2 && string[0] == 0xEF && string[1] == 0xBB && string[2] == 0xBF) count = 3;
  while (count < limit && string[count] != 0) {
    const uint8_t lead = string[count];
    size_t continuation = 0;
    if (lead < 0x80) {
      continuation = 0;
    } else if (lead >= 0xC0 && lead <= 0xDF) {
      continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuation = 2;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
      continuation = 3;
    } else {
      break;
    }
    if (continuation >= limit - count) break;
    bool valid = true;
    for (size_t i = 1; i <= continuation && valid; ++i)
      valid = string[count + i] >= 0x80 && string[count + i] <= 0xBF;
    if (!valid) break;
    count += continuation + 1;
  }
  return count;
}

size_t DZcrash_sysctl_valid_utf8_bytes(const uint8_t* string) {
  return DZcrash_sysctl_valid_utf8_bytes_max(string, SIZE_MAX);
}

}  // namespace dzcrash
