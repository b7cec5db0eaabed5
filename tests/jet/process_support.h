// Helpers for tests that run several processes against one database: starting a program with its
// output in a file, waiting for it, and reading what it wrote.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/jet/test_support.h"

namespace velloran_test {

// Starts `args[0]` with `args` and its standard output and error going to `output` (appended);
// returns its process id, or -1.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& output) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) _exit(127);
  dup2(fd, 1);
  dup2(fd, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Waits for `pid`; returns its wait status.
inline int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  return status;
}

// Runs `body` in a forked child that exits with what it returns (1 when it throws); returns the
// child's id.
inline pid_t ForkChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  try {
    _exit(body());
  } catch (...) {
    _exit(1);
  }
}

// Waits for `pid`; true when it exited with 0.
inline bool ExitedCleanly(pid_t pid) {
  const int status = WaitFor(pid);
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs a program to its end; returns its exit code (-1 when it did not exit normally) and what it
// printed in `*out`.
inline int RunToEnd(const std::vector<std::string>& args, const std::string& scratch_file, std::string* out) {
  ::unlink(scratch_file.c_str());
  pid_t pid = Spawn(args, scratch_file);
  if (pid < 0) return -1;
  int status = WaitFor(pid);
  *out = ReadWholeFile(scratch_file);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace velloran_test
