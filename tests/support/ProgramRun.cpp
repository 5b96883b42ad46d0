#include "tests/support/ProgramRun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace quorvelle::test {

namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& argv, const TempDir& dir,
                      const std::vector<std::pair<std::string, std::string>>& environment) {
  const std::string outPath = (dir / "out.txt").string();
  const std::string errPath = (dir / "err.txt").string();
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // Built before the fork: the child of a threaded process may not allocate.
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    bool replaced = false;
    for (const auto& [name, value] : environment) replaced = replaced || variable.rfind(name + "=", 0) == 0;
    if (!replaced) variables.push_back(variable);
  }
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  ProgramRun run;
  if (child < 0) return run;
  int status = 0;
  waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

}  // namespace quorvelle::test
