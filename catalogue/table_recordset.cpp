#include "catalogue/table_recordset.h"

#include <algorithm>

#include "catalogue/jet_values.h"
#include "jet/index_cursor.h"
#include "jet/sql_rows.h"
#include "jet/table_design.h"

namespace velloran {

std::unique_ptr<Recordset> TableRecordset::Open(std::shared_ptr<DatabaseSession> session, const std::string& table) {
  jet::Database& db = session->Db();
  // Inside this handle's own transaction the writer lock it sees is its own.
  if (!db.in_transaction()) ThrowIfError(db.CheckNoOtherWriter(kWriterWaitMs));
  jet::ReadScope scope(db.pager());
  ThrowIfError(scope.status());
  jet::TableDef def = ValueOrThrow(db.ReadTable(table));
  const TableProperties* properties = ValueOrThrow(session->PropertiesOf(def.name));
  std::vector<FieldInfo> fields;
  for (const jet::ColumnDef& column : def.columns) fields.push_back(DescribeField(column, db.version(), properties));
  std::unique_ptr<TableRecordset> set(new TableRecordset(session, def.name, def.columns, std::move(fields)));
  // Only the first row for now: the first move finds the rest, in whatever order SelectIndex
  // has chosen by then (rows_known_ stays false until it does).
  std::unique_ptr<jet::RowSource> scan = ValueOrThrow(jet::OpenScan(db.pager(), def));
  jet::LazyRow row(db.pager(), def);
  if (ValueOrThrow(scan->Next(&row))) set->rows_.push_back(row.id());
  ThrowIfError(set->Settle(0, false));
  return set;
}

jet::Result<size_t> TableRecordset::FindIndex(const jet::TableDef& def, const std::string& name,
                                              std::vector<uint16_t>* key_columns) {
  for (size_t i = 0; i < def.logical_indexes.size(); ++i) {
    const jet::LogicalIndex& logical = def.logical_indexes[i];
    if (!jet::SameObjectName(logical.name, name)) continue;
    if (logical.physical_index >= def.physical_indexes.size()) {
      return jet::Error(jet::ErrorCode::kCorrupt, "table \"" + def.name + "\": index \"" + logical.name + "\" has no B-tree");
    }
    if (key_columns != nullptr) {
      key_columns->clear();
      for (const jet::IndexColumn& c : def.physical_indexes[logical.physical_index].columns) key_columns->push_back(c.column_number);
    }
    return i;
  }
  return jet::Error(jet::ErrorCode::kNotFound, "table \"" + def.name + "\" has no index \"" + name + "\"");
}

// The places of every row in the set's order: a scan of the table's pages, or the entries of the
// index in key order (each names the slot that stands for its row), without reading the rows.
jet::Result<std::vector<jet::RowId>> TableRecordset::FindRows(const jet::TableDef& def) {
  jet::Pager& pager = Db().pager();
  std::vector<jet::RowId> rows;
  rows.reserve(rows_.size());
  if (index_name_.empty()) {
    JET_ASSIGN_OR_RETURN(std::unique_ptr<jet::RowSource> scan, jet::OpenScan(pager, def));
    jet::LazyRow row(pager, def);
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, scan->Next(&row));
      if (!more) break;
      rows.push_back(row.id());
    }
    return rows;
  }
  JET_ASSIGN_OR_RETURN(size_t index, FindIndex(def, index_name_, &index_columns_));
  jet::IndexCursor cursor(pager, def.page, def.physical_indexes[def.logical_indexes[index].physical_index]);
  cursor.BeforeFirst();
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor.Next());
    if (!more) break;
    rows.push_back(cursor.row());
  }
  return rows;
}

jet::Status TableRecordset::Rebuild() {
  jet::Database& db = Db();
  jet::Pager& pager = db.pager();
  JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table_));
  JET_ASSIGN_OR_RETURN(std::vector<jet::RowId> rows, FindRows(def));
  // Keep the current row current: a scan meets a row that moved at its new home, an index at the
  // slot that forwards there, so look for both.
  std::optional<size_t> position;
  if (!at_end_ && current_id_) {
    JET_ASSIGN_OR_RETURN(jet::RowId home, CurrentHome(pager, *current_id_));
    for (size_t i = 0; i < rows.size() && !position; ++i)
      if (rows[i] == *current_id_ || rows[i] == home) position = i;
  }
  rows_ = std::move(rows);
  handed_over_.reset();
  ahead_.values.clear();
  if (!at_end_ && !position) {
    // The current row is gone: the row that took its place shows meanwhile, and is also where
    // the walk goes on.
    pos_ = std::min(pos_, rows_.size());
    if (!resume_) resume_ = pos_ < rows_.size() ? ResumePoint{false, rows_[pos_]} : ResumePoint{true, jet::RowId{}};
    if (pos_ >= rows_.size()) at_end_ = true;
  } else if (!at_end_) {
    pos_ = *position;
  }
  visited_ = std::min(std::max(visited_, at_end_ ? size_t{0} : pos_ + 1), rows_.size());
  rows_generation_ = pager.generation();
  rows_known_ = true;
  return jet::Status::Ok();
}

