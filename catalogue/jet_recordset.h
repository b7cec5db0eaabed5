// What table sets and query sets share: the database session, reading a row by its place, and a
// set of rows kept as their places (row ids) in the set's order, with a current position, the
// pending row of Edit/AddNew and Update's write.
//
// Rows are read by their place when the set moves onto them, so a row shows the file as the last
// finished write left it; a row deleted meanwhile drops out of the set when the set reaches it.
// Which rows belong to the set, and in what order, is the subclass's business (Sync and Reach).
//
// Walking forward reads a few rows ahead under the same read lock and then moves onto them
// without one for as long as Database::StillCurrent says that no write has landed since: taking
// the lock costs several system calls.
#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/engine.h"
#include "catalogue/jet_design.h"
#include "catalogue/jet_errors.h"
#include "jet/base/status.h"
#include "jet/database.h"
#include "jet/sql/sql_rows.h"

namespace velloran {

// The database a connection opened, shared with the sets opened through it; the connection's
// Close ends it for all of them (the handle itself goes with its last user).
struct DatabaseSession {
  std::unique_ptr<jet::Database> db;
  bool closed = false;

  jet::Database& Db();  // throws kInvalid once closed
};

// Reads rows of one table by their place, decoding the given columns. The
// definition is re-read when the file changed. Callers hold a ReadLock (or are in a write).
class RowReader {
 public:
  RowReader(std::string table, std::vector<jet::ColumnDef> columns)
      : table_(std::move(table)), columns_(std::move(columns)) {}

  // The row's values, one per column asked for; nullopt when no row of the table is there now.
  jet::Result<std::optional<std::vector<jet::Value>>> Read(jet::Database& db, jet::RowId id);
  // The definition as of the file's current state.
  jet::Result<const jet::TableDef*> Def(jet::Database& db);

 private:
  std::string table_;
  std::vector<jet::ColumnDef> columns_;  // found again in each new definition by column number
  jet::TableDef def_;
  std::vector<size_t> positions_;  // of columns_ in def_.columns
  uint64_t generation_ = 0;
  bool known_ = false;
};

// A row's place packed into one number, for sets of places.
inline uint64_t PackRowId(jet::RowId id) { return (static_cast<uint64_t>(id.page) << 8) | id.row; }

class JetRecordset : public Recordset {
 public:
  int64_t RecordCount() override;
  bool AtEnd() const override { return at_end_; }
  void MoveFirst() override;
  void MoveNext() override;
  void MoveLast() override;

  const std::vector<FieldInfo>& Fields() const override { return fields_; }
  const FieldValue& Field(const std::string& name) const override;
  size_t FieldPosition(const std::string& name) const override;
  const FieldValue& FieldAt(size_t position) const override;
  void CopyTextAt(size_t position, std::string& out) const override;
  void SetField(const std::string& name, const FieldValue& value) override;

  void AddNew() override;
  void Edit() override;
  void Update() override;

  void Close() override;

 protected:
  // `columns` are the set's fields as the table defines them, in the set's order.
  JetRecordset(std::shared_ptr<DatabaseSession> session, std::string table, std::vector<jet::ColumnDef> columns,
               std::vector<FieldInfo> fields);

  // What one of this set's own writes did, for the subclass to keep its rows in step.
  struct WriteOutcome {
    bool added = false;      // AddNew (else Edit)
    bool external = false;   // another handle had changed the file since this one last read it
    uint64_t generation_before = 0;  // the pager's generation when the write began
    jet::RowId header;       // the written row's slot, as indexes name it
    jet::RowId home;         // where its bytes are now (header unless it moved)
    std::vector<uint16_t> changed_columns;  // by column number
  };

