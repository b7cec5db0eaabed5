// An operating system whose disk fails as a test says: full, an I/O error, a short write, a refused
// creation, rename or deletion, at the calls the test chooses.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "jet/file/os.h"

namespace velloran_test {

// The calls that change the disk.
enum class DiskCall { kWrite, kSync, kTruncate, kStamp, kCreate, kDelete, kLink, kRename };

// Each call that changes the disk goes first to `decide`, which lets it go ahead (0), has a write
// write half of what it was given (-1), or fails it with that errno. With `no_links` it is a file
// system without hard links, as some network shares are. Reads always go ahead.
class FaultyOs final : public jet::Os {
 public:
  explicit FaultyOs(std::function<int(DiskCall)> decide, bool no_links = false) : decide_(std::move(decide)), no_links_(no_links) {}

  int Decide(DiskCall call) { return decide_(call); }
  jet::Status Gate(DiskCall call, const std::string& path, const char* what) {
    const int decided = Decide(call);
    return decided > 0 ? jet::Status(jet::OsError(path, what, decided)) : jet::Status::Ok();
  }

  jet::Result<std::unique_ptr<jet::OsFile>> Open(const std::string& path, jet::OpenMode mode) override {
    if (mode == jet::OpenMode::kCreateNew || mode == jet::OpenMode::kReplace)
      JET_RETURN_IF_ERROR(Gate(DiskCall::kCreate, path, "cannot create the file"));
    JET_ASSIGN_OR_RETURN(auto real, real_.Open(path, mode));
    return std::unique_ptr<jet::OsFile>(new File(*this, std::move(real)));
  }
  jet::Result<bool> Exists(const std::string& path) override { return real_.Exists(path); }
  jet::Status Delete(const std::string& path) override {
    JET_RETURN_IF_ERROR(Gate(DiskCall::kDelete, path, "cannot delete the file"));
    return real_.Delete(path);
  }
  jet::Result<bool> Link(const std::string& from, const std::string& to) override {
    if (no_links_) return jet::OsError(to, "cannot create the file", EPERM);
    JET_RETURN_IF_ERROR(Gate(DiskCall::kLink, to, "cannot create the file"));
    return real_.Link(from, to);
  }
  jet::Status Rename(const std::string& from, const std::string& to) override {
    JET_RETURN_IF_ERROR(Gate(DiskCall::kRename, to, "cannot give the file its name"));
    return real_.Rename(from, to);
  }
  jet::Status SyncFolderOf(const std::string& path) override {
    JET_RETURN_IF_ERROR(Gate(DiskCall::kSync, path, "cannot make a change of the folder durable"));
    return real_.SyncFolderOf(path);
  }

 private:
  class File final : public jet::OsFile {
   public:
    File(FaultyOs& os, std::unique_ptr<jet::OsFile> real) : OsFile(real->path()), os_(os), real_(std::move(real)) {}

    jet::Result<size_t> ReadSome(uint8_t* out, size_t length, uint64_t offset) override { return real_->ReadSome(out, length, offset); }
    jet::Result<size_t> WriteSome(const struct iovec* parts, int count, uint64_t offset) override {
      const int decided = os_.Decide(DiskCall::kWrite);
      if (decided > 0) return jet::OsError(path(), "cannot write at byte " + std::to_string(offset), decided);
      if (decided == 0) return real_->WriteSome(parts, count, offset);
      const struct iovec half = {parts[0].iov_base, std::max<size_t>(1, parts[0].iov_len / 2)};
      return real_->WriteSome(&half, 1, offset);
    }
    jet::Status Sync(bool data_only) override {
      JET_RETURN_IF_ERROR(os_.Gate(DiskCall::kSync, path(), "cannot make the change durable"));
      return real_->Sync(data_only);
    }
    jet::Status Truncate(uint64_t length) override {
      JET_RETURN_IF_ERROR(os_.Gate(DiskCall::kTruncate, path(), "cannot set the file's length"));
      return real_->Truncate(length);
    }
    jet::Status SetModifiedTime(int64_t ns) override {
      JET_RETURN_IF_ERROR(os_.Gate(DiskCall::kStamp, path(), "cannot record the change's time"));
      return real_->SetModifiedTime(ns);
    }
    jet::Result<jet::FileInfo> Stat() override { return real_->Stat(); }
    jet::Result<bool> TryLock(uint64_t start, uint64_t length, jet::FileLock kind) override { return real_->TryLock(start, length, kind); }
    jet::Result<bool> LockedElsewhere(uint64_t start, uint64_t length, jet::FileLock kind) override {
      return real_->LockedElsewhere(start, length, kind);
    }

   private:
    FaultyOs& os_;
    std::unique_ptr<jet::OsFile> real_;
  };

  std::function<int(DiskCall)> decide_;
  bool no_links_;
  jet::Os& real_ = jet::Os::Posix();
};

}  // namespace velloran_test
