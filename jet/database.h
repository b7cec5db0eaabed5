// An open Access database: the entry point of the engine for callers above it.
//
// A handle opened for reading and writing runs queries and changes through one pager: reads see
// the file as the last finished write left it (theirs or another handle's), and each Write is one
// all-or-nothing, durable change. A file that cannot be changed (an Access 97 file, a read-only
// file) opens for reading only, and its writes fail with kReadOnly saying why.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/schema/column_properties.h"
#include "jet/schema/system_catalogue.h"
#include "jet/table/row_order.h"
#include "jet/table/table_cursor.h"
#include "jet/table/storage_cursor.h"
#include "jet/text/text_fold.h"  // SameObjectName: how every lookup below matches names

namespace jet {

class Database {
 public:
  // Opens `path` and reads its catalogue. kReadWrite falls back to reading only when the file
  // cannot be written; writable() then says false and Write reports why.
  // With `hold_reads` the handle comes back holding the read lock (Pager::HoldReads).
  static Result<std::unique_ptr<Database>> Open(const std::string& path, Pager::Mode mode = Pager::Mode::kReadOnly,
                                                bool hold_reads = false);
  // Creates a new, empty Access 2000 database; kInvalidArgument when a file is already there.
  static Status Create(const std::string& path);

  Pager& pager() { return *pager_; }
  JetVersion version() const { return pager_->format().version; }
  const std::string& path() const { return pager_->path(); }
  bool writable() const { return pager_->writable(); }

  // Every catalogue row, in storage order, as of the last refresh (opening, ReadTable,
  // RefreshCatalogue, Write).
  const std::vector<CatalogEntry>& objects() const { return objects_; }
  // Names of the user tables (not system, not linked), in catalogue order.
  std::vector<std::string> UserTableNames() const;
  // The catalogue row of a local table (user or system), its name matched by SameObjectName.
  const CatalogEntry* FindTable(const std::string& name) const;

  // Re-reads the catalogue when the pager's pages changed since it was read (a write of this
  // handle, or another handle's commit seen by BeginRead). The caller holds a ReadScope or is
  // inside a write, so that the catalogue is read whole. The vector objects() returns is only
  // replaced when the catalogue really differs.
  Status RefreshCatalogue();

  // The definition of a local table (user or system), matched regardless of letter case, read
  // as the file is now (inside a write: as the write has made it).
  Result<TableDef> ReadTable(const std::string& name);

  // ---- Reading rows, for callers that hold a ReadLock (or are inside a write) ----
  // A number that changes whenever the pages this handle reads change (a write of this handle, or
  // another handle's commit seen when the read lock was taken). What was read at one generation
  // still holds while it stays the same, except inside a transaction, whose later writes to pages
  // it changed already leave it as it was.
  uint64_t generation() const { return pager_->generation(); }
  // The values of the row of `def` at `id` (where its index entries or a RowOrder place it),
  // one per position in `columns` (positions in def.columns); false when no live row of the
  // table is there now. `values` is overwritten; its room is reused.
  Result<bool> ReadRowAt(const TableDef& def, RowId id, const std::vector<size_t>& columns, std::vector<Value>* values);
  // Where the bytes of the row whose slot is `id` live now: `id` unless the row moved.
  Result<RowId> RowHome(RowId id);
  // The table's rows in storage order, and in the order of its logical index `logical_index`
  // (a position in def.logical_indexes). Each is good for the generation it was opened at.
  Result<std::unique_ptr<RowOrder>> OpenStorageOrder(const TableDef& def);
  Result<std::unique_ptr<RowOrder>> OpenIndexOrder(const TableDef& def, size_t logical_index);
  // The column properties of a table (null when it has none), read once per state of the file
  // and shared with the other handles of this process on it.
  Result<const TableProperties*> ColumnPropertiesOf(const std::string& table);

  // ---- The read lock (Pager::HoldReads) ----
  Status HoldReads() { return pager_->HoldReads(); }
  void ReleaseReads() { pager_->ReleaseReads(); }
  bool holding_reads() const { return pager_->holding_reads(); }
  // Tells one hold of the read lock from the next.
  uint64_t hold_serial() const { return pager_->hold_serial(); }

  // Facts a caller found out about the file, kept for this process while the file stays as it
  // is now: any write to it, from any program, forgets them all. Remember keeps nothing on a file
  // whose last change is too recent to tell a later one from it.
  void Remember(const std::string& note);
  // Takes the read lock (unless held) to look at the file's state.
  Result<bool> Remembers(const std::string& note);