  // Brings the set's rows in line with the file before a move. Runs under a ReadLock.
  virtual jet::Status Sync() = 0;
  // Makes rows_[index] known when the set has a row there; false when it has fewer rows. Only
  // the moves of this class use it; a set that overrides them keeps no list.
  virtual jet::Result<bool> Reach(size_t index) = 0;
  virtual void AfterWrite(const WriteOutcome& outcome) = 0;
  // Reads the current row again after an Update (the position stays). Runs under a ReadLock.
  virtual jet::Status Reread() { return at_end_ ? jet::Status::Ok() : Settle(pos_, false); }
  // Drops what the subclass holds (cursors) when the set closes.
  virtual void Release() {}

  jet::Database& Db() { return session_->Db(); }
  // Throws kInvalid when the set was closed.
  void RequireOpen() const;

  // Puts the position on rows_[index], skipping rows that are gone (towards the end, or towards
  // the start when `backward`); at the end when none is left. Then reads up to `read_ahead` rows
  // after it. Runs under a ReadLock.
  jet::Status Settle(size_t index, bool backward, size_t read_ahead = 0);
  // Runs a move: takes the read lock, syncs, then `move`. Throws its error.
  template <typename Move>
  void Moving(Move move);

  // One row's values: as the engine read them (or the row's bytes, kept), and as Field gives
  // them. A field is converted when first asked for, as a list asks for some fields of a row and
  // not others. Rows pass from one holder to the next by swapping, so the room of their texts
  // serves the rows to come.
  struct LoadedRow {
    enum State : uint8_t {
      kRead = 0,   // converted from read[j] when asked for
      kShown = 1,  // shown[j] holds it
      kKept = 2,   // converted from the kept bytes when asked for
    };
    std::vector<jet::Value> read;
    std::vector<FieldValue> shown;
    std::vector<uint8_t> state;  // per field
    // With a field kKept: the row's bytes (QueryRecordset::TakeRow). Held apart, so that a swap
    // of rows swaps a pointer.
    std::unique_ptr<jet::KeptRow> kept;

    // Takes over `values`, none of them converted yet.
    void TakeRead(std::vector<jet::Value>& values) {
      read.swap(values);
      shown.resize(read.size());
      state.assign(read.size(), kRead);
    }
    void swap(LoadedRow& other) {
      read.swap(other.read);
      shown.swap(other.shown);
      state.swap(other.state);
      kept.swap(other.kept);
    }
  };
  // Values a source handed over with the row it just found (rows_[index]), so that the row is
  // not read twice.
  // Kept when empty (live false) so that the room of its texts serves the next row.
  struct HandedOver {
    bool live = false;
    size_t index = 0;
    uint64_t generation = 0;
    LoadedRow values;
  };
  // Rows read after the current one: rows_[first + i] has values[i]. Good while the pager's
  // generation and the file's change stamp are what they were when the rows were read.
  struct ReadAhead {
    size_t first = 0;
    std::vector<LoadedRow> values;
    jet::Database::ReadMark mark;
    bool Holds(size_t index) const { return index >= first && index - first < values.size(); }
  };
  // A walk reads ahead kWalkReadAhead rows at first and twice as many each time it comes back
  // for more, up to kMaxReadAhead: a set read a few rows at a time decodes little it never shows,
  // and a long walk takes the lock a handful of times.
  static constexpr size_t kWalkReadAhead = 32;
  static constexpr size_t kMaxReadAhead = 128;
  size_t read_ahead_ = kWalkReadAhead;
  size_t GrowingReadAhead() {
    // Under a hold of the read lock (Connection::HoldReads) taking it is free: rows are read as
    // the walk reaches them, and no more of them are kept at once than the current one.
    if (session_->db->holding_reads()) return 0;
    const size_t now = read_ahead_;
    read_ahead_ = std::min(read_ahead_ * 2, kMaxReadAhead);
    return now;
  }

  std::shared_ptr<DatabaseSession> session_;
  std::string table_;
  std::vector<jet::ColumnDef> columns_;
  std::vector<FieldInfo> fields_;
  RowReader reader_;

