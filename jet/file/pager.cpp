#include "jet/file/pager.h"

#include "jet/file/file_lock.h"
#include "jet/file/journal.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace jet {

namespace {

// "1 page", "3 pages": how long a file is, as a message says it.
std::string PageCount(uint32_t pages) { return std::to_string(pages) + (pages == 1 ? " page" : " pages"); }

// Sets the file's modification time to now, to the nanosecond, and strictly after the time it
// has. The kernel stamps a write with the time of its last clock tick, so two changes within a
// tick could leave the same time behind; a time set here differs from any tick's (see Refresh).
Status StampAfterNow(OsFile& file) {
  JET_ASSIGN_OR_RETURN(FileInfo info, file.Stat());
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  int64_t wanted = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  if (wanted <= info.modified_ns) wanted = info.modified_ns + 1000;
  return file.SetModifiedTime(wanted);
}

// Every change first writes its journal beside the database, so a file that may be written in a
// folder that may not is no more changeable than a read-only file; the message names the folder.
Status CheckJournalFolderWritable(const std::string& path) {
  const std::string journal = JournalPath(path);
  const size_t slash = journal.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : journal.substr(0, slash);
  const Status writable = Os::Default().CanCreateFilesIn(folder);
  if (writable.ok()) return writable;
  const std::string& reason = writable.error().message();
  return Error(ErrorCode::kReadOnly, path + ": the database cannot be changed because its folder " + folder +
                                         " does not let you create files (" + reason + "): every change first writes a journal there (" +
                                         journal + ") so that a change cut short can be undone. Get write access to the "
                                         "folder, or copy the database to a folder you can write to");
}

}  // namespace

int64_t ChangeStampOf(const FileInfo& info) {
  // The status-change time moves with every write and with every setting of the modification
  // time, which a program restoring a backup may set back.
  const uint64_t mixed = static_cast<uint64_t>(info.modified_ns) * 0x9E3779B97F4A7C15u ^
                         static_cast<uint64_t>(info.changed_ns) * 0xC2B2AE3D27D4EB4Fu ^ info.size;
  return static_cast<int64_t>(mixed & 0x7FFFFFFFFFFFFFFFu);  // never negative: -1 means no stamp
}

namespace {

// Another program writing the file (a copy over it, say) leaves the time of the kernel's last
// clock tick, so a second write within the same tick could leave the same stamp on different
// bytes. A stamp some ticks old cannot be left again by a later write: only such a stamp is
// trusted to name the same bytes for handles that open the file later.
bool StampIsSettled(const FileInfo& info) {
  constexpr int64_t kSettledNs = 50'000'000;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t now_ns = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  return now_ns - info.modified_ns > kSettledNs && now_ns - info.changed_ns > kSettledNs;
}

}  // namespace

Pager::~Pager() = default;

Status Pager::LoadHeader(uint64_t file_size, int64_t stamp) {
  if (file_size < 2048) {
    return Error(ErrorCode::kNotDatabase, path_ + ": not an Access database (the file is only " +
                                              std::to_string(file_size) + " bytes long)");
  }
  // A stamp seen before the header was read and again now, with no journal between, means no
  // write touched the file in between (every commit and every undo sets a new one).
  if (stamp != header_stamp_ || format_ == nullptr) {
    header_stamp_ = -1;
    uint8_t first[4096];
    size_t first_length = file_size < 4096 ? static_cast<size_t>(file_size) : 4096;
    JET_RETURN_IF_ERROR(file_->ReadExactly(first, first_length, 0));
    JET_ASSIGN_OR_RETURN(header_, DecodeHeader(first, first_length, path_));
    format_ = &Format::For(header_.version);
    header_stamp_ = stamp;
  }
  uint64_t pages = file_size / format_->page_size;
  if (pages > 0xFFFFFF) {
    return Error(ErrorCode::kUnsupported, path_ + ": the file is larger than an Access database can be");
  }
  page_count_ = static_cast<uint32_t>(pages);
  committed_page_count_ = page_count_;
  cache_.clear();
  cache_.resize(page_count_);
  ++generation_;
  return Status::Ok();
}

