#include "catalogue/jet_recordset.h"

#include <algorithm>

#include "catalogue/jet_values.h"
#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/sql/sql_rows.h"
#include "jet/schema/table_design.h"
#include "jet/row_writer.h"

namespace velloran {

// ---- Session and row reading -------------------------------------------------------------------

jet::Database& DatabaseSession::Db() {
  if (closed || db == nullptr) ThrowInvalid("the database connection was closed; open the database again");
  return *db;
}

jet::Result<const TableProperties*> DatabaseSession::PropertiesOf(const std::string& table) {
  jet::Pager& pager = Db().pager();
  if (!properties_known || properties_generation != pager.generation()) {
    using Properties = std::map<std::string, TableProperties>;
    properties = pager.SharedDecoded<Properties>("column properties");
    if (properties == nullptr) {
      JET_ASSIGN_OR_RETURN(Properties read, ReadTableProperties(pager));
      properties = std::make_shared<const Properties>(std::move(read));
      pager.ShareDecoded("column properties", properties);
    }
    properties_generation = pager.generation();
    properties_known = true;
  }
  for (const auto& [name, columns] : *properties)
    if (jet::SameObjectName(name, table)) return &columns;
  return static_cast<const TableProperties*>(nullptr);
}

jet::Result<const jet::TableDef*> RowReader::Def(jet::Database& db) {
  if (known_ && generation_ == db.pager().generation()) return &def_;
  JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table_));
  std::vector<size_t> positions;
  for (const jet::ColumnDef& wanted : columns_) {
    const jet::ColumnDef* column = def.ColumnByNumber(wanted.number);
    if (column == nullptr || !jet::SameObjectName(column->name, wanted.name)) {
      return jet::Error(jet::ErrorCode::kNotFound, db.path() + ": table \"" + def.name + "\" no longer has the field \"" +
                                                       wanted.name + "\"; open the record set again");
    }
    positions.push_back(static_cast<size_t>(column - def.columns.data()));
  }
  def_ = std::move(def);
  positions_ = std::move(positions);
  generation_ = db.pager().generation();
  known_ = true;
  return &def_;
}

jet::Result<std::optional<std::vector<jet::Value>>> RowReader::Read(jet::Database& db, jet::RowId id) {
  using Found = std::optional<std::vector<jet::Value>>;
  JET_ASSIGN_OR_RETURN(const jet::TableDef* def, Def(db));
  jet::Pager& pager = db.pager();
  // The place may have been given up since it was found: it then holds no row of this table.
  if (id.page >= pager.page_count()) return Found();
  JET_ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(id.page));
  if (page[0] != jet::kPageData || jet::Get32(page + 4) != def->page) return Found();
  if (id.row >= jet::DataPageRowCount(pager.format(), page)) return Found();
  JET_ASSIGN_OR_RETURN(jet::RowSlot slot, jet::ReadRowFollowingOverflow(pager, id.page, id.row));
  if (slot.deleted()) return Found();
  jet::LazyRow row(pager, *def);
  JET_RETURN_IF_ERROR(row.Load(id, slot));
  std::vector<jet::Value> values;
  values.reserve(positions_.size());
  for (size_t position : positions_) {
    JET_ASSIGN_OR_RETURN(jet::Value value, row.Take(position));
    values.push_back(std::move(value));
  }
  return Found(std::move(values));
}

jet::Result<jet::RowId> CurrentHome(jet::Pager& pager, jet::RowId id) {
  for (int hops = 0; hops < 16; ++hops) {
    JET_ASSIGN_OR_RETURN(jet::RowSlot slot, jet::ReadRowSlot(pager, id.page, id.row));
    if (!slot.forwarding()) return id;
    JET_ASSIGN_OR_RETURN(uint32_t pointer, jet::ForwardingPointer(pager, id.page, slot));
    id = jet::RowId{jet::RowPointerPage(pointer), jet::RowPointerRow(pointer)};
  }
  return pager.Corrupt(id.page, "the forwarding pointers of row " + std::to_string(id.row) + " form a cycle");
}

// ---- Position ----------------------------------------------------------------------------------

