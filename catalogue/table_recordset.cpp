#include "catalogue/table_recordset.h"

#include <algorithm>

#include "catalogue/jet_values.h"
#include "jet/sql/sql_rows.h"

namespace velloran {

void TableRecordset::CheckNoOtherWriter(jet::Database& db) {
  // Inside this handle's own transaction the writer lock it sees is its own.
  if (!db.in_transaction()) ThrowIfError(db.CheckNoOtherWriter(kWriterWaitMs));
}

std::unique_ptr<Recordset> TableRecordset::Open(std::shared_ptr<DatabaseSession> session, const std::string& table) {
  jet::Database& db = session->Db();
  CheckNoOtherWriter(db);  // before the read lock, which would keep that writer from finishing
  jet::ReadLock scope(db);
  ThrowIfError(scope.status());
  return OpenChecked(std::move(session), table);
}

std::unique_ptr<Recordset> TableRecordset::OpenChecked(std::shared_ptr<DatabaseSession> session, const std::string& table) {
  jet::Database& db = session->Db();
  jet::TableDef def = ValueOrThrow(db.ReadTable(table));
  const TableProperties* properties = ValueOrThrow(db.ColumnPropertiesOf(def.name));
  std::vector<FieldInfo> fields;
  for (const jet::ColumnDef& column : def.columns) fields.push_back(DescribeField(column, db.version(), properties));
  std::unique_ptr<TableRecordset> set(new TableRecordset(session, def.name, def.columns, std::move(fields)));
  ThrowIfError(set->Sync());
  ThrowIfError(set->GoFirst());
  return set;
}

jet::Result<size_t> TableRecordset::FindIndex(const jet::TableDef& def, const std::string& name) {
  for (size_t i = 0; i < def.logical_indexes.size(); ++i) {
    const jet::LogicalIndex& logical = def.logical_indexes[i];
    if (!jet::SameObjectName(logical.name, name)) continue;
    if (logical.physical_index >= def.physical_indexes.size()) {
      return jet::Error(jet::ErrorCode::kCorrupt, "table \"" + def.name + "\": index \"" + logical.name + "\" has no B-tree");
    }
    return i;
  }
  return jet::Error(jet::ErrorCode::kNotFound, "table \"" + def.name + "\" has no index \"" + name + "\"");
}

jet::Status TableRecordset::Sync() {
  jet::Database& db = Db();
  if (order_ != nullptr && order_generation_ == db.generation()) return jet::Status::Ok();
  // Read the definition as the file is now: inside a transaction a write to pages the
  // transaction already changed leaves the pager's generation as it was, so a definition kept by
  // generation could name an index root the write has replaced.
  JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table_));
  std::unique_ptr<jet::RowOrder> order;
  if (index_name_.empty()) {
    JET_ASSIGN_OR_RETURN(order, db.OpenStorageOrder(def));
  } else {
    JET_ASSIGN_OR_RETURN(size_t index, FindIndex(def, index_name_));
    JET_ASSIGN_OR_RETURN(order, db.OpenIndexOrder(def, index));
  }
  order_ = std::move(order);
  order_generation_ = db.generation();
  order_at_place_ = false;
  return jet::Status::Ok();
}

void TableRecordset::LeaveAtEnd() {
  at_end_ = true;
  current_id_.reset();
  order_at_place_ = false;
  ordinal_.reset();
}

jet::Status TableRecordset::SettleFrom(bool on_row, bool forward, std::optional<jet::RowId> skip) {
  jet::Database& db = Db();
  while (on_row) {
    jet::OrderPlace place = order_->place();
    const bool pass = (skip && place.row == *skip) ||
                      (index_name_.empty() && moved_by_edits_.count(PackRowId(place.row)) != 0);
    if (!pass) {
      // An order opened on the file as it is names live rows; a row that cannot be read is
      // passed over like one that is gone.
      JET_ASSIGN_OR_RETURN(std::optional<std::vector<jet::Value>> values, reader_.Read(db, place.row));
      if (values) {
        MakeCurrent(place.row, *values);
        place_ = std::move(place);
        order_at_place_ = true;
        at_end_ = false;
        return jet::Status::Ok();
      }
    }
    JET_ASSIGN_OR_RETURN(on_row, forward ? order_->Next() : order_->Prev());
  }
  LeaveAtEnd();
  return jet::Status::Ok();
}