// A journal beside the database whose writer is gone holds the undo of a change cut short.
Status Pager::RecoverIfHot(bool holding_writer_lock, bool* found) {
  *found = false;
  JET_ASSIGN_OR_RETURN(bool exists, os_.Exists(JournalPath(path_)));
  if (!exists) return Status::Ok();
  *found = true;
  if (!holding_writer_lock) {
    // A journal with a live writer: it is committing, or another handle is undoing a crashed
    // write. Either way the pages may be changing, so a reader must not go on (see BeginRead).
    JET_ASSIGN_OR_RETURN(bool live, OtherWriterActive());
    if (live) {
      journal_busy_ = true;
      return Status::Ok();
    }
  }
  const uint32_t page_size = Format::For(header_.version).page_size;
  std::unique_ptr<OsFile> opened;
  if (!writable_) {
    auto writable = os_.Open(path_, OpenMode::kReadWrite);
    if (!writable.ok()) {
      // A journal whose header is void (its write finished; the writer died before removing it)
      // or was never written whole undoes nothing: a reader without write access may go on.
      JET_ASSIGN_OR_RETURN(bool undoes, JournalUndoesAnything(path_, page_size, os_));
      if (!undoes) return Status::Ok();
      return Error(ErrorCode::kReadOnly, path_ + ": a change to the database was cut short and must be undone, "
                                                "which needs write access to the file and its folder; open it once with write access");
    }
    opened = std::move(writable).value();
  }
  OsFile& file = opened != nullptr ? *opened : *file_;
  Status status = holding_writer_lock ? Status::Ok() : AcquireWriterLock(file, lock_wait_ms_);
  bool recovered = false;
  if (status.ok()) status = RecoverInto(file, &recovered);
  if (!holding_writer_lock && opened == nullptr) ReleaseWriterLock(file);
  return status;  // a file opened here drops its locks as it closes
}

Status Pager::RecoverInto(OsFile& file, bool* recovered) {
  JET_RETURN_IF_ERROR(RecoverJournal(os_, file, Format::For(header_.version).page_size, recovered));
  return *recovered ? StampAfterNow(file) : Status::Ok();
}

// Reloads the header and drops every cached page when the file changed since they were read.
Status Pager::Refresh(bool holding_writer_lock) {
  JET_ASSIGN_OR_RETURN(FileInfo st, file_->Stat());
  // An unchanged stamp and no journal: nothing changed since the pages were read. The journal is
  // looked for even when the stamp is unchanged: on a file system that keeps times to the second
  // (FAT, some network shares) the pages a writer wrote before it died may leave the stamp as it
  // was, and only the journal tells.
  if (ChangeStampOf(st) == file_stamp_) {
    JET_ASSIGN_OR_RETURN(bool journal, os_.Exists(JournalPath(path_)));
    if (!journal) return Status::Ok();
  }
  bool journal = false;
  JET_RETURN_IF_ERROR(RecoverIfHot(holding_writer_lock, &journal));
  if (journal_busy_) return Status::Ok();  // BeginRead waits and comes back
  if (journal) {
    header_stamp_ = -1;  // undone pages may include the header's
    JET_ASSIGN_OR_RETURN(st, file_->Stat());
  }
  const int64_t stamp = ChangeStampOf(st);
  JET_RETURN_IF_ERROR(LoadHeader(st.size, stamp));
  file_stamp_ = stamp;
  shared_->Validated(file_stamp_, StampIsSettled(st));
  return Status::Ok();
}

Result<std::unique_ptr<Pager>> Pager::Open(const std::string& path, Mode mode, bool hold_reads) {
  bool writable = mode == Mode::kReadWrite;
  Os& os = Os::Default();
  auto file = os.Open(path, writable ? OpenMode::kReadWrite : OpenMode::kRead);
  if (!file.ok()) {
    if (file.error().code() == ErrorCode::kReadOnly) {
      return Error(ErrorCode::kReadOnly, path + ": the file cannot be changed (it is read-only or on a read-only disk)");
    }
    return file.error();
  }
  std::unique_ptr<Pager> pager(new Pager(path, os, std::move(file).value()));
  pager->writable_ = writable;
  if (writable) JET_RETURN_IF_ERROR(CheckJournalFolderWritable(path));
  JET_ASSIGN_OR_RETURN(FileInfo st, pager->file_->Stat());
  if (!st.regular) return Error(ErrorCode::kNotDatabase, path + ": not a regular file");
  JET_RETURN_IF_ERROR(pager->LoadHeader(st.size, ChangeStampOf(st)));
  pager->shared_ = SharedPages::Of(st.device, st.inode, pager->page_size());
  if (writable && !pager->format().jet4()) {
    return Error(ErrorCode::kReadOnly, path + ": Access 97 databases can be read but not changed; convert it to "
                                              "a new Access 2000 file (velloran-jet convert FILE NEW) to change it");
  }
  pager->file_stamp_ = -1;  // forces the first refresh, which also undoes a cut-short change
  if (hold_reads) {
    JET_RETURN_IF_ERROR(pager->HoldReads());
  } else {
    JET_RETURN_IF_ERROR(pager->BeginRead());
    pager->EndRead();
  }
  return pager;
}

