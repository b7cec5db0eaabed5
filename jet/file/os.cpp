#include "jet/file/os.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace jet {

namespace {

// What a user can do about a failed call, by the system's reason.
const char* Advice(int error_number) {
  switch (error_number) {
    case ENOSPC:
    case EDQUOT:
      return "the disk is full: free some space on it and try again";
    case EIO:
      return "the disk reported a fault: check it, or copy the database to another disk, and try again";
    case EACCES:
    case EPERM:
      return "check that you may change the file and the folder it is in";
    case EROFS:
      return "the disk is read-only: copy the database to a disk you can write to";
    case ENOENT:
      return "check that the file and its folder are still there";
    default:
      return "try again, and check the disk if it keeps happening";
  }
}

int64_t Nanoseconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

struct flock LockRange(short type, uint64_t start, uint64_t length) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  return fl;
}

short LockType(FileLock kind) {
  switch (kind) {
    case FileLock::kShared: return F_RDLCK;
    case FileLock::kExclusive: return F_WRLCK;
    case FileLock::kUnlock: break;
  }
  return F_UNLCK;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

class PosixFile final : public OsFile {
 public:
  PosixFile(std::string path, int fd) : OsFile(std::move(path)), fd_(fd) {}
  ~PosixFile() override { close(fd_); }

  Result<size_t> ReadSome(uint8_t* out, size_t length, uint64_t offset) override {
    ssize_t n;
    do {
      n = pread(fd_, out, length, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return OsError(path(), "cannot read at byte " + std::to_string(offset), errno);
    return static_cast<size_t>(n);
  }

  Result<size_t> WriteSome(const struct iovec* parts, int count, uint64_t offset) override {
    ssize_t n;
    do {
      n = count == 1 ? pwrite(fd_, parts[0].iov_base, parts[0].iov_len, static_cast<off_t>(offset))
                     : pwritev(fd_, parts, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return OsError(path(), "cannot write at byte " + std::to_string(offset), errno);
    return static_cast<size_t>(n);
  }

  Status Sync(bool data_only) override {
    if ((data_only ? fdatasync(fd_) : fsync(fd_)) == 0) return Status::Ok();
    return OsError(path(), "cannot make the change durable", errno);
  }

  Status Truncate(uint64_t length) override {
    if (ftruncate(fd_, static_cast<off_t>(length)) == 0) return Status::Ok();
    return OsError(path(), "cannot set the file's length", errno);
  }

  Result<FileInfo> Stat() override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return OsError(path(), "cannot read the file's size and times", errno);
    FileInfo info;
    info.size = static_cast<uint64_t>(st.st_size);
    info.modified_ns = Nanoseconds(st.st_mtim);
    info.changed_ns = Nanoseconds(st.st_ctim);
    info.device = static_cast<uint64_t>(st.st_dev);
    info.inode = static_cast<uint64_t>(st.st_ino);
    info.regular = S_ISREG(st.st_mode);
    return info;
  }

  Status SetModifiedTime(int64_t ns) override {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = ns / 1000000000;
    times[1].tv_nsec = ns % 1000000000;
    if (futimens(fd_, times) == 0) return Status::Ok();
    // Setting a chosen time needs the file's owner; anyone who may write it may set "now".
    times[1].tv_nsec = UTIME_NOW;
    if (errno == EPERM && futimens(fd_, times) == 0) return Status::Ok();
    return OsError(path(), "cannot record the change's time", errno);
  }

  Result<bool> TryLock(uint64_t start, uint64_t length, FileLock kind) override {
    struct flock fl = LockRange(LockType(kind), start, length);
    if (fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) return false;
    return OsError(path(), "cannot lock the database", errno);
  }

  Result<bool> LockedElsewhere(uint64_t start, uint64_t length, FileLock kind) override {
    struct flock fl = LockRange(LockType(kind), start, length);
    if (fcntl(fd_, F_OFD_GETLK, &fl) != 0) return OsError(path(), "cannot test the database's lock", errno);
    return fl.l_type != F_UNLCK;
  }

 private:
  int fd_;
};

class PosixOs final : public Os {
 public:
  Result<std::unique_ptr<OsFile>> Open(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kRead: flags |= O_RDONLY; break;
      case OpenMode::kReadWrite: flags |= O_RDWR; break;
      case OpenMode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
      case OpenMode::kReplace: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
      const int error_number = errno;
      Error error = OsError(path, mode == OpenMode::kRead || mode == OpenMode::kReadWrite ? "cannot open the file" : "cannot create the file",
                            error_number);
      if (mode != OpenMode::kRead && (error_number == EACCES || error_number == EROFS || error_number == EPERM)) {
        return Error(ErrorCode::kReadOnly, error.message());
      }
      return error;
    }
    return std::unique_ptr<OsFile>(new PosixFile(path, fd));
  }

  Result<bool> Exists(const std::string& path) override {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;
    return OsError(path, "cannot look at the file", errno);
  }

  Status Delete(const std::string& path) override {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
    return OsError(path, "cannot delete the file", errno);
  }

  Result<bool> Link(const std::string& from, const std::string& to) override {
    if (link(from.c_str(), to.c_str()) == 0) return true;
    if (errno == EEXIST) return false;
    return OsError(to, "cannot create the file", errno);
  }

  Status Rename(const std::string& from, const std::string& to) override {
    if (rename(from.c_str(), to.c_str()) == 0) return Status::Ok();
    return OsError(to, "cannot give the file its name", errno);
  }

  Status SyncFolderOf(const std::string& path) override {
    const std::string folder = FolderOf(path);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return OsError(folder, "cannot open the folder to make a change durable", errno);
    const int rc = fsync(fd);
    const int error_number = errno;
    close(fd);
    if (rc != 0) return OsError(folder, "cannot make a change of the folder durable", error_number);
    return Status::Ok();
  }
};

}  // namespace

Error OsError(const std::string& path, const std::string& what, int error_number) {
  return Error(ErrorCode::kIo, path + ": " + what + " (" + std::strerror(error_number) + "); " + Advice(error_number));
}

Os* Os::current_ = nullptr;

Status Os::CanCreateFilesIn(const std::string& folder) {
  if (access(folder.c_str(), W_OK | X_OK) == 0) return Status::Ok();
  return Error(ErrorCode::kIo, std::strerror(errno));
}

Os& Os::Posix() {
  static PosixOs posix;
  return posix;
}

Os* Os::SetDefaultForTesting(Os* os) {
  Os* previous = &Default();
  current_ = os;
  return previous;
}

Result<size_t> OsFile::ReadFull(uint8_t* out, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    JET_ASSIGN_OR_RETURN(size_t n, ReadSome(out + done, length - done, offset + done));
    if (n == 0) break;
    done += n;
  }
  return done;
}

Status OsFile::ReadExactly(uint8_t* out, size_t length, uint64_t offset) {
  JET_ASSIGN_OR_RETURN(size_t n, ReadFull(out, length, offset));
  if (n < length) {
    return Error(ErrorCode::kCorrupt, path_ + ": the file ended while reading at byte " + std::to_string(offset + n));
  }
  return Status::Ok();
}

Status OsFile::WriteAll(const void* data, size_t length, uint64_t offset) {
  return WriteGather({{const_cast<void*>(data), length}}, offset);
}

Status OsFile::WriteGather(const std::vector<struct iovec>& parts, uint64_t offset) {
  // After a short write, the rest from where it stopped: the pieces not yet whole, the first of
  // them cut at the stop.
  std::vector<struct iovec> rest;
  const struct iovec* next = parts.data();
  size_t count = parts.size();
  while (count > 0) {
    JET_ASSIGN_OR_RETURN(size_t n, WriteSome(next, static_cast<int>(count), offset));
    if (n == 0) return OsError(path_, "cannot write at byte " + std::to_string(offset), ENOSPC);
    offset += n;
    size_t skip = 0;
    while (skip < count && n >= next[skip].iov_len) n -= next[skip++].iov_len;
    if (skip == count) break;
    std::vector<struct iovec> tail(next + skip, next + count);
    rest.swap(tail);
    rest[0].iov_base = static_cast<uint8_t*>(rest[0].iov_base) + n;
    rest[0].iov_len -= n;
    next = rest.data();
    count = rest.size();
  }
  return Status::Ok();
}

}  // namespace jet