  // Runs `operation` inside a write: commits what it changed when it returns OK, rolls all of it
  // back when it (or the commit) fails, and returns its status. The catalogue is refreshed before
  // `operation` runs. kReadOnly when the handle cannot write; kLocked when another writer keeps
  // the file for longer than the pager's lock wait, or Access holds it open. kCorrupt when the
  // operation met damage in what it was about to change (writers look at the pages and usage
  // maps they will use before changing them): nothing reaches the file, and the message says to
  // repair it from a copy. Reads of the file's undamaged tables go on working.
  Status Write(const std::function<Status()>& operation);

  // A transaction makes the Writes that follow, up to CommitTransaction, one all-or-nothing
  // change: the writer lock is held from BeginTransaction on, and nothing reaches the file until
  // the commit. A Write that fails inside it rolls the whole transaction back (and ends it), so
  // the file is never left with part of it. Used where a walk changes many rows one by one.
  Status BeginTransaction();
  Status CommitTransaction();
  void RollbackTransaction();
  bool in_transaction() const { return in_transaction_; }

  // kLocked when another program holds the database for writing: Access (a lock file with live
  // locks beside it), or another writer whose lock does not come free within `wait_ms`. Takes no
  // lock itself; a caller about to work with a table uses it to report early that it is busy.
  // Inside a hold of the read lock (Pager::HoldReads) the answer found first stands for the rest
  // of the hold, which sees the file as it was then. A writer found while holding ends the hold
  // while waiting, as that writer could not finish while it lasted, and a new hold begins once it
  // has finished, so that the caller's next reads still see one state of the file (a later one);
  // an error ends the hold for good (the caller may ask the user about it).
  Status CheckNoOtherWriter(int wait_ms);

  // A number that changes whenever a write reaches the file (every commit stamps the file's
  // modification time anew; a cut-short write changes it too). Taken under a ReadScope it
  // describes what the scope read, so a caller holding values read then may keep using them, with
  // no lock, for as long as the stamp stays the same. One fstat, much cheaper than a ReadScope.
  Result<int64_t> ChangeStamp() const;
  // The same number for the file at `path`, looked at without opening it as a database: for a
  // caller that keeps answers about a file between the times it opens it. kIo (or kNotFound)
  // when the file cannot be looked at.
  static Result<int64_t> FileChangeStamp(const std::string& path);

  // What this handle last read the file as. Values read under a ReadScope (or inside a write)
  // at mark M still describe the file while StillCurrent(M) holds: no write of this handle, no
  // commit through any handle of this process, and the file's change stamp as it was. The stamp
  // costs a system call, so it is looked at again only once kStampRecheck has passed since the
  // last look: another program's commit shows at most that much later. False when the stamp
  // cannot be read, so that the caller takes the locked path, which reports it.
  struct ReadMark {
    uint64_t generation = 0;
    int64_t stamp = -1;
    uint64_t process_commits = 0;
    bool operator==(const ReadMark&) const = default;
  };
  ReadMark Mark() const;
  bool StillCurrent(const ReadMark& mark) const;
  static constexpr std::chrono::microseconds kStampRecheck{1000};

  virtual ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

 protected:
  explicit Database(std::unique_ptr<Pager> pager) : pager_(std::move(pager)) {}
  Status LoadCatalogue();
  Result<std::vector<CatalogEntry>> DecodeCatalogue();
  Result<TableDef> DecodeTable(const CatalogEntry& entry);

 private:
  std::unique_ptr<Pager> pager_;
  // The stamp StillCurrent read last, and when.
  mutable std::optional<int64_t> stamp_seen_;
  mutable std::chrono::steady_clock::time_point stamp_seen_at_;
  std::vector<CatalogEntry> objects_;  // the catalogue as of pager generation objects_generation_
  uint64_t objects_generation_ = 0;
  // Definitions read since the pages last changed, by definition page (pager generation defs_generation_).
  std::unordered_map<uint32_t, TableDef> defs_;
  uint64_t defs_generation_ = 0;
  OwnedPagesCache owned_pages_;
  // Column properties of every table, as of pager generation properties_generation_.
  std::shared_ptr<const std::map<std::string, TableProperties>> properties_;
  uint64_t properties_generation_ = 0;
  bool in_transaction_ = false;
  uint64_t no_writer_in_hold_ = 0;  // the hold (Pager::hold_serial) in which no other writer was found
  std::string read_only_reason_;  // why a read-write open fell back to reading only
};

// Holds the database's read lock for its lifetime (a ReadScope on its pages): what is read
// meanwhile is one state of the file.
class ReadLock {
 public:
  explicit ReadLock(Database& db) : scope_(db.pager()) {}
  const Status& status() const { return scope_.status(); }

 private:
  ReadScope scope_;
};

}  // namespace jet
