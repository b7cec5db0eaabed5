// The pager owns the database file and hands out its pages. Everything above it reads the file
// only through ReadPage, which checks that the page exists, so a structure that points past the
// end of the file is reported instead of read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "jet/base/format.h"
#include "jet/file/header.h"
#include "jet/file/os.h"
#include "jet/file/page_table.h"
#include "jet/file/shared_pages.h"
#include "jet/base/status.h"

namespace jet {

class JournalWriter;

class Pager {
 public:
  ~Pager();
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  enum class Mode { kReadOnly, kReadWrite };

  // Opens `path` and decodes its header. Any number of handles, writable or not, may be open on
  // a database at once; writes take turns (see BeginWrite). An open first undoes an unfinished
  // change left by a crashed writer; a read-only open that cannot (the file is not writable)
  // fails with a message that says so.
  // With `hold_reads` the handle comes back holding the read lock (see HoldReads), taken once
  // for the open's own look at the file and whatever the caller reads next.
  static Result<std::unique_ptr<Pager>> Open(const std::string& path, Mode mode = Mode::kReadOnly,
                                            bool hold_reads = false);

  bool writable() const { return writable_; }

  const std::string& path() const { return path_; }
  const Format& format() const { return *format_; }
  const DatabaseHeader& header() const { return header_; }
  uint32_t page_size() const { return format_->page_size; }
  uint32_t page_count() const { return page_count_; }

  // The bytes of `page` (page_size of them): inside a write, as the write has made them. Valid
  // until the next MutablePage, AppendPage, Commit or Rollback. A read outside the read lock and
  // outside a write that finds the file changed since the cached pages were read fails with
  // kLocked ("changed while it was being read ... try again") rather than mix two states: a
  // reader that must see one state from start to end holds a ReadScope for all of it.
  Result<const uint8_t*> ReadPage(uint32_t page) {
    // A page kept already is the common case of every row read: found without a call.
    if (!in_write_ && page < page_count_) {
      if (const uint8_t* kept = cache_.Kept(page)) return kept;
    }
    return LoadPage(page);
  }
  // Reads `count` pages from `first` on with one read into `out` (count * page_size bytes), as
  // the committed file holds them, and keeps none of them: for a scan that reads a whole table
  // once and wants neither a read per page nor the memory of every page. Outside a write only
  // (kInvalidArgument inside one); outside the read lock it fails as ReadPage does when the file
  // changed meanwhile. It changes nothing in the pager: under the read lock, a second thread may
  // read runs while this one reads pages.
  Status ReadRun(uint32_t first, uint32_t count, uint8_t* out);
  // ReadPage plus a check of the page's type byte.
  Result<const uint8_t*> ReadPageOfType(uint32_t page, uint8_t type, const char* what) {
    JET_ASSIGN_OR_RETURN(const uint8_t* data, ReadPage(page));
    if (data[0] != type) return WrongType(page, type, data[0], what);
    return data;
  }

  // An error that names this file and `page`.
  Error Corrupt(uint32_t page, const std::string& what) const;

  // Writing. BeginWrite takes the writer lock (waiting a few seconds for another write to finish,
  // then kLocked; also kLocked while Access has the database open) and refreshes the cache if
  // another handle committed meanwhile. Every page the write changes (MutablePage) or adds
  // (AppendPage) stays in memory, and is what ReadPage returns, until Commit makes all of them
  // durable at once or Rollback forgets them; both release the lock. A failed Commit rolls back, and
  // its error says whether the file is already as it was before the write (it is put back at
  // once) or will be when next opened (when the disk refuses even that).
  Status BeginWrite();
  bool in_write() const { return in_write_; }
  Result<uint8_t*> MutablePage(uint32_t page);
  // A zero-filled page added at the end of the file; returns its number.
  Result<uint32_t> AppendPage();
  Status Commit();
  void Rollback();

  // How long BeginRead and BeginWrite wait for a lock before answering kLocked (default 5 s).
  void set_lock_wait_ms(int milliseconds) { lock_wait_ms_ = milliseconds; }