JetRecordset::JetRecordset(std::shared_ptr<DatabaseSession> session, std::string table, std::vector<jet::ColumnDef> columns,
                           std::vector<FieldInfo> fields)
    : session_(std::move(session)), table_(std::move(table)), columns_(std::move(columns)), fields_(std::move(fields)),
      reader_(table_, columns_) {}

void JetRecordset::RequireOpen() const {
  if (closed_) ThrowInvalid("the record set of \"" + table_ + "\" was closed");
}

// A set that gained its first row through AddNew has a row though none was visited yet.
int64_t JetRecordset::RecordCount() {
  RequireOpen();
  return static_cast<int64_t>(std::max(visited_, rows_.empty() ? size_t{0} : size_t{1}));
}

void JetRecordset::MoveFirst() {
  Moving([&] {
    resume_.reset();
    read_ahead_ = kWalkReadAhead;
    return Settle(0, false, GrowingReadAhead());
  });
}

void JetRecordset::MoveNext() {
  RequireOpen();
  if (!resume_ && MoveNextWithinReadAhead()) return;
  Moving([&]() -> jet::Status {
    const std::optional<ResumePoint> resume = resume_;  // as Sync left it
    resume_.reset();
    if (at_end_) return jet::Status::Ok();
    if (read_ahead_error_) {
      // Reading ahead met it on the row after the current one: report it now, when the walk
      // gets there, with the position where it was.
      jet::Error error = std::move(*read_ahead_error_);
      read_ahead_error_.reset();
      return error;
    }
    if (resume && resume->at_end) {
      at_end_ = true;
      current_id_.reset();
      ahead_.values.clear();
      visited_ = std::max(visited_, rows_.size());
      return jet::Status::Ok();
    }
    if (resume) {
      auto next = std::find(rows_.begin(), rows_.end(), resume->row);
      if (next != rows_.end()) return Settle(static_cast<size_t>(next - rows_.begin()), false, GrowingReadAhead());
      // The row that followed is gone: go on from the current row's new place.
    }
    return Settle(pos_ + 1, false, GrowingReadAhead());
  });
}

void JetRecordset::MoveLast() {
  Moving([&]() -> jet::Status {
    resume_.reset();
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, Reach(rows_.size()));
      if (!more) break;
    }
    if (rows_.empty()) {
      at_end_ = true;
      return jet::Status::Ok();
    }
    return Settle(rows_.size() - 1, true);
  });
}

bool JetRecordset::MoveNextWithinReadAhead() {
  if (at_end_ || pending_ != Pending::kNone || !ahead_.Holds(pos_ + 1)) return false;
  jet::Database& db = Db();
  if (!db.StillCurrent(ahead_.mark)) return false;  // the locked path reports errors
  ++pos_;
  MakeCurrent(rows_[pos_], ahead_.values[pos_ - ahead_.first]);
  visited_ = std::max(visited_, pos_ + 1);
  return true;
}

jet::Status JetRecordset::Settle(size_t index, bool backward, size_t read_ahead) {
  ahead_.values.clear();
  read_ahead_error_.reset();
  while (true) {
    JET_ASSIGN_OR_RETURN(bool there, Reach(index));
    if (!there) {
      at_end_ = true;
      current_id_.reset();
      return jet::Status::Ok();
    }
    JET_ASSIGN_OR_RETURN(bool found, LoadValues(index));
    if (found) {
      pos_ = index;
      MakeCurrent(rows_[index], row_values_);
      at_end_ = false;
      visited_ = std::max(visited_, pos_ + 1);
      return read_ahead == 0 ? jet::Status::Ok() : ReadAheadFrom(pos_ + 1, read_ahead);
    }
    DropRow(index);
    if (backward) {
      if (rows_.empty()) {
        at_end_ = true;
        current_id_.reset();
        return jet::Status::Ok();
      }
      index = std::min(index, rows_.size()) - 1;
    }
  }
}

jet::Result<bool> JetRecordset::LoadValues(size_t index) {
  jet::Database& db = Db();
  if (handed_over_.live && handed_over_.index == index && handed_over_.generation == db.pager().generation()) {
    row_values_.swap(handed_over_.values);  // both keep their room for the rows to come
    handed_over_.live = false;
    return true;
  }
  JET_ASSIGN_OR_RETURN(std::optional<std::vector<jet::Value>> values, reader_.Read(db, rows_[index]));
  if (!values) return false;
  row_values_ = std::move(*values);
  return true;
}