jet::Status TableRecordset::Sync() {
  if (rows_known_ && rows_generation_ == Db().pager().generation()) return jet::Status::Ok();
  JET_RETURN_IF_ERROR(Rebuild());
  // The current row may have changed or gone: read it again.
  return at_end_ ? jet::Status::Ok() : Settle(pos_, false);
}

void TableRecordset::AfterWrite(const WriteOutcome& outcome) {
  bool key_changed = false;
  if (!outcome.added && !index_name_.empty()) {
    for (uint16_t column : outcome.changed_columns)
      if (std::find(index_columns_.begin(), index_columns_.end(), column) != index_columns_.end()) key_changed = true;
  }
  // The walk goes on with the row that followed the edited one before its key moved it (the
  // first of several edits without a move counts).
  if (key_changed && !resume_ && !at_end_) {
    resume_ = pos_ + 1 < rows_.size() ? ResumePoint{false, rows_[pos_ + 1]} : ResumePoint{true, jet::RowId{}};
  }
  // An edit that moved no row within the order leaves every place valid: the edited row is found
  // through the slot that forwards to it.
  const bool order_kept = !outcome.added && !outcome.external && !key_changed && rows_known_ &&
                          rows_generation_ == outcome.generation_before;
  if (order_kept) rows_generation_ = Db().pager().generation();
}

void TableRecordset::SelectIndex(const std::string& index_name) {
  RequireOpen();
  jet::Database& db = Db();
  {
    // A name the table does not have leaves the set as it was.
    jet::ReadScope scope(db.pager());
    ThrowIfError(scope.status());
    ThrowIfError(FindIndex(*ValueOrThrow(reader_.Def(db)), index_name, nullptr).status());
  }
  index_name_ = index_name;
  no_match_ = false;
  rows_known_ = false;  // the move's Sync finds the rows in the new order
  at_end_ = true;
  current_id_.reset();
  visited_ = 0;
  Moving([&]() -> jet::Status {
    resume_.reset();
    return Settle(0, false);
  });
}

void TableRecordset::SeekEqual(const FieldValue& key) {
  RequireOpen();
  if (index_name_.empty()) ThrowInvalid("SeekEqual on \"" + table_ + "\" needs an index: call SelectIndex first");
  Moving([&]() -> jet::Status {
    resume_.reset();
    jet::Database& db = Db();
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table_));
    JET_ASSIGN_OR_RETURN(size_t index, FindIndex(def, index_name_, nullptr));
    const jet::PhysicalIndex& physical = def.physical_indexes[def.logical_indexes[index].physical_index];
    const jet::ColumnDef* column = def.ColumnByNumber(physical.columns.front().column_number);
    no_match_ = true;
    at_end_ = true;
    current_id_.reset();
    if (column == nullptr || key.is_null()) return jet::Status::Ok();  // an empty key equals nothing
    JET_ASSIGN_OR_RETURN(jet::Value stored, ToColumnValue(key, *column));
    JET_ASSIGN_OR_RETURN(jet::Value literal, AsLiteral(stored, *column));
    jet::IndexWalk walk;
    walk.logical_index = index;
    walk.low = jet::IndexWalk::Bound{literal, true};
    walk.high = jet::IndexWalk::Bound{literal, true};
    JET_ASSIGN_OR_RETURN(std::unique_ptr<jet::RowSource> source, jet::OpenIndexWalk(db.pager(), def, walk));
    jet::LazyRow row(db.pager(), def);
    JET_ASSIGN_OR_RETURN(bool found, source->Next(&row));
    if (!found) return jet::Status::Ok();
    auto place = std::find(rows_.begin(), rows_.end(), row.id());
    if (place == rows_.end()) return jet::Status::Ok();
    JET_RETURN_IF_ERROR(Settle(static_cast<size_t>(place - rows_.begin()), false));
    no_match_ = at_end_;
    return jet::Status::Ok();
  });
}

}  // namespace velloran