  // Testing aid: called at each step of a commit ("journal synced", "page written", "pages
  // synced", "journal voided") so that a test can end the process there and prove the next open
  // leaves the file as before the write or, from "journal voided" on, as after it.
  using CommitHook = void (*)(const char* step);
  static void SetCommitHookForTesting(CommitHook hook);

  // Changes whenever pages may have changed (a write, a commit, a rollback, a refresh), so that
  // callers holding decoded pages know to drop them.
  uint64_t generation() const { return generation_; }

  // Whether every page reads now as it did when generation() was `then`: nothing changed since,
  // or only the commit of the write then under way (a commit makes durable what the write's pages
  // already were). Lets what was decoded inside one write serve the next.
  bool PagesUnchangedSince(uint64_t then) const {
    return then == generation_ || (then == commit_from_ && generation_ == commit_to_);
  }

  // What a writer keeps on this handle from one write to the next (the index writer's decoded
  // pages, a table's page lists), under a key of its keeper's choosing: the handle owns it, so
  // that it lasts as long as the pages it describes may; its keeper checks PagesUnchangedSince
  // before trusting it. Made on first use.
  class WriterCache {
   public:
    virtual ~WriterCache() = default;
  };
  template <typename T>
  T& writer_cache(const std::string& key) {
    std::unique_ptr<WriterCache>& slot = writer_caches_[key];
    if (auto* kept = dynamic_cast<T*>(slot.get())) return *kept;
    slot = std::make_unique<T>();
    return static_cast<T&>(*slot);
  }

  // The change stamp the cached pages belong to (see Refresh), and the commits this process has
  // made to the file through any handle; together they tell a caller holding values read under a
  // ReadScope whether they still describe the file (Database::StillCurrent).
  int64_t file_stamp() const { return file_stamp_; }

  // What any handle of this process decoded from the committed pages this handle holds (see
  // SharedPages::FindDecoded); nothing inside a write, whose pages differ.
  template <typename T>
  std::shared_ptr<const T> SharedDecoded(const std::string& key) const {
    if (in_write_) return nullptr;
    return std::static_pointer_cast<const T>(shared_->FindDecoded(file_stamp_, key));
  }
  template <typename T>
  void ShareDecoded(const std::string& key, std::shared_ptr<const T> value, bool numerous = false) const {
    if (!in_write_) shared_->OfferDecoded(file_stamp_, key, std::move(value), numerous);
  }
  uint64_t process_commits() const { return shared_->commits(); }
  // Lets go of the pages this process keeps for the file (SharedPages::ForgetPages): a reader that
  // met many pages once and will not again (rows read along an index) so that they do not stay.
  void ForgetSharedPages() const { shared_->ForgetPages(); }
  // What is carried from one state of the file to the next (SharedPages::TakeCarried); nothing
  // inside a write, whose pages are not yet the file's.
  template <typename T>
  std::shared_ptr<T> TakeCarried(const std::string& key) const {
    if (in_write_) return nullptr;
    return std::static_pointer_cast<T>(shared_->TakeCarried(key));
  }
  bool Carries(const std::string& key) const { return !in_write_ && shared_->Carries(key); }
  template <typename T>
  void Carry(const std::string& key, std::shared_ptr<T> value) const {
    if (!in_write_) shared_->Carry(key, std::const_pointer_cast<std::remove_const_t<T>>(std::move(value)));
  }
  template <typename T>
  std::vector<std::pair<std::string, std::shared_ptr<T>>> TakeCarriedUnder(const std::string& prefix) const {
    std::vector<std::pair<std::string, std::shared_ptr<T>>> taken;
    if (in_write_) return taken;
    for (auto& [key, value] : shared_->TakeCarriedUnder(prefix)) taken.emplace_back(key, std::static_pointer_cast<T>(value));
    return taken;
  }

  // For readers: takes the shared data lock (so no commit is copied into the file meanwhile) and
  // drops cached pages when another handle has changed the file since they were read.
  Status BeginRead();
  void EndRead();

