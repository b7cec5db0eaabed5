// A table set: every row of one table, in storage order or, after SelectIndex, in the order of
// one of its indexes (as its B-tree keeps them: in an ascending index, rows whose key is empty
// come first), with SeekEqual on the selected index.
//
// The set keeps no list of its rows: it walks a cursor over the order (jet::RowOrder) and
// remembers the place of its current row. When the file changed since the cursor was opened
// (another program's write, or one of the set's own), the next move opens a cursor on the file as
// it is now and seeks back to that place, so every move reads a root-to-leaf path of the index
// at most, whatever the size of the table. Going on from a place gives the walk its rules: the
// row after the current one is the first one placed after it; a row that is gone has no place,
// so the walk goes on with the row that took its place; and an Update that changes the current
// row's key leaves the walk's place where the row was, so MoveNext goes to the row that
// followed it before the change (the edited row itself, wherever it went, is not met again then).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "catalogue/jet_recordset.h"
#include "jet/database.h"

namespace velloran {

class TableRecordset final : public JetRecordset {
 public:
  // How long opening waits for another program's write to finish before reporting kInUse.
  static constexpr int kWriterWaitMs = 1000;

  // Opens the local table `table` (letter case ignored). kInUse while another program holds the
  // file for writing; kNotFound when there is no such table.
  static std::unique_ptr<Recordset> Open(std::shared_ptr<DatabaseSession> session, const std::string& table);
  // Open for a caller that has made the check for another program's write and holds a ReadLock.
  static std::unique_ptr<Recordset> OpenChecked(std::shared_ptr<DatabaseSession> session, const std::string& table);
  // The check Open makes first.
  static void CheckNoOtherWriter(jet::Database& db);

  int64_t RecordCount() override;
  void MoveFirst() override;
  void MoveNext() override;
  void MoveLast() override;

  void SelectIndex(const std::string& index_name) override;
  void SeekEqual(const FieldValue& key) override;
  bool NoMatch() const override { return no_match_; }

 protected:
  // Opens the order's cursor afresh when the file changed since it was opened.
  jet::Status Sync() override;
  jet::Result<bool> Reach(size_t) override { return false; }  // no list: the moves are the set's own
  void AfterWrite(const WriteOutcome& outcome) override;
  jet::Status Reread() override;
  void Release() override { order_.reset(); }

 private:
  using JetRecordset::JetRecordset;

  // Where the walk goes from the order's current row: settles on it or, when it cannot be read,
  // on the next one in `forward` direction. `skip` is a row not to stop on.
  jet::Status SettleFrom(bool on_row, bool forward, std::optional<jet::RowId> skip = std::nullopt);
  void LeaveAtEnd();
  // The first row of the order (the set's first move, MoveFirst and SelectIndex).
  jet::Status GoFirst();
  // The first row of the selected index whose key equals `key`, as an index walk finds it, and
  // that value as the index's first column stores it.
  jet::Result<std::optional<jet::RowId>> FirstEqual(const FieldValue& key, jet::Value* stored);
  // The position in `def` of the logical index `name` (kNotFound when there is none).
  static jet::Result<size_t> FindIndex(const jet::TableDef& def, const std::string& name);

  std::string index_name_;  // empty: storage order
  std::unique_ptr<jet::RowOrder> order_;
  uint64_t order_generation_ = 0;  // the pager's generation order_ was opened at
  // The current row's place in the order as the walk last saw it (kept through the set's own
  // Update, which may move the row elsewhere).
  jet::OrderPlace place_;
  bool order_at_place_ = false;  // order_ stands on place_, so MoveNext can step on
  // How many rows from the first the current one is, while a walk from the first row knows it.
  std::optional<size_t> ordinal_;
  // Storage order: where rows this set's edits moved now live (met again later in the walk, they
  // are passed over so that a walk meets each row once).
  std::unordered_set<uint64_t> moved_by_edits_;
  bool no_match_ = false;
};

}  // namespace velloran
