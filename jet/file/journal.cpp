#include "jet/file/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "jet/base/bytes.h"

namespace jet {

namespace {

constexpr char kMagic[8] = {'V', 'L', 'R', 'N', 'J', 'R', 'N', 'L'};
constexpr uint32_t kByteChecksumVersion = 1;
constexpr uint32_t kVersion = 2;
constexpr size_t kHeaderSize = 32;

// FNV-1a over the bytes; enough to tell a torn or stale record from a whole one. Headers, and the
// records of version 1 journals.
uint32_t Checksum(const uint8_t* data, size_t length, uint32_t seed = 2166136261u) {
  uint32_t h = seed;
  for (size_t i = 0; i < length; ++i) {
    h ^= data[i];
    h *= 16777619u;
  }
  return h;
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// Version 2 records: the page number and the page bytes as little-endian words mixed into four
// independent lanes (multiply, rotate, multiply), then folded and scrambled, so that a torn record
// (sectors of old bytes among new) or a stale one fails the check all but certainly.
uint32_t LaneChecksum(uint32_t page, const uint8_t* data, size_t length) {
  constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull, kPrime2 = 0xC2B2AE3D27D4EB4Full;
  auto mix = [](uint64_t lane, uint64_t word) { return std::rotl(lane + word * kPrime2, 31) * kPrime1; };
  uint64_t lane[4] = {kPrime1 + page, kPrime2 ^ page, ~static_cast<uint64_t>(page), page * kPrime1 + length};
  size_t i = 0;
  for (; i + 32 <= length; i += 32) {
    for (int k = 0; k < 4; ++k) lane[k] = mix(lane[k], Load64(data + i + 8 * k));
  }
  for (; i < length; ++i) lane[i % 4] = mix(lane[i % 4], data[i]);  // page sizes leave none; kept for safety
  uint64_t h = std::rotl(lane[0], 1) + std::rotl(lane[1], 7) + std::rotl(lane[2], 12) + std::rotl(lane[3], 18);
  for (int k = 0; k < 4; ++k) h = (h ^ mix(0, lane[k])) * kPrime1 + kPrime2;
  h ^= h >> 29;
  h *= kPrime2;
  h ^= h >> 32;
  return static_cast<uint32_t>(h);
}

uint32_t RecordChecksum(uint32_t version, const uint8_t* record, uint32_t page_size) {
  if (version == kByteChecksumVersion) return Checksum(record + 4, page_size, Checksum(record, 4));
  return LaneChecksum(Get32(record), record + 4, page_size);
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

// Writes every piece of `parts`, one after another from `offset`, in as few calls as the system
// allows; returns the bytes written.
Result<size_t> WriteParts(int fd, const std::string& path, const std::vector<struct iovec>& parts, off_t offset) {
  size_t total = 0;
  for (const struct iovec& part : parts) total += part.iov_len;
  ssize_t n;
  do {
    n = pwritev(fd, parts.data(), static_cast<int>(parts.size()), offset);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return IoError(path, "cannot write at byte " + std::to_string(offset));
  // A short write: the rest, piece by piece from where it stopped.
  size_t done = static_cast<size_t>(n);
  size_t skipped = 0;
  for (const struct iovec& part : parts) {
    if (done < skipped + part.iov_len) {
      const size_t in_part = done - skipped;
      JET_RETURN_IF_ERROR(WriteAll(fd, path, static_cast<const uint8_t*>(part.iov_base) + in_part, part.iov_len - in_part,
                                   offset + static_cast<off_t>(done)));
      done += part.iov_len - in_part;
    }
    skipped += part.iov_len;
  }
  return total;
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
  return std::unique_ptr<JournalWriter>(new JournalWriter(path, fd, page_size, page_count));
}

Status JournalWriter::Append(uint32_t page, const uint8_t* original) {
  const size_t at = frames_.size();
  frames_.resize(at + 8);
  Put32(frames_.data() + at, page);
  Put32(frames_.data() + at + 4, LaneChecksum(page, original, page_size_));
  originals_.push_back(original);
  return Status::Ok();
}

Status JournalWriter::Sync() {
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, kMagic, sizeof kMagic);
  Put32(header + 8, kVersion);
  Put32(header + 12, page_size_);
  Put32(header + 16, page_count_);
  Put32(header + 20, Checksum(header, 20));
  // Three pieces a record (number, page, checksum) and the header in the first call.
  constexpr size_t kRecordsPerCall = 256;
  std::vector<struct iovec> parts;
  parts.reserve(1 + 3 * std::min(kRecordsPerCall, originals_.size()));
  parts.push_back({header, kHeaderSize});
  off_t offset = 0;
  size_t first = 0;
  do {
    const size_t end = std::min(originals_.size(), first + kRecordsPerCall);
    for (size_t i = first; i < end; ++i) {
      uint8_t* frame = frames_.data() + 8 * i;
      parts.push_back({frame, 4});
      parts.push_back({const_cast<uint8_t*>(originals_[i]), page_size_});
      parts.push_back({frame + 4, 4});
    }
    JET_ASSIGN_OR_RETURN(size_t written, WriteParts(fd_, path_, parts, offset));
    offset += static_cast<off_t>(written);
    parts.clear();
    first = end;
  } while (first < originals_.size());
  if (fdatasync(fd_) != 0) return IoError(path_, "cannot make the journal durable");
  return SyncDirectoryOf(path_);
}

Status JournalWriter::Void() {
  // Why no step can lose a finished write or keep half of one, power cut or not:
  //  - until the zeros are durable, the journal is whole and durable (Sync): a cut undoes the
  //    write, which has not been reported done;
  //  - the zeros fit one sector, and a header torn between zeros and the old bytes fails its
  //    checksum as surely as zeros do: once written, no outcome undoes anything, and every page of
  //    the write was durable before (the caller synced the database first);
  //  - after the sync the journal is void on disk, so it does not matter whether its deletion
  //    (Delete) reaches the disk: a journal brought back by a cut is deleted unused (RecoverJournal).
  const uint8_t zeros[kHeaderSize] = {};
  JET_RETURN_IF_ERROR(WriteAll(fd_, path_, zeros, kHeaderSize, 0));
  if (fdatasync(fd_) != 0) return IoError(path_, "cannot make the change durable");
  return Status::Ok();
}

Status JournalWriter::Delete() {
  if (unlink(path_.c_str()) != 0 && errno != ENOENT) return IoError(path_, "cannot remove the journal of a finished change");
  return Status::Ok();
}

Status WritePages(int fd, const std::string& path, std::vector<std::pair<uint32_t, const uint8_t*>> pages,
                  uint32_t page_size, const std::function<void()>& after_page) {
  std::sort(pages.begin(), pages.end());
  constexpr size_t kMaxRun = 256;  // well under any system's limit on pieces per call
  std::vector<struct iovec> parts;
  for (size_t first = 0; first < pages.size();) {
    size_t end = first + 1;
    while (end < pages.size() && end - first < kMaxRun && pages[end].first == pages[end - 1].first + 1) ++end;
    parts.clear();
    for (size_t i = first; i < end; ++i) parts.push_back({const_cast<uint8_t*>(pages[i].second), page_size});
    const off_t offset = static_cast<off_t>(pages[first].first) * page_size;
    JET_RETURN_IF_ERROR(WriteParts(fd, path, parts, offset).status());
    for (size_t i = first; i < end; ++i) after_page();
    first = end;
  }
  return Status::Ok();
}

Status RemoveJournal(const std::string& database_path) {
  std::string path = JournalPath(database_path);
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return IoError(path, "cannot remove the journal of a finished change");
  return SyncDirectoryOf(path);
}

namespace {

// A header written whole by a writer of this page size: what makes a journal worth undoing.
bool WholeHeader(const uint8_t* data, size_t size, uint32_t page_size) {
  return size >= kHeaderSize && std::memcmp(data, kMagic, sizeof kMagic) == 0 && Get32(data + 20) == Checksum(data, 20) &&
         Get32(data + 12) == page_size;
}

}  // namespace

Result<bool> JournalUndoesAnything(const std::string& database_path, uint32_t page_size) {
  const std::string path = JournalPath(database_path);
  int jfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (jfd < 0) {
    if (errno == ENOENT) return false;
    return IoError(path, "cannot read the journal of an unfinished change");
  }
  uint8_t header[kHeaderSize];
  const ssize_t n = pread(jfd, header, sizeof header, 0);
  close(jfd);
  return n > 0 && WholeHeader(header, static_cast<size_t>(n), page_size);
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
  bool valid = WholeHeader(data.data(), data.size(), page_size);
  const uint32_t version = valid ? Get32(data.data() + 8) : 0;
  if (valid && version != kByteChecksumVersion && version != kVersion) {
    return Error(ErrorCode::kUnsupported, path + ": the journal of an unfinished change was written by a newer version of "
                                                 "this program (journal version " + std::to_string(version) +
                                                 "); open the database with that version to undo the change");
  }
  if (valid) {
    uint32_t original_pages = Get32(data.data() + 16);
    size_t record = 4 + page_size + 4;
    for (size_t at = kHeaderSize; at + record <= data.size(); at += record) {
      const uint8_t* r = data.data() + at;
      if (Get32(r + 4 + page_size) != RecordChecksum(version, r, page_size)) break;
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
