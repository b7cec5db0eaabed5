// The engine's one way to the operating system: every open, read, write, sync, truncation, lock,
// rename and deletion of a database, its journal or a new database goes through here, so that the
// retry loops and the wording of I/O errors live in one place, and so that a test can put a layer
// in between that fails any chosen call (a full disk, a failing sync, a refused deletion) and
// prove that the engine survives it.
//
// An Os makes OsFiles. Each file operation is one system call that may do less than asked (a
// short read or write); the loops that finish the job (ReadFull, WriteAll, WriteGather) are built
// on those once, here, and are what the engine calls. The process uses one Os, the POSIX one,
// unless a test puts another in its place (Os::SetDefaultForTesting).
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace jet {

// What Stat tells of a file: enough to know whether it changed and which file it is.
struct FileInfo {
  uint64_t size = 0;
  int64_t modified_ns = 0;  // modification time, nanoseconds since 1970
  int64_t changed_ns = 0;   // status-change time
  uint64_t device = 0, inode = 0;
  bool regular = true;
};

enum class OpenMode {
  kRead,
  kReadWrite,
  kCreateNew,  // write, created; fails if the name exists
  kReplace,    // write, created or emptied
};

enum class FileLock { kUnlock, kShared, kExclusive };

class OsFile {
 public:
  virtual ~OsFile() = default;
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;

  const std::string& path() const { return path_; }

  // One system call each.
  virtual Result<size_t> ReadSome(uint8_t* out, size_t length, uint64_t offset) = 0;
  virtual Result<size_t> WriteSome(const struct iovec* parts, int count, uint64_t offset) = 0;
  // `data_only` leaves out times and other facts not needed to read the data back.
  virtual Status Sync(bool data_only) = 0;
  virtual Status Truncate(uint64_t length) = 0;
  virtual Result<FileInfo> Stat() = 0;
  // Sets the modification time to `ns`, or to now where only the owner may choose a time.
  virtual Status SetModifiedTime(int64_t ns) = 0;
  // Byte-range locks held by this open file (so two opens in one process exclude each other):
  // false when another holds a conflicting lock.
  virtual Result<bool> TryLock(uint64_t start, uint64_t length, FileLock kind) = 0;
  // Whether another open file holds a lock that conflicts with `kind` on the range (length 0: to
  // the end of the file and beyond).
  virtual Result<bool> LockedElsewhere(uint64_t start, uint64_t length, FileLock kind) = 0;

  // Reads up to `length` bytes, fewer only where the file ends; returns how many.
  Result<size_t> ReadFull(uint8_t* out, size_t length, uint64_t offset);
  // Reads exactly `length` bytes, reporting a file that ends first as damaged.
  Status ReadExactly(uint8_t* out, size_t length, uint64_t offset);
  // Writes every byte, however many calls that takes.
  Status WriteAll(const void* data, size_t length, uint64_t offset);
  // Writes the pieces one after another from `offset`, in as few calls as the system allows.
  Status WriteGather(const std::vector<struct iovec>& parts, uint64_t offset);

 protected:
  explicit OsFile(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

class Os {
 public:
  virtual ~Os() = default;

  virtual Result<std::unique_ptr<OsFile>> Open(const std::string& path, OpenMode mode) = 0;
  // Whether anything (a file, a folder, a dangling link) has the name.
  virtual Result<bool> Exists(const std::string& path) = 0;
  // Deletes the name; one that is not there is no error.
  virtual Status Delete(const std::string& path) = 0;
  // Gives `from` the name `to` too, never replacing a file: false when `to` exists.
  virtual Result<bool> Link(const std::string& from, const std::string& to) = 0;
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  // Makes the names created or deleted in the folder holding `path` durable.
  virtual Status SyncFolderOf(const std::string& path) = 0;
  // OK when this process may create files in `folder`; otherwise an error whose message is the
  // system's reason ("Permission denied"). Layers over the system itself need not change it.
  virtual Status CanCreateFilesIn(const std::string& folder);

  // The layer the engine uses.
  static Os& Default() { return current_ != nullptr ? *current_ : Posix(); }
  // The operating system itself.
  static Os& Posix();
  // Puts `os` in place of the default (nullptr: the POSIX one again); returns the one it replaced.
  // Files opened before keep the layer that opened them.
  static Os* SetDefaultForTesting(Os* os);

 private:
  static Os* current_;  // nullptr: the POSIX one
};

// The error of a failed system call (`error_number`) on `path`: what failed, the system's words
// for why, and what the user can do about it.
Error OsError(const std::string& path, const std::string& what, int error_number);

}  // namespace jet