Status Pager::BeginRead() {
  if (in_write_) return Status::Ok();  // the writer sees its own pages
  if (read_depth_++ > 0) return Status::Ok();
  // Reads never overlap a journal that someone is working on: the file's pages may be half
  // copied (a commit) or half restored (another handle undoing a crashed write). Such a reader
  // lets go of its lock, so that the work can finish, and tries again.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lock_wait_ms_);
  while (true) {
    int wait_ms = static_cast<int>(std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count()));
    Status status = AcquireDataLock(*file_, LockKind::kShared, wait_ms);
    journal_busy_ = false;
    if (status.ok()) {
      status = Refresh(false);
      if (!status.ok() || journal_busy_) ReleaseDataLock(*file_);
    }
    if (status.ok() && journal_busy_) {
      if (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      status = Error(ErrorCode::kLocked, path_ + ": the database is in use by another program that is changing it; "
                                                 "try again when it has finished");
    }
    if (!status.ok()) --read_depth_;
    return status;
  }
}

void Pager::EndRead() {
  if (in_write_ || read_depth_ == 0) return;
  if (--read_depth_ == 0) ReleaseDataLock(*file_);
}

Result<int64_t> Pager::StampNow() const {
  JET_ASSIGN_OR_RETURN(FileInfo info, file_->Stat());
  return ChangeStampOf(info);
}

Result<int64_t> Pager::SettledStampNow() const {
  JET_ASSIGN_OR_RETURN(FileInfo info, file_->Stat());
  return StampIsSettled(info) ? ChangeStampOf(info) : 0;
}

// Locks of this handle's own descriptor never conflict with its own test: only others show.
Result<bool> Pager::OtherWriterActive() const { return WriterLockHeldElsewhere(*file_); }

Status Pager::HoldReads() {
  if (holding_reads_ || in_write_) return Status::Ok();
  JET_RETURN_IF_ERROR(BeginRead());
  holding_reads_ = true;
  ++hold_serial_;
  return Status::Ok();
}

void Pager::ReleaseReads() {
  if (!holding_reads_) return;
  holding_reads_ = false;
  EndRead();
}

Result<const uint8_t*> Pager::LoadPage(uint32_t page) {
  if (in_write_) {
    auto found = dirty_.find(page);
    if (found != dirty_.end()) return static_cast<const uint8_t*>(found->second.get());
  }
  if (page >= page_count_) {
    return Corrupt(page, "the page lies past the end of the file (" + PageCount(page_count_) + ")");
  }
  SharedPage& slot = cache_[page];
  if (!slot) slot = shared_->Find(file_stamp_, page);
  if (!slot) {
    std::shared_ptr<uint8_t[]> buffer = shared_->FreshPage();  // not cleared: the read fills it
    JET_RETURN_IF_ERROR(file_->ReadExactly(buffer.get(), page_size(), static_cast<uint64_t>(page) * page_size()));
    if (read_depth_ == 0) JET_RETURN_IF_ERROR(CheckUnchangedSinceRefresh());
    slot = std::move(buffer);
    shared_->Offer(file_stamp_, page, slot);
  }
  return slot.get();
}

Status Pager::ReadRun(uint32_t first, uint32_t count, uint8_t* out) {
  if (in_write_) return Error(ErrorCode::kInvalidArgument, path_ + ": a write reads its pages one by one");
  if (first >= page_count_ || count > page_count_ - first) {
    return Corrupt(first, "pages " + std::to_string(first) + " to " + std::to_string(uint64_t{first} + count - 1) +
                              " lie past the end of the file (" + PageCount(page_count_) + ")");
  }
  JET_RETURN_IF_ERROR(file_->ReadExactly(out, size_t{count} * page_size(), uint64_t{first} * page_size()));
  if (read_depth_ == 0) JET_RETURN_IF_ERROR(CheckUnchangedSinceRefresh());
  return Status::Ok();
}

// A read without the read lock may meet a commit under way. The stamp changes with the first
// page a commit writes and again when it ends, so a stamp still as the cached pages had it after
// the read means that the bytes read belong with them.
Status Pager::CheckUnchangedSinceRefresh() const {
  if (in_write_) return Status::Ok();
  JET_ASSIGN_OR_RETURN(int64_t now, StampNow());
  if (now == file_stamp_) return Status::Ok();
  return Error(ErrorCode::kLocked, path_ + ": the database changed while it was being read (another program saved a "
                                           "change meanwhile); try again");
}

