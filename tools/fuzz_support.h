// What the libFuzzer targets share: a private scratch file each input is written to, and the rule
// that every error and every problem the engine reports names the file it is about (and damage
// the page it lies on), because a user who meets one must be told which database is damaged. A
// breach aborts, which the fuzzer records as a finding.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace velloran_fuzz {

// One scratch file per fuzzing process, rewritten for every input and removed at exit, with
// whatever the engine left beside it (the journal of a change).
class ScratchFile {
 public:
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir != nullptr && *dir != '\0' ? dir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    path_ = base + "/velloran-fuzz-XXXXXX";
    fd_ = mkstemp(path_.data());
    if (fd_ < 0) {
      std::perror("velloran fuzz: cannot create the scratch file");
      std::abort();
    }
  }
  ~ScratchFile() {
    close(fd_);
    unlink(path_.c_str());
    RemoveCompanions();
  }

  const std::string& path() const { return path_; }

  void Write(const uint8_t* data, size_t size) {
    RemoveCompanions();
    if (ftruncate(fd_, 0) != 0) Fail("truncate");
    size_t done = 0;
    while (done < size) {
      ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) Fail("write");
      done += static_cast<size_t>(n);
    }
    // A time of its own for every input: the engine knows a file's contents by its modification
    // time and size, and two inputs written within one clock tick could otherwise look the same.
    ++inputs_;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(1000000000 + inputs_), 0}};
    if (futimens(fd_, times) != 0) Fail("futimens");
  }

  // The journal a cut-short change leaves would be undone into the next input.
  void RemoveCompanions() const { unlink((path_ + "-journal").c_str()); }

 private:
  [[noreturn]] static void Fail(const char* what) {
    std::perror(what);
    std::abort();
  }

  std::string path_;
  int fd_ = -1;
  int64_t inputs_ = 0;
};

inline ScratchFile& Scratch() {
  static ScratchFile file;
  return file;
}

inline void RequireNamesFile(const std::string& message, const std::string& path, const char* what) {
  if (message.find(path) == std::string::npos) {
    std::fprintf(stderr, "velloran fuzz: %s does not name the file %s:\n  %s\n", what, path.c_str(), message.c_str());
    std::abort();
  }
}

// Damage is found somewhere: a message about it also names the page, so that the damage can be
// looked at (and the message told apart from one about another page).
inline void RequireNamesPage(const std::string& message, const char* what) {
  for (size_t at = message.find("page "); at != std::string::npos; at = message.find("page ", at + 1)) {
    if (at + 5 < message.size() && message[at + 5] >= '0' && message[at + 5] <= '9') return;
  }
  std::fprintf(stderr, "velloran fuzz: %s does not name a page:\n  %s\n", what, message.c_str());
  std::abort();
}

inline void RequireNamesFile(const jet::Error& error, const std::string& path) {
  RequireNamesFile(error.message(), path, "an error");
  if (error.code() == jet::ErrorCode::kCorrupt) RequireNamesPage(error.message(), "an error about damage");
}

inline void RequireNamesFile(const jet::Status& status, const std::string& path) {
  if (!status.ok()) RequireNamesFile(status.error(), path);
}

inline void RequireNamesFile(const std::vector<std::string>& problems, const std::string& path) {
  for (const std::string& problem : problems) {
    RequireNamesFile(problem, path, "a reported problem");
    RequireNamesPage(problem, "a reported problem");
  }
}

}  // namespace velloran_fuzz
