#include "jet/file/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace jet {

namespace {

// Past the 2 GiB an Access file can reach.
constexpr off_t kWriterLockByte = 0x80000000LL;
constexpr off_t kDataLockByte = 0x80000001LL;
constexpr off_t kPendingLockByte = 0x80000002LL;

struct flock LockRange(short type, off_t start, off_t length) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  return fl;
}

Error InUse(const std::string& path) {
  return Error(ErrorCode::kLocked, path + ": the database is in use by another program that is changing it; try again when it has finished");
}

Status AcquireByte(int fd, const std::string& path, short type, off_t byte, int timeout_ms) {
  struct flock fl = LockRange(type, byte, 1);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return Status::Ok();
    if (errno != EAGAIN && errno != EACCES) {
      return Error(ErrorCode::kIo, path + ": cannot lock the database (" + std::strerror(errno) + ")");
    }
    if (std::chrono::steady_clock::now() >= deadline) return InUse(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ReleaseByte(int fd, off_t byte) {
  struct flock fl = LockRange(F_UNLCK, byte, 1);
  fcntl(fd, F_OFD_SETLK, &fl);
}

}  // namespace

Status AcquireWriterLock(int fd, const std::string& path, int timeout_ms) {
  return AcquireByte(fd, path, F_WRLCK, kWriterLockByte, timeout_ms);
}

void ReleaseWriterLock(int fd) {
  struct flock fl = LockRange(F_UNLCK, kWriterLockByte, 1);
  fcntl(fd, F_OFD_SETLK, &fl);
}

Result<bool> WriterLockHeldElsewhere(int fd, const std::string& path) {
  struct flock fl = LockRange(F_WRLCK, kWriterLockByte, 1);
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) {
    return Error(ErrorCode::kIo, path + ": cannot test the database's lock (" + std::strerror(errno) + ")");
  }
  return fl.l_type != F_UNLCK;
}

// The pending byte is held by both sides only on the way in: by a writer (exclusively) while it
// waits for the data byte, and by a reader (shared) while it takes the data byte. So while a writer
// waits, new readers queue behind it instead of overlapping the ones already reading, and the writer
// gets in as soon as those finish; without it a steady stream of readers could hold the data byte
// for as long as they liked and time the writer out.
Status AcquireDataLock(int fd, const std::string& path, LockKind kind, int timeout_ms) {
  short type = kind == LockKind::kShared ? F_RDLCK : F_WRLCK;
  static_assert(kPendingLockByte == kDataLockByte + 1);
  if (kind == LockKind::kShared) {
    // Readers come and go often: when no writer holds or waits, both bytes in one call.
    struct flock both = LockRange(F_RDLCK, kDataLockByte, 2);
    if (fcntl(fd, F_OFD_SETLK, &both) == 0) {
      ReleaseByte(fd, kPendingLockByte);
      return Status::Ok();
    }
  }
  auto started = std::chrono::steady_clock::now();
  JET_RETURN_IF_ERROR(AcquireByte(fd, path, type, kPendingLockByte, timeout_ms));
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  Status status = AcquireByte(fd, path, type, kDataLockByte, std::max<int>(0, timeout_ms - static_cast<int>(waited)));
  ReleaseByte(fd, kPendingLockByte);
  return status;
}

void ReleaseDataLock(int fd) { ReleaseByte(fd, kDataLockByte); }

std::string AccessLockFilePath(const std::string& database_path) {
  std::string stem = database_path;
  std::string extension;
  size_t dot = stem.find_last_of('.');
  size_t slash = stem.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    extension = stem.substr(dot);
    stem.resize(dot);
  }
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return stem + (extension == ".accdb" ? ".laccdb" : ".ldb");
}

Status CheckAccessLockFile(const std::string& database_path) {
  const std::string lock_path = AccessLockFilePath(database_path);
  int fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::Ok();
  // A lock file left behind by a program that ended holds no locks: it is ignored.
  struct flock fl = LockRange(F_WRLCK, 0, 0);
  bool held = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  close(fd);
  if (held) {
    return Error(ErrorCode::kLocked, database_path + ": the database is open in Access or another program (" + lock_path +
                                         " is in use); close it there and try again");
  }
  return Status::Ok();
}

}  // namespace jet
