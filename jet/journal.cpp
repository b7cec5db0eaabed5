#include "jet/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "jet/bytes.h"

namespace jet {

namespace {

constexpr char kMagic[8] = {'V', 'L', 'R', 'N', 'J', 'R', 'N', 'L'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 32;

// FNV-1a over the bytes; enough to tell a torn or stale record from a whole one.
uint32_t Checksum(const uint8_t* data, size_t length, uint32_t seed = 2166136261u) {
  uint32_t h = seed;
  for (size_t i = 0; i < length; ++i) {
    h ^= data[i];
    h *= 16777619u;
  }
  return h;
}

Error IoError(const std::string& path, const std::string& what) {
  return Error(ErrorCode::kIo, path + ": " + what + " (" + std::strerror(errno) + ")");
}

Status WriteAll(int fd, const std::string& path, const void* data, size_t length, off_t offset) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t n = pwrite(fd, p + done, length - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError(path, "cannot write");
    }
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string JournalPath(const std::string& database_path) { return database_path + "-journal"; }

Status SyncDirectoryOf(const std::string& path) {
  std::string dir = DirectoryOf(path);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return IoError(dir, "cannot open the folder to make a change durable");
  int rc = fsync(fd);
  close(fd);
  if (rc != 0) return IoError(dir, "cannot make a change of the folder durable");
  return Status::Ok();
}

JournalWriter::~JournalWriter() {
  if (fd_ >= 0) close(fd_);
}

Result<std::unique_ptr<JournalWriter>> JournalWriter::Create(const std::string& database_path, uint32_t page_size,
                                                              uint32_t page_count) {
  std::string path = JournalPath(database_path);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return IoError(path, "cannot create the journal that keeps the database safe during a change");
  std::unique_ptr<JournalWriter> writer(new JournalWriter(path, fd, page_size));
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, kMagic, sizeof kMagic);
  Put32(header + 8, kVersion);
  Put32(header + 12, page_size);
  Put32(header + 16, page_count);
  Put32(header + 20, Checksum(header, 20));
  JET_RETURN_IF_ERROR(WriteAll(fd, path, header, kHeaderSize, 0));
  writer->offset_ = kHeaderSize;
  return writer;
}

// Records go straight to the file (nothing counts until Sync): copying every page into a buffer
// first cost more than the writing itself on large writes.
Status JournalWriter::Append(uint32_t page, const uint8_t* original) {
  uint8_t number[4];
  Put32(number, page);
  uint8_t tail[4];
  Put32(tail, Checksum(original, page_size_, Checksum(number, 4)));
  struct iovec parts[3] = {{number, 4}, {const_cast<uint8_t*>(original), page_size_}, {tail, 4}};
  const size_t length = 4 + page_size_ + 4;
  ssize_t n;
  do {
    n = pwritev(fd_, parts, 3, offset_);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return IoError(path_, "cannot write");
  if (static_cast<size_t>(n) < length) {
    // A short write: the rest, as one piece.
    std::string record(reinterpret_cast<const char*>(number), 4);
    record.append(reinterpret_cast<const char*>(original), page_size_);
    record.append(reinterpret_cast<const char*>(tail), 4);
    JET_RETURN_IF_ERROR(WriteAll(fd_, path_, record.data() + n, length - static_cast<size_t>(n), offset_ + n));
  }
  offset_ += static_cast<off_t>(length);
  return Status::Ok();
}

Status JournalWriter::Sync() {
  if (fdatasync(fd_) != 0) return IoError(path_, "cannot make the journal durable");
  return SyncDirectoryOf(path_);
}

Status RemoveJournal(const std::string& database_path) {
  std::string path = JournalPath(database_path);
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return IoError(path, "cannot remove the journal of a finished change");
  return SyncDirectoryOf(path);
}

Status RecoverJournal(const std::string& database_path, int fd, uint32_t page_size, bool* recovered) {
  *recovered = false;
  std::string path = JournalPath(database_path);
  int jfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (jfd < 0) {
    if (errno == ENOENT) return Status::Ok();
    return IoError(path, "cannot read the journal of an unfinished change");
  }
  struct stat st;
  std::vector<uint8_t> data;
  if (fstat(jfd, &st) == 0 && st.st_size > 0) {
    data.resize(static_cast<size_t>(st.st_size));
    ssize_t n = pread(jfd, data.data(), data.size(), 0);
    data.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  close(jfd);
  // A journal without a whole header was cut short before any database page was touched.
  bool valid = data.size() >= kHeaderSize && std::memcmp(data.data(), kMagic, sizeof kMagic) == 0 &&
               Get32(data.data() + 20) == Checksum(data.data(), 20) && Get32(data.data() + 12) == page_size;
  if (valid) {
    uint32_t original_pages = Get32(data.data() + 16);
    size_t record = 4 + page_size + 4;
    for (size_t at = kHeaderSize; at + record <= data.size(); at += record) {
      const uint8_t* r = data.data() + at;
      if (Get32(r + 4 + page_size) != Checksum(r + 4, page_size, Checksum(r, 4))) break;
      JET_RETURN_IF_ERROR(WriteAll(fd, database_path, r + 4, page_size, static_cast<off_t>(Get32(r)) * page_size));
    }
    if (ftruncate(fd, static_cast<off_t>(original_pages) * page_size) != 0) {
      return IoError(database_path, "cannot restore the database's length after an unfinished change");
    }
    if (fsync(fd) != 0) return IoError(database_path, "cannot make the restored database durable");
    *recovered = true;
  }
  return RemoveJournal(database_path);
}

}  // namespace jet