Error Pager::WrongType(uint32_t page, uint8_t type, uint8_t found, const char* what) const {
  return Corrupt(page, std::string("expected ") + what + " page (type " + std::to_string(type) + ") but found page type " +
                           std::to_string(found));
}

Error Pager::Corrupt(uint32_t page, const std::string& what) const {
  return Error(ErrorCode::kCorrupt, path_ + ", page " + std::to_string(page) + ": " + what);
}

}  // namespace jet

namespace jet {

namespace {
Pager::CommitHook commit_hook = nullptr;

// `error` with what became of the change; `undone`: the file is as it was before it.
Error NotSaved(const Error& error, bool undone) {
  if (undone) return Error(error.code(), error.message() + ". The change was not saved; the database is as it was before it");
  return Error(error.code(), error.message() + ". The change was not saved, and it will be undone when the database is next opened");
}

void AtCommitStep(const char* step) {
  if (commit_hook != nullptr) commit_hook(step);
}
}  // namespace

void Pager::SetCommitHookForTesting(CommitHook hook) { commit_hook = hook; }

Status Pager::BeginWrite() {
  if (!writable_) return Error(ErrorCode::kReadOnly, path_ + ": the database was opened read-only");
  if (in_write_) return Error(ErrorCode::kInvalidArgument, path_ + ": a write is already in progress");
  // The commit turns this handle's shared data lock into an exclusive one and then lets it go:
  // a hold would not outlive it, so it ends here.
  ReleaseReads();
  JET_RETURN_IF_ERROR(CheckAccessLockFile(path_));
  JET_RETURN_IF_ERROR(AcquireWriterLock(*file_, lock_wait_ms_));
  // Another handle may have committed since this one last read: start from the file as it is.
  Status fresh = Refresh(true);
  if (!fresh.ok()) {
    ReleaseWriterLock(*file_);
    return fresh;
  }
  in_write_ = true;
  committed_page_count_ = page_count_;
  write_base_stamp_ = file_stamp_;
  return Status::Ok();
}

Result<uint8_t*> Pager::MutablePage(uint32_t page) {
  if (!in_write_) return Error(ErrorCode::kInvalidArgument, path_ + ": a page was changed outside a write");
  ++generation_;  // the caller is about to change the page, even one this write changed before
  auto found = dirty_.find(page);
  if (found != dirty_.end()) return found->second.get();
  JET_ASSIGN_OR_RETURN(const uint8_t* current, ReadPage(page));
  // Not zeroed first: every byte is copied over at once.
  auto copy = std::make_unique_for_overwrite<uint8_t[]>(page_size());
  std::memcpy(copy.get(), current, page_size());
  uint8_t* bytes = copy.get();
  dirty_.emplace(page, std::move(copy));
  return bytes;
}

Result<uint32_t> Pager::AppendPage() {
  if (!in_write_) return Error(ErrorCode::kInvalidArgument, path_ + ": a page was added outside a write");
  if (page_count_ >= 0xFFFFFF) return Error(ErrorCode::kUnsupported, path_ + ": the database is full");
  uint32_t page = page_count_++;
  auto bytes = std::make_unique<uint8_t[]>(page_size());  // zero-filled
  dirty_.emplace(page, std::move(bytes));
  ++generation_;
  return page;
}

Status Pager::WriteDirtyPages() {
  std::vector<std::pair<uint32_t, const uint8_t*>> pages;
  pages.reserve(dirty_.size());
  for (const auto& [page, bytes] : dirty_) pages.emplace_back(page, bytes.get());
  JET_RETURN_IF_ERROR(WritePages(*file_, std::move(pages), page_size(), [] { AtCommitStep("page written"); }));
  JET_RETURN_IF_ERROR(file_->Sync(true));
  AtCommitStep("pages synced");
  return Status::Ok();
}

Status Pager::Commit() {
  if (!in_write_) return Error(ErrorCode::kInvalidArgument, path_ + ": commit without a write");
  const uint64_t before = generation_;
  Status status = dirty_.empty() ? Status::Ok() : CommitDirtyPages();
  if (!status.ok()) {
    Rollback();  // it failed before its commit point, and the file is as it was (or will be, see UndoFailedCommit)
    return status;
  }
  std::vector<uint32_t> written;
  cache_.resize(page_count_);
  for (auto& [page, bytes] : dirty_) {
    written.push_back(page);
    cache_[page] = std::move(bytes);
  }
  dirty_.clear();
  if (!written.empty() && file_stamp_ != -1) ShareCommit(write_base_stamp_, written);
  in_write_ = false;
  committed_page_count_ = page_count_;
  ReleaseWriterLock(*file_);
  ++generation_;
  commit_from_ = before;
  commit_to_ = generation_;
  return Status::Ok();
}

// The undo of every page this write overwrites, durable before the file changes.
Status Pager::JournalOriginals(JournalWriter& journal) {
  for (const auto& [page, bytes] : dirty_) {
    if (page >= committed_page_count_) continue;  // added pages are undone by cutting the file
    // The committed bytes, which MutablePage read before copying, so they are at hand: kept by
    // this handle or by the process's share (both unchanged since the write began), or else read.
    SharedPage& original = cache_[page];
    if (original == nullptr) original = shared_->Find(write_base_stamp_, page);
    if (original == nullptr) {
      auto buffer = std::make_unique_for_overwrite<uint8_t[]>(page_size());
      JET_RETURN_IF_ERROR(file_->ReadExactly(buffer.get(), page_size(), static_cast<uint64_t>(page) * page_size()));
      original = std::move(buffer);
    }
    // Committed pages never change in place (a write changes copies), so the journal may write
    // them from where they are.
    JET_RETURN_IF_ERROR(journal.Append(page, original.get()));
  }
  return journal.Sync();
}

Status Pager::CommitDirtyPages() {
  // 1. The journal. Once it exists, any failure before the commit point undoes what reached the file.
  auto created = JournalWriter::Create(path_, page_size(), committed_page_count_, os_);
  if (!created.ok()) return NotSaved(created.error(), true);
  std::unique_ptr<JournalWriter> journal = std::move(created).value();
  Status status = JournalOriginals(*journal);
  if (!status.ok()) {
    journal.reset();
    return UndoFailedCommit(status.error());
  }
  AtCommitStep("journal synced");
  // 2. The new pages, with readers kept out while they land.
  status = AcquireDataLock(*file_, LockKind::kExclusive, lock_wait_ms_);
  if (!status.ok()) {
    journal.reset();
    return UndoFailedCommit(status.error());
  }
  status = WriteDirtyPages();
  // 3. The commit point: the journal's header made void, durably; then the journal goes (see
  // journal.h for why its deletion needs no sync of the folder).
  if (status.ok()) status = journal->Void();
  if (!status.ok()) {
    journal.reset();
    Error undone = UndoFailedCommit(status.error());  // readers stay out until the pages are back
    ReleaseDataLock(*file_);
    return undone;
  }
  AtCommitStep("journal voided");
  // The write stands from here, whatever fails next. A void journal left behind undoes nothing
  // (the next open with write access removes it); a stamp not renewed is made up for by this
  // handle looking at the file afresh, and other handles see the new modification time the
  // page writes gave the file.
  (void)journal->Delete();
  if (!StampCommit().ok()) file_stamp_ = -1;
  ReleaseDataLock(*file_);
  return Status::Ok();
}

// Puts the file back as it was before the failed commit, while this handle still holds the
// writer lock, so that the failure reported is the whole truth: nothing of the write stands. If
// that fails too (the disk refuses still), the journal stays, and whichever handle looks at the
// file next undoes the write before it reads.
Error Pager::UndoFailedCommit(const Error& error) {
  bool recovered = false;
  Status undone = RecoverInto(*file_, &recovered);
  file_stamp_ = -1;  // the pages this handle caches are the committed ones; the file is looked at afresh
  return NotSaved(error, undone.ok());
}


// File times on disk are only as fine as the kernel's clock tick, so two commits could leave the
// same time behind; each commit therefore sets a modification time strictly after the previous
// one, which every other handle compares to know that its cached pages are stale.
Status Pager::StampCommit() {
  JET_RETURN_IF_ERROR(StampAfterNow(*file_));
  JET_ASSIGN_OR_RETURN(file_stamp_, StampNow());
  return Status::Ok();
}

void Pager::ShareCommit(int64_t before, const std::vector<uint32_t>& written) {
  std::vector<std::pair<uint32_t, SharedPage>> pages;
  pages.reserve(written.size());
  for (uint32_t page : written) pages.emplace_back(page, cache_[page]);
  shared_->Committed(before, file_stamp_, page_count_, pages);
}

void Pager::Rollback() {
  dirty_.clear();
  page_count_ = committed_page_count_;
  if (in_write_) ReleaseWriterLock(*file_);
  in_write_ = false;
  ++generation_;
}

}  // namespace jet
