#pragma once

// For death tests whose child checks things itself: the registry and the handlers they install are the
// process's, so each check runs in a child of its own.

#include <unistd.h>

#include <cstdio>
#include <string>

// glibc's end of a failed assert(expression), which a child calls to fail an assertion in any build:
// <assert.h> leaves it undeclared where NDEBUG is defined (release builds). As glibc declares it.
extern "C" void __assert_fail(const char* assertion, const char* file, unsigned int line,
                              const char* function) noexcept __attribute__((__noreturn__));

namespace dzcrash::test {

// Ends the child: status 0 when `failure` is empty, else 1 with the failure on standard error, where
// the death test shows it.
[[noreturn]] inline void finish(const std::string& failure) {
  if (!failure.empty()) {
    std::fprintf(stderr, "%s\n", failure.c_str());
    _exit(1);
  }
  _exit(0);
}

}  // namespace dzcrash::test
