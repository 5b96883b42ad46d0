#pragma once

#include <string>
#include <vector>

#include "tests/support/TestEnvironment.h"

namespace quorvelle::test {

struct ProgramRun {
  // The exit status, or -1 when the program did not exit normally (or could not be started).
  int status = -1;
  std::string out;
  std::string err;
};

// Runs argv[0] (a path) with its output in files of `dir`, so that neither stream can fill up and stall
// it, and waits for it.
ProgramRun runProgram(const std::vector<std::string>& argv, const TempDir& dir);

}  // namespace quorvelle::test