  std::vector<jet::RowId> rows_;  // the set's rows found so far, in order
  size_t pos_ = 0;                // the current row, when !at_end_
  bool at_end_ = true;
  size_t visited_ = 0;            // rows_[0..visited_) have been current
  HandedOver handed_over_;
  ReadAhead ahead_;
  std::optional<jet::Error> read_ahead_error_;  // met reading the row after the last one read ahead
  std::optional<jet::RowId> current_id_;  // the current row's place (what an edit writes to)
  bool closed_ = false;

  // Where the next MoveNext goes when the set's order changed under the current row (an edit of
  // this set moved it, or it is gone): the row that followed it before, or the end. Other moves
  // drop it.
  struct ResumePoint {
    bool at_end = false;
    jet::RowId row;
  };
  std::optional<ResumePoint> resume_;

  // Whether the row after the current one is yet to be found by the source, and a MoveNext would
  // simply take it: no resume point or error read ahead waits for the next move.
  bool NextIsUnfound() const { return !at_end_ && !resume_ && !read_ahead_error_ && pos_ + 1 == rows_.size(); }

  // Makes `values` (one per field) the current row's, which lives at `id`.
  // `values` are taken over (what they hold afterwards is unspecified, but their room is the
  // room of an earlier row's values, ready for reuse).
  void MakeCurrent(jet::RowId id, LoadedRow& values);
  void MakeCurrent(jet::RowId id, std::vector<jet::Value>& values);

 private:
  enum class Pending { kNone, kEdit, kAdd };

  size_t FieldIndex(const std::string& name) const;  // throws kNotFound
  size_t FindField(const std::string& name) const;   // the same, without remembering the order
  // A caller reading a row asks for the same fields in the same order row after row: the k-th
  // name asked for since the last move is looked for first where the k-th was found before.
  mutable std::vector<size_t> asked_order_;
  mutable size_t asked_since_move_ = 0;
  // The values of rows_[index], from what a source handed over or read now (into row_values_);
  // null when the row is gone.
  jet::Result<LoadedRow*> LoadValues(size_t index);
  jet::Status ReadAheadFrom(size_t index, size_t count);
  // MoveNext onto a row read ahead, without a lock; false when that cannot be done.
  bool MoveNextWithinReadAhead();
  // MoveNext under a hold of the read lock, when no resume point, edit or read-ahead is pending;
  // false when Settle must do it. Throws an error the source meets.
  bool MoveNextHolding();
  void DropRow(size_t index);
  jet::Status WritePending(WriteOutcome* outcome);

  // Whether field i of the current row reads as it was loaded: a row is current, no edit is
  // pending, and the set has such a field.
  bool AsLoaded(size_t i) const { return pending_ == Pending::kNone && !at_end_ && !closed_ && i < current_.state.size(); }
  // Converts current_'s field i from its kept bytes into shown (state kKept).
  void ConvertKept(size_t i) const;
  // Throws kDamaged: field i of the current row lies outside the row's bytes.
  [[noreturn]] void ThrowOutsideRow(size_t i) const;

  mutable LoadedRow current_;
  LoadedRow row_values_;  // what LoadValues found last
  Pending pending_ = Pending::kNone;
  std::vector<std::optional<jet::Value>> changes_;  // per field, what SetField gave
  std::vector<FieldValue> changes_shown_;  // the same, as Field reads them
  std::vector<FieldValue> added_;  // AddNew: the values a new row starts with
};

template <typename Move>
void JetRecordset::Moving(Move move) {
  RequireOpen();
  jet::Database& db = Db();
  pending_ = Pending::kNone;  // moving away abandons an unfinished Edit or AddNew
  jet::ReadLock scope(db);
  jet::Status status = scope.status();
  if (status.ok()) status = Sync();
  if (status.ok()) status = move();
  ThrowIfError(status);
}

}  // namespace velloran