jet::Status TableRecordset::GoFirst() {
  resume_.reset();
  moved_by_edits_.clear();  // a new walk meets moved rows where they are now
  JET_ASSIGN_OR_RETURN(bool on, order_->First());
  JET_RETURN_IF_ERROR(SettleFrom(on, true));
  if (!at_end_) {
    ordinal_ = 1;
    visited_ = std::max<size_t>(visited_, 1);
  }
  return jet::Status::Ok();
}

void TableRecordset::MoveFirst() {
  Moving([&] { return GoFirst(); });
}

void TableRecordset::MoveNext() {
  Moving([&]() -> jet::Status {
    if (at_end_) return jet::Status::Ok();
    bool on = false;
    if (order_at_place_) {
      JET_ASSIGN_OR_RETURN(on, order_->Next());
    } else {
      // The file changed: find the place again. A row placed there now is the current row (its
      // key unchanged); otherwise the current row is gone or moved, and what follows is next.
      JET_ASSIGN_OR_RETURN(on, order_->SeekAtOrAfter(place_));
      if (on && order_->place() == place_) {
        JET_ASSIGN_OR_RETURN(on, order_->Next());
      }
    }
    const std::optional<size_t> ordinal = ordinal_;
    // The current row may have moved ahead of its old place (an edit of its key): it is not met
    // again now.
    JET_RETURN_IF_ERROR(SettleFrom(on, true, current_id_));
    if (!at_end_ && ordinal) {
      ordinal_ = *ordinal + 1;
      visited_ = std::max(visited_, *ordinal_);
    }
    return jet::Status::Ok();
  });
}

void TableRecordset::MoveLast() {
  Moving([&]() -> jet::Status {
    resume_.reset();
    moved_by_edits_.clear();
    JET_ASSIGN_OR_RETURN(bool on, order_->Last());
    JET_RETURN_IF_ERROR(SettleFrom(on, false));
    if (at_end_) return jet::Status::Ok();
    // Every write keeps the definition's row count, so the last row's number is known without
    // counting the rows before it.
    JET_ASSIGN_OR_RETURN(jet::TableDef def, Db().ReadTable(table_));
    ordinal_ = std::max<size_t>(def.row_count, 1);
    visited_ = *ordinal_;
    return jet::Status::Ok();
  });
}

int64_t TableRecordset::RecordCount() {
  RequireOpen();
  if (visited_ > 0) return static_cast<int64_t>(visited_);
  // None visited (the set was empty until an AddNew, say): whether it has a row now. Reading
  // leaves the position and a pending Edit or AddNew as they are.
  jet::Database& db = Db();
  jet::ReadLock scope(db);
  ThrowIfError(scope.status());
  ThrowIfError(Sync());
  order_at_place_ = false;
  return ValueOrThrow(order_->First()) ? 1 : 0;
}

void TableRecordset::AfterWrite(const WriteOutcome& outcome) {
  // The order's cursor read pages this write changed. The pager's generation does not always
  // say so (see Sync), so the next move opens a new cursor and finds its place again.
  order_.reset();
  order_at_place_ = false;
  // In storage order an edit that grew the row may have moved its bytes further on, where the
  // walk would meet it a second time.
  if (!outcome.added && index_name_.empty() && !at_end_ && !(outcome.home == place_.row)) {
    moved_by_edits_.insert(PackRowId(outcome.home));
  }
}

