// libFuzzer target for the reader: every input is written to a private temporary file and opened
// as a database; every table's definition and every row (system tables included) is read and the
// integrity check runs over the whole file. A crash, a sanitizer report, a leak or a hang is a
// finding; so is an error that does not name the file it is about, because a user who meets it
// must be told which database is damaged.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jet/database.h"
#include "jet/check/integrity_check.h"
#include "jet/table/table_cursor.h"

namespace {

// One scratch file per fuzzing process, rewritten for every input and removed at exit.
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
  }

  const std::string& path() const { return path_; }

  void Write(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) Fail("truncate");
    size_t done = 0;
    while (done < size) {
      ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) Fail("write");
      done += static_cast<size_t>(n);
    }
  }

 private:
  [[noreturn]] static void Fail(const char* what) {
    std::perror(what);
    std::abort();
  }

  std::string path_;
  int fd_ = -1;
};

ScratchFile& Scratch() {
  static ScratchFile file;
  return file;
}

// Every error must say which file it is about.
void RequireNamesFile(const jet::Error& error, const std::string& path) {
  if (error.message().find(path) == std::string::npos) {
    std::fprintf(stderr, "velloran fuzz: an error does not name the file %s:\n  %s\n", path.c_str(),
                 error.message().c_str());
    std::abort();
  }
}

void ReadEveryTable(jet::Database& db) {
  const std::string& path = db.path();
  for (const jet::CatalogEntry& entry : db.objects()) {
    if (!entry.IsTable()) continue;
    auto def = db.ReadTable(entry.name);
    if (!def.ok()) {
      RequireNamesFile(def.error(), path);
      continue;
    }
    auto cursor = jet::TableCursor::Open(db.pager(), def.value());
    if (!cursor.ok()) {
      RequireNamesFile(cursor.error(), path);
      continue;
    }
    while (true) {
      auto more = cursor.value()->Next();
      if (!more.ok()) {
        RequireNamesFile(more.error(), path);
        break;
      }
      if (!more.value()) break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchFile& file = Scratch();
  file.Write(data, size);
  auto db = jet::Database::Open(file.path());
  if (!db.ok()) {
    RequireNamesFile(db.error(), file.path());
    return 0;
  }
  ReadEveryTable(*db.value());
  for (const std::string& problem : jet::CheckDatabase(*db.value())) {
    if (problem.find(file.path()) == std::string::npos) {
      std::fprintf(stderr, "velloran fuzz: a reported problem does not name the file:\n  %s\n", problem.c_str());
      std::abort();
    }
  }
  return 0;
}
