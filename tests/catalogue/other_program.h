// Other programs for tests that share a database with them: a change made in another process,
// and another process holding a lock for as long as the test needs.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "jet/file/pager.h"
#include "tests/jet/process_support.h"

namespace velloran_test {

// Runs `change` in another process (a fork, so with its own copy of what this process keeps in
// memory) and waits for it; true when it succeeded.
inline bool InAnotherProcess(const std::function<void()>& change) { return ExitedCleanly(ForkChild([&] { return change(), 0; })); }

// Another process that takes a lock (`take` returns whether it got it) and keeps it until the
// object goes away.
class LockHolder {
 public:
  explicit LockHolder(const std::function<bool()>& take) {
    int ready[2], hold[2];
    if (pipe(ready) != 0 || pipe(hold) != 0) return;
    pid_ = ForkChild([&] {
      close(ready[0]);
      close(hold[1]);
      char c = take() ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) return 2;
      while (read(hold[0], &c, 1) > 0) {
      }
      return 0;  // ending the process drops its locks
    });
    close(ready[1]);
    close(hold[0]);
    char c = 'n';
    holding_ = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
    release_ = hold[1];
  }
  ~LockHolder() {
    if (release_ >= 0) close(release_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool holding_ = false;
};

// Another program in the middle of a write to `path`: it holds the writer lock until the object
// goes away. Null when it could not start the write.
inline std::unique_ptr<LockHolder> AnotherProgramWriting(const std::string& path) {
  auto writer = std::make_unique<LockHolder>([&] {
    auto pager = jet::Pager::Open(path, jet::Pager::Mode::kReadWrite);
    // The pager stays open (the process never frees it), and so does its write.
    return pager.ok() && std::move(pager).value().release()->BeginWrite().ok();
  });
  return writer->holding() ? std::move(writer) : nullptr;
}

// Access holding a database open: a lock file `ldb` beside it in which another process holds a
// lock. Null when it could not take the lock.
inline std::unique_ptr<LockHolder> AccessHoldingOpen(const std::string& ldb) {
  std::ofstream(ldb) << "HOST";
  auto access = std::make_unique<LockHolder>([&] {
    const int fd = ::open(ldb.c_str(), O_RDWR);
    struct flock fl {.l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = 0, .l_len = 1, .l_pid = 0};
    return fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0;
  });
  return access->holding() ? std::move(access) : nullptr;
}

}  // namespace velloran_test
