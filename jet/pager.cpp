#include "jet/pager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace jet {

namespace {

Error IoError(const std::string& path, const std::string& what) {
  return Error(ErrorCode::kIo, path + ": " + what + " (" + std::strerror(errno) + ")");
}

// Reads exactly `length` bytes at `offset`, or reports how far it got.
Status ReadFully(int fd, const std::string& path, uint8_t* out, size_t length, off_t offset) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, out + done, length - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError(path, "cannot read");
    }
    if (n == 0) return Error(ErrorCode::kCorrupt, path + ": the file ended while reading at byte " + std::to_string(offset + done));
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

}  // namespace

Pager::~Pager() {
  if (fd_ >= 0) close(fd_);
}

Result<std::unique_ptr<Pager>> Pager::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return IoError(path, "cannot open the file");
  std::unique_ptr<Pager> pager(new Pager(path, fd));
  struct stat st;
  if (fstat(fd, &st) != 0) return IoError(path, "cannot read the file's size");
  if (!S_ISREG(st.st_mode)) return Error(ErrorCode::kNotDatabase, path + ": not a regular file");
  if (st.st_size < 2048) {
    return Error(ErrorCode::kNotDatabase, path + ": not an Access database (the file is only " +
                                              std::to_string(st.st_size) + " bytes long)");
  }
  uint8_t first[4096];
  size_t first_length = st.st_size < 4096 ? static_cast<size_t>(st.st_size) : 4096;
  JET_RETURN_IF_ERROR(ReadFully(fd, path, first, first_length, 0));
  JET_ASSIGN_OR_RETURN(pager->header_, DecodeHeader(first, first_length, path));
  pager->format_ = &Format::For(pager->header_.version);
  uint64_t pages = static_cast<uint64_t>(st.st_size) / pager->format_->page_size;
  if (pages > 0xFFFFFF) {
    return Error(ErrorCode::kUnsupported, path + ": the file is larger than an Access database can be");
  }
  pager->page_count_ = static_cast<uint32_t>(pages);
  pager->cache_.resize(pager->page_count_);
  return pager;
}

Result<const uint8_t*> Pager::ReadPage(uint32_t page) {
  if (page >= page_count_) {
    return Corrupt(page, "the page lies past the end of the file (" + std::to_string(page_count_) + " pages)");
  }
  auto& slot = cache_[page];
  if (!slot) {
    auto buffer = std::make_unique<uint8_t[]>(page_size());
    JET_RETURN_IF_ERROR(ReadFully(fd_, path_, buffer.get(), page_size(), static_cast<off_t>(page) * page_size()));
    slot = std::move(buffer);
  }
  return static_cast<const uint8_t*>(slot.get());
}

Result<const uint8_t*> Pager::ReadPageOfType(uint32_t page, uint8_t type, const char* what) {
  JET_ASSIGN_OR_RETURN(const uint8_t* data, ReadPage(page));
  if (data[0] != type) {
    return Corrupt(page, std::string("expected ") + what + " page (type " + std::to_string(type) +
                             ") but found page type " + std::to_string(data[0]));
  }
  return data;
}

Error Pager::Corrupt(uint32_t page, const std::string& what) const {
  return Error(ErrorCode::kCorrupt, path_ + ", page " + std::to_string(page) + ": " + what);
}

}  // namespace jet