  // A caller about to make many short reads (a design check, filling a list) holds the read lock
  // across all of them instead of taking it for each, which costs several system calls: HoldReads
  // is a BeginRead that lasts until ReleaseReads, and the reads in between see the file as it was
  // when the hold began. Every other handle's commit waits meanwhile (this process's other
  // handles too, which time out like another program's after the lock wait), so a hold is for a
  // burst of work, never for time a user takes. This handle's BeginWrite ends it first. Holding
  // twice is holding once.
  Status HoldReads();
  void ReleaseReads();
  bool holding_reads() const { return holding_reads_; }

  // The file's change stamp as it is now (one fstat), whatever the cached pages belong to.
  Result<int64_t> StampNow() const;
  // StampNow when no later write can leave that stamp again (it is some clock ticks old), else 0:
  // a stamp that names the same bytes for a process that opens the file later.
  Result<int64_t> SettledStampNow() const;
  // Whether a handle other than this one holds the writer lock (this process's others included).
  Result<bool> OtherWriterActive() const;
  // Changes each time a hold begins, so that what a caller learned inside one hold (that no other
  // program was writing) is trusted inside that hold only.
  uint64_t hold_serial() const { return hold_serial_; }

 private:
  // ReadPage for a page not kept yet, a page past the end, or any page inside a write.
  Result<const uint8_t*> LoadPage(uint32_t page);
  Error WrongType(uint32_t page, uint8_t type, uint8_t found, const char* what) const;
  Pager(std::string path, Os& os, std::unique_ptr<OsFile> file) : path_(std::move(path)), os_(os), file_(std::move(file)) {}
  // Decodes the header (unless it was decoded at `stamp` already) and starts the cache over.
  Status LoadHeader(uint64_t file_size, int64_t stamp);
  // Sets *found when a journal was there (whether it was undone or is still being worked on).
  Status RecoverIfHot(bool holding_writer_lock, bool* found);
  Status Refresh(bool holding_writer_lock);
  Status CheckUnchangedSinceRefresh() const;
  Status CommitDirtyPages();
  Status JournalOriginals(JournalWriter& journal);
  // After a commit failed before its commit point: the file put back as it was, from the journal.
  Error UndoFailedCommit(const Error& error);
  // Restores the pages a journal holds into `file` (this handle's or one opened for the purpose)
  // and marks the file changed.
  Status RecoverInto(OsFile& file, bool* recovered);
  // Gives the pages a commit wrote to the other handles of this process.
  void ShareCommit(int64_t before, const std::vector<uint32_t>& written);
  Status WriteDirtyPages();
  Status StampCommit();

  std::string path_;
  Os& os_;
  std::unique_ptr<OsFile> file_;
  const Format* format_ = nullptr;
  DatabaseHeader header_;
  uint32_t page_count_ = 0;
  PageTable cache_;  // committed pages by number, loaded on first use
  std::shared_ptr<SharedPages> shared_;  // the same pages, for every handle of this process
  bool writable_ = false;
  bool in_write_ = false;
  uint32_t committed_page_count_ = 0;
  std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> dirty_;  // pages the current write changed
  uint64_t generation_ = 0;
  uint64_t commit_from_ = 0, commit_to_ = 0;  // the generations the last successful commit went between
  std::unordered_map<std::string, std::unique_ptr<WriterCache>> writer_caches_;
  int64_t file_stamp_ = 0;  // the file's modification time when the cache was filled
  int64_t header_stamp_ = -1;  // the stamp the header was decoded at
  int64_t write_base_stamp_ = 0;  // file_stamp_ when the current write began
  int read_depth_ = 0;
  bool holding_reads_ = false;
  uint64_t hold_serial_ = 0;
  bool journal_busy_ = false;  // the last refresh met a journal another handle is working on
  int lock_wait_ms_ = 5000;
};

// What the pager compares to know whether the file changed: its modification and status-change
// times and its size, mixed into one number.
int64_t ChangeStampOf(const FileInfo& info);

// Holds a pager's read lock for a scope.
class ReadScope {
 public:
  explicit ReadScope(Pager& pager) : pager_(pager), status_(pager.BeginRead()) {}
  ~ReadScope() {
    if (status_.ok()) pager_.EndRead();
  }
  const Status& status() const { return status_; }

 private:
  Pager& pager_;
  Status status_;
};

}  // namespace jet