jet::Status TableRecordset::Reread() {
  if (at_end_) return jet::Status::Ok();
  JET_ASSIGN_OR_RETURN(std::optional<std::vector<jet::Value>> values, reader_.Read(Db(), *current_id_));
  if (values) {
    MakeCurrent(*current_id_, *values);
    return jet::Status::Ok();
  }
  // The row went with the write (another program's, which this one waited for): show the row
  // that took its place.
  JET_ASSIGN_OR_RETURN(bool on, order_->SeekAtOrAfter(place_));
  const std::optional<size_t> ordinal = ordinal_;
  JET_RETURN_IF_ERROR(SettleFrom(on, true));
  if (!at_end_) ordinal_ = ordinal;
  return jet::Status::Ok();
}

void TableRecordset::SelectIndex(const std::string& index_name) {
  RequireOpen();
  jet::Database& db = Db();
  {
    // A name the table does not have leaves the set as it was.
    jet::ReadLock scope(db);
    ThrowIfError(scope.status());
    ThrowIfError(FindIndex(*ValueOrThrow(reader_.Def(db)), index_name).status());
  }
  index_name_ = index_name;
  no_match_ = false;
  order_.reset();  // the move's Sync opens the new order
  LeaveAtEnd();
  visited_ = 0;
  Moving([&] { return GoFirst(); });
}

jet::Result<std::optional<jet::RowId>> TableRecordset::FirstEqual(const FieldValue& key, jet::Value* stored) {
  using Found = std::optional<jet::RowId>;
  jet::Database& db = Db();
  JET_ASSIGN_OR_RETURN(const jet::TableDef def, db.ReadTable(table_));  // as Sync reads it
  JET_ASSIGN_OR_RETURN(size_t index, FindIndex(def, index_name_));
  const jet::PhysicalIndex& physical = def.physical_indexes[def.logical_indexes[index].physical_index];
  if (physical.columns.empty()) return Found();
  const jet::ColumnDef* column = def.ColumnByNumber(physical.columns.front().column_number);
  if (column == nullptr || key.is_null()) return Found();  // an empty key equals nothing
  JET_ASSIGN_OR_RETURN(*stored, ToColumnValue(key, *column));
  JET_ASSIGN_OR_RETURN(jet::Value literal, AsLiteral(*stored, *column));
  // The walk decides which rows equal the key (texts regardless of letter case).
  jet::IndexWalk walk;
  walk.logical_index = index;
  walk.low = jet::IndexWalk::Bound{literal, true};
  walk.high = jet::IndexWalk::Bound{literal, true};
  JET_ASSIGN_OR_RETURN(std::unique_ptr<jet::RowSource> source, jet::OpenIndexWalk(db.pager(), def, walk));
  jet::LazyRow row(db.pager(), def);
  JET_ASSIGN_OR_RETURN(bool found, source->Next(&row));
  if (!found) return Found();
  return Found(row.id());
}

void TableRecordset::SeekEqual(const FieldValue& key) {
  RequireOpen();
  if (index_name_.empty()) ThrowInvalid("SeekEqual on \"" + table_ + "\" needs an index: call SelectIndex first");
  Moving([&]() -> jet::Status {
    resume_.reset();
    moved_by_edits_.clear();
    no_match_ = true;
    LeaveAtEnd();
    jet::Value stored;
    JET_ASSIGN_OR_RETURN(std::optional<jet::RowId> target, FirstEqual(key, &stored));
    if (!target) return jet::Status::Ok();
    // The walk began at the first entry whose key starts with the value's key part: put the
    // order there, and step on to the row the walk found should they differ.
    JET_ASSIGN_OR_RETURN(bool on, order_->SeekValueAtOrAfter(stored));
    while (on && !(order_->place().row == *target)) {
      JET_ASSIGN_OR_RETURN(on, order_->Next());
    }
    if (!on) return jet::Status::Ok();
    JET_RETURN_IF_ERROR(SettleFrom(true, true));
    no_match_ = at_end_;
    if (!at_end_) visited_ = std::max<size_t>(visited_, 1);
    return jet::Status::Ok();
  });
}

}  // namespace velloran
