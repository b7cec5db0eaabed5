#include "jet/file/file_lock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace jet {

namespace {

// Past the 2 GiB an Access file can reach.
constexpr uint64_t kWriterLockByte = 0x80000000ULL;
constexpr uint64_t kDataLockByte = 0x80000001ULL;
constexpr uint64_t kPendingLockByte = 0x80000002ULL;

Error InUse(const std::string& path) {
  return Error(ErrorCode::kLocked, path + ": the database is in use by another program that is changing it; try again when it has finished");
}

Status AcquireByte(OsFile& file, FileLock kind, uint64_t byte, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    JET_ASSIGN_OR_RETURN(bool got, file.TryLock(byte, 1, kind));
    if (got) return Status::Ok();
    if (std::chrono::steady_clock::now() >= deadline) return InUse(file.path());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ReleaseByte(OsFile& file, uint64_t byte) { (void)file.TryLock(byte, 1, FileLock::kUnlock); }

}  // namespace

Status AcquireWriterLock(OsFile& file, int timeout_ms) { return AcquireByte(file, FileLock::kExclusive, kWriterLockByte, timeout_ms); }

void ReleaseWriterLock(OsFile& file) { ReleaseByte(file, kWriterLockByte); }

Result<bool> WriterLockHeldElsewhere(OsFile& file) { return file.LockedElsewhere(kWriterLockByte, 1, FileLock::kExclusive); }

// The pending byte is held by both sides only on the way in: by a writer (exclusively) while it
// waits for the data byte, and by a reader (shared) while it takes the data byte. So while a writer
// waits, new readers queue behind it instead of overlapping the ones already reading, and the writer
// gets in as soon as those finish; without it a steady stream of readers could hold the data byte
// for as long as they liked and time the writer out.
Status AcquireDataLock(OsFile& file, LockKind kind, int timeout_ms) {
  const FileLock type = kind == LockKind::kShared ? FileLock::kShared : FileLock::kExclusive;
  static_assert(kPendingLockByte == kDataLockByte + 1);
  if (kind == LockKind::kShared) {
    // Readers come and go often: when no writer holds or waits, both bytes in one call.
    auto both = file.TryLock(kDataLockByte, 2, FileLock::kShared);
    if (both.ok() && both.value()) {
      ReleaseByte(file, kPendingLockByte);
      return Status::Ok();
    }
  }
  auto started = std::chrono::steady_clock::now();
  JET_RETURN_IF_ERROR(AcquireByte(file, type, kPendingLockByte, timeout_ms));
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  Status status = AcquireByte(file, type, kDataLockByte, std::max<int>(0, timeout_ms - static_cast<int>(waited)));
  ReleaseByte(file, kPendingLockByte);
  return status;
}

void ReleaseDataLock(OsFile& file) { ReleaseByte(file, kDataLockByte); }

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
  auto file = Os::Default().Open(lock_path, OpenMode::kRead);
  if (!file.ok()) return Status::Ok();
  // A lock file left behind by a program that ended holds no locks: it is ignored.
  auto held = file.value()->LockedElsewhere(0, 0, FileLock::kExclusive);
  if (held.ok() && held.value()) {
    return Error(ErrorCode::kLocked, database_path + ": the database is open in Access or another program (" + lock_path +
                                         " is in use); close it there and try again");
  }
  return Status::Ok();
}

}  // namespace jet
