#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestEnvironment.h"

namespace quorvelle::test {

struct ProgramRun {
  // The exit status, or -1 when the program did not exit normally (or could not be started).
  int status = -1;
  // The signal that ended the program, or 0 when it exited.
  int termSignal = 0;
  std::string out;
  std::string err;
};

// Runs argv[0] (a path) with its output in files of `dir`, so that neither stream can fill up and stall
// it, and waits for it. `environment` holds variables set for the program (on top of this process's).
ProgramRun runProgram(const std::vector<std::string>& argv, const TempDir& dir,
                      const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace quorvelle::test