void JetRecordset::MakeCurrent(jet::RowId id, std::vector<jet::Value>& values) {
  asked_since_move_ = 0;
  current_read_.swap(values);
  current_.resize(current_read_.size());
  converted_.assign(current_read_.size(), 0);
  current_id_ = id;
}

// Stops at the first row that is gone: the locked path drops it when the walk gets there.
jet::Status JetRecordset::ReadAheadFrom(size_t index, size_t count) {
  jet::Database& db = Db();
  ahead_.values.clear();
  ahead_.first = index;
  ahead_.mark = db.Mark();  // under the read lock: the stamp the pages were read at
  read_ahead_error_.reset();
  for (size_t i = index; i < index + count; ++i) {
    jet::Result<bool> there = Reach(i);
    if (!there.ok()) {
      read_ahead_error_ = there.error();  // the move that has got there already stands
      break;
    }
    if (!there.value()) break;
    jet::Result<bool> found = LoadValues(i);
    if (!found.ok()) {
      read_ahead_error_ = found.error();
      break;
    }
    if (!found.value()) break;
    ahead_.values.push_back(std::move(row_values_));
  }
  return jet::Status::Ok();
}

void JetRecordset::DropRow(size_t index) {
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  if (visited_ > index) --visited_;
  if (handed_over_.live && handed_over_.index == index) handed_over_.live = false;
  if (handed_over_.live && handed_over_.index > index) --handed_over_.index;
  ahead_.values.clear();
}

// ---- Fields and editing ------------------------------------------------------------------------

