// Starts itself again the way the program relaunches, for tests of the relaunch:
//   RELAUNCH_PROBE_OUT=<file> relaunch-probe
// The first copy prints its process id, starts the second copy and exits: 0 when the start succeeded.
// The second copy (it finds the relaunch mark set) writes to <file> the mark's value, then 1 when it runs
// in a session of its own and 0 otherwise. With RELAUNCH_PROBE_DELETE_SELF=1 the first copy deletes its
// own executable first, so that the start fails.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/linux/SpawnRelauncher.h"

int main() {
  const char* out = std::getenv("RELAUNCH_PROBE_OUT");
  if (out == nullptr) {
    std::fprintf(stderr, "usage: RELAUNCH_PROBE_OUT=<file> relaunch-probe\n");
    return 2;
  }
  if (const char* replaces = std::getenv(platform::SpawnRelauncher::kReplacesVariable)) {
    std::FILE* file = std::fopen(out, "w");
    if (file == nullptr) return 1;
    std::fprintf(file, "%s %d\n", replaces, ::getsid(0) == ::getpid() ? 1 : 0);
    return std::fclose(file) == 0 ? 0 : 1;
  }
  if (const char* del = std::getenv("RELAUNCH_PROBE_DELETE_SELF"); del != nullptr && del[0] == '1') {
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    self[length] = '\0';
    ::unlink(self);
  }
  std::printf("%d\n", static_cast<int>(::getpid()));
  std::fflush(stdout);
  return platform::SpawnRelauncher().launchNewInstance() ? 0 : 1;
}