namespace {

// Field names are short: a loop beats calling memcmp.
bool SameBytes(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

size_t JetRecordset::FieldIndex(const std::string& name) const {
  const size_t k = asked_since_move_++;
  if (k < asked_order_.size() && SameBytes(fields_[asked_order_[k]].name, name)) return asked_order_[k];
  size_t found = fields_.size();
  for (size_t i = 0; i < fields_.size() && found == fields_.size(); ++i)
    if (fields_[i].name == name) found = i;
  for (size_t i = 0; i < fields_.size() && found == fields_.size(); ++i)
    if (jet::SameObjectName(fields_[i].name, name)) found = i;
  if (found == fields_.size()) {
    throw EngineError(EngineError::Kind::kNotFound, "the record set of \"" + table_ + "\" has no field \"" + name + "\"");
  }
  if (k < asked_order_.size()) asked_order_[k] = found;
  else if (k == asked_order_.size() && k < 64) asked_order_.push_back(found);
  return found;
}

const FieldValue& JetRecordset::Field(const std::string& name) const {
  RequireOpen();
  const size_t i = FieldIndex(name);
  if (pending_ != Pending::kNone && changes_[i]) return changes_shown_[i];
  if (pending_ == Pending::kAdd) return added_[i];
  if (at_end_) {
    ThrowInvalid("field \"" + fields_[i].name + "\" of \"" + table_ + "\" has no value: there is no current row (the set is at its end)");
  }
  if (!converted_[i]) {
    AssignFromJetValue(current_read_[i], &current_[i]);
    converted_[i] = 1;
  }
  return current_[i];
}

void JetRecordset::SetField(const std::string& name, const FieldValue& value) {
  RequireOpen();
  const size_t i = FieldIndex(name);
  if (pending_ == Pending::kNone) {
    ThrowInvalid("field \"" + fields_[i].name + "\" of \"" + table_ + "\" can only be set after Edit or AddNew");
  }
  changes_[i] = ValueOrThrow(ToColumnValue(value, columns_[i]));
  changes_shown_[i] = FromJetValue(*changes_[i]);
}

void JetRecordset::Edit() {
  RequireOpen();
  if (at_end_) ThrowInvalid("Edit needs a current row, and the record set of \"" + table_ + "\" is at its end");
  pending_ = Pending::kEdit;
  changes_.assign(fields_.size(), std::nullopt);
  changes_shown_.assign(fields_.size(), FieldValue());
}

void JetRecordset::AddNew() {
  RequireOpen();
  jet::Database& db = Db();
  jet::ReadScope scope(db.pager());
  ThrowIfError(scope.status());
  const jet::TableDef* def = ValueOrThrow(reader_.Def(db));
  added_.assign(fields_.size(), FieldValue());
  for (size_t i = 0; i < columns_.size(); ++i) {
    // The number the writer will give the row, unless another program adds one first.
    if (columns_[i].autonumber() && columns_[i].type == jet::ColumnType::kLong) {
      added_[i] = FieldValue(static_cast<int64_t>(def->next_autonumber) + 1);
    }
  }
  pending_ = Pending::kAdd;
  changes_.assign(fields_.size(), std::nullopt);
  changes_shown_.assign(fields_.size(), FieldValue());
}

void JetRecordset::Update() {
  RequireOpen();
  if (pending_ == Pending::kNone) ThrowInvalid("Update of \"" + table_ + "\" without Edit or AddNew: there is nothing to write");
  const bool changed = std::any_of(changes_.begin(), changes_.end(), [](const auto& c) { return c.has_value(); });
  if (pending_ == Pending::kEdit && !changed) {
    pending_ = Pending::kNone;
    return;
  }
  WriteOutcome outcome;
  ThrowIfError(WritePending(&outcome));  // a failed write leaves the pending row as it was
  pending_ = Pending::kNone;
  if (!outcome.added && !at_end_) {
    // The slot that keeps standing for the row wherever it moves.
    if (pos_ < rows_.size()) rows_[pos_] = outcome.header;
    current_id_ = outcome.header;
  }
  AfterWrite(outcome);
  Moving([&] { return Reread(); });
}

jet::Status JetRecordset::WritePending(WriteOutcome* outcome) {
  jet::Database& db = Db();
  jet::Pager& pager = db.pager();
  outcome->added = pending_ == Pending::kAdd;
  outcome->generation_before = pager.generation();
  for (size_t i = 0; i < columns_.size(); ++i)
    if (changes_[i]) outcome->changed_columns.push_back(columns_[i].number);
  return db.Write([&]() -> jet::Status {
    outcome->external = pager.generation() != outcome->generation_before;  // the write began by re-reading the file
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table_));
    std::vector<size_t> positions;
    for (const jet::ColumnDef& wanted : columns_) {
      const jet::ColumnDef* column = def.ColumnByNumber(wanted.number);
      if (column == nullptr) {
        return jet::Error(jet::ErrorCode::kNotFound, db.path() + ": table \"" + def.name + "\" no longer has the field \"" +
                                                         wanted.name + "\"; open the record set again");
      }
      positions.push_back(static_cast<size_t>(column - def.columns.data()));
    }
    JET_ASSIGN_OR_RETURN(std::unique_ptr<jet::RowWriter> writer, jet::RowWriter::Open(pager, def));
    if (outcome->added) {
      std::vector<jet::Value> values(def.columns.size(), jet::Value(jet::Null{}));
      for (size_t i = 0; i < positions.size(); ++i)
        if (changes_[i]) values[positions[i]] = *changes_[i];
      JET_ASSIGN_OR_RETURN(outcome->header, writer->Insert(std::move(values)));
    } else {
      JET_ASSIGN_OR_RETURN(outcome->header, writer->HeaderOf(*current_id_));
      JET_ASSIGN_OR_RETURN(std::vector<jet::Value> values, writer->Read(outcome->header));
      for (size_t i = 0; i < positions.size(); ++i)
        if (changes_[i]) values[positions[i]] = *changes_[i];
      JET_RETURN_IF_ERROR(writer->Update(outcome->header, std::move(values)));
    }
    JET_ASSIGN_OR_RETURN(outcome->home, CurrentHome(pager, outcome->header));
    return jet::Status::Ok();
  });
}

void JetRecordset::Close() {
  if (closed_) return;
  Release();
  closed_ = true;
  pending_ = Pending::kNone;
  resume_.reset();
  rows_.clear();
  current_.clear();
  current_read_.clear();
  converted_.clear();
  handed_over_ = HandedOver{};
  ahead_.values.clear();
  at_end_ = true;
  session_.reset();
}

}  // namespace velloran
